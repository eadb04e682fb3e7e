// A numeric edit with up and down arrows whose value is whatever its text says.
//
// Unlike QSpinBox it never rewrites what the user is typing: the value read is the text as a
// decimal 32-bit integer (or the minimum when the text is not one) and is not limited to the
// range until the field loses the focus. Setting the value or stepping limits it to the range.
// Every change of the text, typed, stepped or set, raises changed().
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

    // The text as a decimal integer (optional sign, digits only) that fits in 32 bits;
    // otherwise the minimum. Not limited to the range.
    std::int32_t value() const;
    // Writes `value` limited to [minimum, maximum] as the text.
    void setValue(std::int32_t value);

    // A maximum below the minimum is raised to it. The text is left as it stands.
    void setRange(std::int32_t minimum, std::int32_t maximum);
    void setMinimum(std::int32_t minimum);
    void setMaximum(std::int32_t maximum);
    std::int32_t minimum() const { return FMinimum; }
    std::int32_t maximum() const { return FMaximum; }

    // Parses `text` as the field reads it; std::nullopt when it is not a decimal int32.
    static std::optional<std::int32_t> ParseValue(const QString& text);

    void stepBy(int steps) override;

    // The edit that holds the text, for callers that type or paste into it directly.
    using QAbstractSpinBox::lineEdit;

signals:
    // Raised on every change of the text.
    void changed();

protected:
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
