// Pure functions of the main window: where the five coloured field strips go under the binary
// digits, the denominator that matches a position length, the title of the message boxes and
// the text of the error report. Qt Core only; no widgets involved.
#pragma once

#include <QString>

#include <cstdint>

// Strip order in both arrays.
enum TStripIndex { siAck = 0, siStart = 1, siPosition = 2, siStatus = 3, siCrc = 4 };

// Left edges and widths of the strips, in pixels, in the order Ack, Start, Position, Status, Crc.
struct TStripGeometry {
    int Left[5];
    int Width[5];
};

// Lays the strips under a label of `labelWidth` pixels starting at `labelLeft` that shows
// `digitCount` binary digits. One digit is w = labelWidth / digitCount pixels wide (a double);
// the widths are Round(ackLength * w), Round(2w) for start and CDS, Round(n * w), Round(2w)
// again for the two status bits and Round(6w) for the CRC, each rounded on its own to the
// nearest integer with halves going to the even neighbour. The strips stand side by side from
// labelLeft on. A digit count of zero or less gives a digit width of 0. Widths are limited to
// +-2^26 so that a position length typed far outside its range cannot overflow the chain.
TStripGeometry LayStrips(int labelLeft, int labelWidth, int digitCount, std::int32_t ackLength,
                         std::int32_t n);

// The denominator that makes the scale count whole turns of an n-bit position: 2^n for n from
// 1 to 30, the denominator field's maximum 2,100,000,000 above that (2^31 and more do not fit),
// and 1 for n of 0 or below (lengths a user can type before the field corrects them).
std::int32_t DenominatorForLength(std::int32_t n);

// The upper limit of the denominator field.
inline constexpr std::int32_t MaxDenominator = 2100000000;

// The title that captions every message box: the file name of `executablePath` up to its first
// dot, every character after the first in lower case ("C:/x/CORVANE.EXE" gives "Corvane").
QString ApplicationTitle(const QString& executablePath);

// The text of the error report: `message` with a full stop appended when its last character's
// code is above that of the full stop.
QString ErrorReportText(const QString& message);
