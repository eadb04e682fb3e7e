#include "window/spinedit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QWheelEvent>

#include <algorithm>
#include <limits>

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    // Stepping is done by stepBy() alone; the base class's own acceleration stays off.
    setAccelerated(false);
    setKeyboardTracking(true);
    connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::changed);
}

std::optional<std::int64_t> TSpinEdit::ParseDecimal(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    constexpr std::int64_t cap = std::int64_t{1} << 32; // beyond any 32-bit value
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        magnitude = std::min(cap, magnitude * 10 + (c - u'0'));
    }
    return negative ? -magnitude : magnitude;
}

std::int32_t TSpinEdit::ReadText(const QString& text, std::int32_t minimum,
                                 std::int32_t maximum) {
    const std::optional<std::int64_t> number = ParseDecimal(text);
    if (!number) {
        return minimum;
    }
    if (*number > std::numeric_limits<std::int32_t>::max()) {
        return maximum;
    }
    if (*number < std::numeric_limits<std::int32_t>::min()) {
        return minimum;
    }
    return static_cast<std::int32_t>(*number);
}

std::int32_t TSpinEdit::value() const {
    return ReadText(lineEdit()->text(), FMinimum, FMaximum);
}

QValidator::State TSpinEdit::validate(QString& input, int& pos) const {
    const QString trimmed = input.trimmed();
    if (trimmed.size() != input.size()) {
        qsizetype leading = 0;
        while (leading < input.size() && input[leading].isSpace()) {
            ++leading;
        }
        pos = static_cast<int>(std::clamp<qsizetype>(pos - leading, 0, trimmed.size()));
        input = trimmed;
    }
    return QValidator::Acceptable;
}

std::int32_t TSpinEdit::Limit(std::int64_t value) const {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, FMinimum, FMaximum));
}

void TSpinEdit::setValue(std::int32_t value) {
    // QLineEdit raises textChanged only when the text really changes.
    lineEdit()->setText(QString::number(Limit(value)));
}

void TSpinEdit::setRange(std::int32_t minimum, std::int32_t maximum) {
    FMinimum = minimum;
    FMaximum = std::max(minimum, maximum);
}

void TSpinEdit::setMinimum(std::int32_t minimum) {
    setRange(minimum, FMaximum);
}

void TSpinEdit::setMaximum(std::int32_t maximum) {
    setRange(std::min(FMinimum, maximum), maximum);
}

void TSpinEdit::stepBy(int steps) {
    if (isReadOnly() || steps == 0) {
        return;
    }
    setValue(Limit(std::int64_t{value()} + steps));
    if (hasFocus()) {
        selectAll();
    }
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
    // Both arrows always work: a value typed beyond the range steps back into it.
    if (isReadOnly()) {
        return StepNone;
    }
    return StepUpEnabled | StepDownEnabled;
}

bool TSpinEdit::IsAcceptedCharacter(QChar c) const {
    if (c >= u'0' && c <= u'9') {
        return true;
    }
    if (c == u'+' || c == u'-') {
        return true;
    }
    const QString decimal = QLocale::system().decimalPoint();
    if (!decimal.isEmpty() && c == decimal.front()) {
        return true;
    }
    // Control characters (Ctrl+C, Ctrl+V, Backspace ...) pass; Enter does not.
    return c.unicode() < 0x20 && c != u'\r';
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        stepBy(event->key() == Qt::Key_Up ? 1 : -1);
        event->accept();
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // Only Up and Down step; the base class would step by ten here.
        event->ignore();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        QApplication::beep();
        event->accept();
        return;
    default:
        break;
    }
    // The edit's own shortcuts are not typed characters, whatever text the platform gives
    // them (a control character on most, the plain letter on some).
    for (const QKeySequence::StandardKey shortcut :
         {QKeySequence::Paste, QKeySequence::Copy, QKeySequence::Cut, QKeySequence::SelectAll,
          QKeySequence::Undo, QKeySequence::Redo}) {
        if (event->matches(shortcut)) {
            QAbstractSpinBox::keyPressEvent(event);
            return;
        }
    }
    const QString text = event->text();
    for (const QChar c : text) {
        if (!IsAcceptedCharacter(c)) {
            QApplication::beep();
            event->accept();
            return;
        }
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void TSpinEdit::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta != 0 && !isReadOnly()) {
        stepBy(delta > 0 ? 1 : -1);
    }
    event->accept();
}

void TSpinEdit::focusInEvent(QFocusEvent* event) {
    QAbstractSpinBox::focusInEvent(event);
    // Select the whole text unless a click put the caret somewhere (or a popup handed the
    // focus back).
    if (event->reason() != Qt::MouseFocusReason && event->reason() != Qt::PopupFocusReason) {
        selectAll();
    }
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
    QAbstractSpinBox::focusOutEvent(event);
    // Leaving a popup (context menu) is not leaving the field.
    if (event->reason() == Qt::PopupFocusReason) {
        return;
    }
    // The cleared field stays empty (it reads the minimum). Any other text that is not the
    // number the next read gives, limited to the range, is replaced by that number: a value
    // typed beyond the range, a number beyond 32 bits, a lone sign or letters.
    const QString text = lineEdit()->text();
    if (text.isEmpty()) {
        return;
    }
    const std::int32_t used = Limit(value());
    const std::optional<std::int64_t> shown = ParseDecimal(text);
    if (!shown || *shown != used) {
        setValue(used);
    }
}
