// A numeric edit with up and down arrows whose value is whatever its text says.
//
// Unlike QSpinBox it never rewrites what the user is typing: the value read is the text as a
// decimal integer, not limited to the range until the field loses the focus (a number beyond
// 32 bits reads as the range limit on its side, any other text as the minimum). Blanks and line
// breaks around a pasted number are dropped at once. On leaving, the field shows the value the
// next read gives, limited to the range; only a cleared field stays empty. Setting the value or
// stepping limits it to the range. Every change of the text, typed, stepped or set, raises
// changed().
#pragma once

#include <QAbstractSpinBox>

#include <cstdint>
#include <optional>

class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
    Q_PROPERTY(int minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(int maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int value READ value WRITE setValue NOTIFY changed USER true)

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    // The text read as ReadText() reads it for this field's range. Not limited to the range.
    std::int32_t value() const;
    // Writes `value` limited to [minimum, maximum] as the text.
    void setValue(std::int32_t value);

    // A maximum below the minimum is raised to it. The text is left as it stands.
    void setRange(std::int32_t minimum, std::int32_t maximum);
    void setMinimum(std::int32_t minimum);
    void setMaximum(std::int32_t maximum);
    std::int32_t minimum() const { return FMinimum; }
    std::int32_t maximum() const { return FMaximum; }

    // `text` as a decimal integer: an optional sign and ASCII digits, nothing else. A magnitude
    // beyond 32 bits is given as +-2^32, which is all a reader needs to know of it.
    // std::nullopt when the text is not such a number.
    static std::optional<std::int64_t> ParseDecimal(const QString& text);

    // The value of `text` in a field of range [minimum, maximum]: a decimal integer that fits in
    // 32 bits is itself, not limited to the range; one beyond 32 bits is the maximum when
    // positive and the minimum when negative; any other text (empty, a lone sign) the minimum.
    static std::int32_t ReadText(const QString& text, std::int32_t minimum, std::int32_t maximum);

    void stepBy(int steps) override;

    // The edit that holds the text, for callers that type or paste into it directly.
    using QAbstractSpinBox::lineEdit;

signals:
    // Raised on every change of the text.
    void changed();

protected:
    // Drops blanks and line breaks around the text, as a pasted spreadsheet cell brings them.
    // Never refuses a text: what the user typed stays until the field is left.
    QValidator::State validate(QString& input, int& pos) const override;
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::int32_t Limit(std::int64_t value) const;
    bool IsAcceptedCharacter(QChar c) const;

    std::int32_t FMinimum = 0;
    std::int32_t FMaximum = 100;
};
