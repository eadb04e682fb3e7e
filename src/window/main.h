// The main window: the frame input, the position length and scale, and every result of the
// decode, with the coloured strips that mark the frame's fields under its binary digits.
#pragma once

#include "decode/framedecoder.h"

#include <QWidget>

#include <memory>

namespace Ui {
class TForm1;
}

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The separators handed to DecodeFrame: the system locale's, as last read.
    TRegionalSeparators Separators() const { return FSeparators; }

public slots:
    // Decodes the input with the current settings and shows the results.
    void btnCalculateClick();
    // Follows a change of the position length: denominator to 2^n, then decode.
    void seDataLenChange();
    // Shows the help box.
    void btnQClick();

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class TVerdict { vdNone, vdOk, vdError };

    // The character height of the window's font, in pixels (Tahoma 8 point at 96 DPI).
    static constexpr int BasePixelSize = 11;

    // The body of btnCalculateClick; throws what DecodeFrame throws.
    void Calculate();
    void ReadSeparators();
    void ApplyFonts();
    // Shows `text` in the binary-digit label, in a size with which it ends inside the window.
    void ShowDigitText(const QString& text);
    void LoadLogo();
    void SetVerdict(TVerdict verdict);
    void ClearResults();
    void SetStripsVisible(bool visible);
    void LayStripsUnderDigits(std::int32_t ackLength, std::int32_t n);

    std::unique_ptr<Ui::TForm1> ui;
    TRegionalSeparators FSeparators;
};
