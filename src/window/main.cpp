#include "window/main.h"

#include "window/application.h"
#include "window/jpegimage.h"
#include "window/spinedit.h"
#include "ui_main.h"
#include "window/windowmath.h"

#include <QEvent>
#include <QFile>
#include <QFocusEvent>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QStringList>

#include <algorithm>
#include <exception>
#include <string_view>

namespace {

const QString HelpLines[] = {
    QStringLiteral("Corvane. Can be used to analyze data from K730-4M interface or other raw data "
                   "source."),
    QStringLiteral("Input hex string as received from K730 or from SPI interface of the "
                   "microcontroller."),
    QStringLiteral("Select position data length (see encoder datasheet) and input conversion "
                   "factors and measurement units."),
    QString(),
    QStringLiteral("Version 1.0. Relese date: 2024-01-04. Author: Olmenvar."),
};

const QColor VerdictOkColour(0x00, 0x80, 0x00);    // green
const QColor VerdictErrorColour(0xFF, 0x00, 0x00); // red

std::u16string_view View(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// Labels size themselves to their text, as the strips are laid from the digit label's width.
void SetLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

} // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm1>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(448, 444);
    setWindowIcon(QIcon(QStringLiteral(":/corvane.ico")));

    ApplyFonts();
    LoadLogo();
    SetVerdict(TVerdict::vdNone);
    ReadSeparators();

    // Every edit selects its whole text when it gains the focus other than by a click (the
    // spin fields do the same on their own).
    for (QLineEdit* edit : {ui->edInput, ui->edAdckLen, ui->edPosition, ui->edStatus, ui->edCRCin,
                            ui->edCRCinInv, ui->edCRCcalc, ui->edUnit}) {
        edit->installEventFilter(this);
    }
    // The frame input has the focus with its text selected when the window opens, so that a
    // paste replaces the default frame.
    ui->edInput->setFocus(Qt::OtherFocusReason);
    ui->edInput->selectAll();

    // Attached only now that seDataLen holds its start value: nothing is decoded at start-up.
    connect(ui->btnCalculate, &QPushButton::clicked, this, &TForm1::btnCalculateClick);
    connect(ui->seDataLen, &TSpinEdit::changed, this, &TForm1::seDataLenChange);
    connect(ui->btnQ, &QPushButton::clicked, this, &TForm1::btnQClick);
}

TForm1::~TForm1() {
    // QWidget's destructor closes the window, which takes the focus from a spin field and may
    // write a corrected length back; by then this form is half destroyed, so stop listening
    // before that happens.
    disconnect(ui->seDataLen, nullptr, this, nullptr);
}

void TForm1::ApplyFonts() {
    // The stored layout can only hold point sizes; the window is laid out for these pixel sizes.
    // TApplication has added Wine's Tahoma where the system lacks it.
    QFont base(QStringLiteral("Tahoma"));
    base.setPixelSize(BasePixelSize);
    setFont(base);

    QFont position(QStringLiteral("Tahoma"));
    position.setPixelSize(13);
    position.setBold(true);
    ui->lblPosition->setFont(position);

    QFont title(QStringLiteral("Tahoma"));
    title.setPixelSize(12);
    title.setBold(true);
    ui->Label9->setFont(title);

    for (QLabel* label : {ui->Label1, ui->lbl1, ui->Label2, ui->Label3, ui->Label4, ui->Label5,
                          ui->Label6, ui->Label7, ui->Label8, ui->lblPosition, ui->lblInputBin,
                          ui->Label9}) {
        label->adjustSize();
    }
}

void TForm1::ShowDigitText(const QString& text) {
    // The row of 64 digits is laid out for Tahoma at 11 pixels, in which it ends inside the
    // window; the fallback font of a system without Tahoma is wider. When the label would run
    // past the window's right edge, it takes the largest smaller pixel size of the same font in
    // which it ends inside. The strips are laid from the label's width, so they follow.
    QLabel* label = ui->lblInputBin;
    QFont font = label->font();
    font.setPixelSize(BasePixelSize);
    for (;;) {
        if (label->font() != font) {
            label->setFont(font);
        }
        SetLabelText(label, text);
        if (label->x() + label->width() <= width() || font.pixelSize() <= 1) {
            return;
        }
        font.setPixelSize(font.pixelSize() - 1);
    }
}

void TForm1::LoadLogo() {
    QFile file(QStringLiteral(":/logo.jpg"));
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QImage logo = DecodeJpeg(file.readAll());
    if (logo.isNull()) {
        return; // a damaged picture leaves the image empty
    }
    ui->Image2->setPixmap(QPixmap::fromImage(logo));
    ui->Image2->resize(logo.size());
}

void TForm1::ReadSeparators() {
    const QLocale locale = QLocale::system();
    const QString decimal = locale.decimalPoint();
    const QString thousand = locale.groupSeparator();
    TRegionalSeparators separators;
    if (!decimal.isEmpty()) {
        separators.Decimal = decimal.front().unicode();
    }
    if (!thousand.isEmpty()) {
        separators.Thousand = thousand.front().unicode();
    }
    FSeparators = separators;
}

void TForm1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LocaleChange) {
        ReadSeparators();
    }
    QWidget::changeEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::MouseFocusReason && reason != Qt::PopupFocusReason) {
            if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
                edit->selectAll();
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::SetVerdict(TVerdict verdict) {
    QString caption;
    QColor colour;
    switch (verdict) {
    case TVerdict::vdNone:
        caption = QStringLiteral("CRC");
        colour = palette().color(QPalette::Button);
        break;
    case TVerdict::vdOk:
        caption = QStringLiteral("CRC OK");
        colour = VerdictOkColour;
        break;
    case TVerdict::vdError:
        caption = QStringLiteral("CRC error");
        colour = VerdictErrorColour;
        break;
    }
    QPalette panel = ui->pnlCRCok->palette();
    panel.setColor(QPalette::Window, colour);
    ui->pnlCRCok->setPalette(panel);
    ui->pnlCRCok->setText(caption);
    // The verdict is not carried by colour alone.
    ui->pnlCRCok->setAccessibleName(caption);
}

void TForm1::SetStripsVisible(bool visible) {
    for (QWidget* strip :
         {ui->shpAck, ui->shpStart, ui->shpPosition, ui->shpStatus, ui->shpCrc}) {
        strip->setVisible(visible);
    }
}

// Results of an earlier frame must not stay on screen as if they belonged to one that did not
// decode.
void TForm1::ClearResults() {
    for (QLineEdit* edit : {ui->edAdckLen, ui->edCRCin, ui->edCRCinInv, ui->edCRCcalc,
                            ui->edStatus, ui->edPosition}) {
        edit->clear();
    }
    SetLabelText(ui->lblPosition, QStringLiteral("Position"));
    SetVerdict(TVerdict::vdNone);
    SetStripsVisible(false);
}

void TForm1::LayStripsUnderDigits(std::int32_t ackLength, std::int32_t n) {
    const QLabel* digits = ui->lblInputBin;
    const TStripGeometry g = LayStrips(digits->x(), digits->width(),
                                       static_cast<int>(digits->text().size()), ackLength, n);
    QWidget* const strips[5] = {ui->shpAck, ui->shpStart, ui->shpPosition, ui->shpStatus,
                                ui->shpCrc};
    for (int i = 0; i < 5; ++i) {
        // Tops and heights stay; a width below zero (a length typed far out of range) is none.
        strips[i]->setGeometry(g.Left[i], strips[i]->y(), std::max(0, g.Width[i]),
                               strips[i]->height());
    }
    SetStripsVisible(true);
}

void TForm1::btnCalculateClick() {
    // An error of the decode (a scale that is not a finite number) is shown in the
    // application's error report from here: the run is abandoned where it stands, and no
    // exception unwinds through Qt's event delivery, which does not support that.
    try {
        Calculate();
    } catch (const std::exception& error) {
        ShowErrorReport(QString::fromUtf8(error.what()));
    }
}

void TForm1::Calculate() {
    const QString input = ui->edInput->text();
    const QString unit = ui->edUnit->text();
    const std::int32_t n = ui->seDataLen->value();
    const TDecodedFrame frame =
        DecodeFrame(View(input), n, ui->seNominator->value(), ui->seDenominator->value(),
                    View(unit), FSeparators);

    // The field always shows the cleaned form of what was typed.
    ui->edInput->setText(ToQString(frame.CleanText));

    if (frame.Outcome == TDecodeOutcome::doInvalidInput) {
        ShowDigitText(QStringLiteral("incorrect input data!"));
        ClearResults();
        return;
    }

    ShowDigitText(ToQString(frame.BitsText));

    if (frame.Outcome == TDecodeOutcome::doNoStartBit) {
        ClearResults();
        ui->edAdckLen->setText(QStringLiteral("no start bit"));
        return;
    }

    ui->edAdckLen->setText(ToQString(frame.AckText));
    ui->edCRCin->setText(ToQString(frame.CrcReceivedText));
    ui->edCRCinInv->setText(ToQString(frame.CrcNonInvertedText));
    ui->edCRCcalc->setText(ToQString(frame.CrcCalculatedText));
    // The decoder never reports a truncated frame as CrcOk, so the verdict follows CrcOk alone.
    SetVerdict(frame.CrcOk ? TVerdict::vdOk : TVerdict::vdError);
    ui->edStatus->setText(ToQString(frame.StatusText));
    ui->edPosition->setText(ToQString(frame.PositionText));
    SetLabelText(ui->lblPosition, ToQString(frame.ScaledText));

    LayStripsUnderDigits(frame.AckLength, n);
}

void TForm1::seDataLenChange() {
    const std::int32_t n = ui->seDataLen->value();
    ui->seDenominator->setValue(DenominatorForLength(n));
    btnCalculateClick();
}

void TForm1::btnQClick() {
    QStringList lines;
    for (const QString& line : HelpLines) {
        lines.append(line);
    }
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(QCoreApplication::applicationFilePath()),
                    lines.join(QStringLiteral("\r\n")), QMessageBox::Ok, this);
    box.exec();
}
