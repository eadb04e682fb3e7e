// Decoding of one captured BiSS-C single-cycle frame, given as hexadecimal text, into its
// fields, the CRC verdict and the texts the window displays. Pure: no state between calls.
#pragma once

#include "decode/framelayout.h"
#include "decode/scalednumber.h"

#include <cstdint>
#include <string>
#include <string_view>

// For the window, doInvalidInput means the cleaned text is not a hexadecimal number that fits
// in 64 bits.

struct TDecodedFrame {
    TDecodeOutcome Outcome = TDecodeOutcome::doInvalidInput;
    std::u16string CleanText; // input after cleaning and removal of one "0x"; always set

    // Set for doNoStartBit and doDecoded.
    std::uint64_t Word = 0;   // bit 63 is the first bit received
    std::u16string BitsText;  // Word as 64 binary digits

    // Set for doDecoded only.
    std::int32_t AckLength = 0;      // bits before the start bit, 2 to 63
    std::uint64_t PositionRaw = 0;   // the n position bits, below 2^n
    std::uint8_t StatusBits = 0;     // bit 1 = nE, bit 0 = nW, as received (active low)
    std::uint8_t CrcReceived = 0;    // the CRC field as received (inverted on the wire)
    std::uint8_t CrcNonInverted = 0; // CrcReceived complemented within six bits
    std::uint8_t CrcCalculated = 0;  // CRC-6 over position, nE and nW
    bool CrcOk = false;              // CRC matches and the whole frame lies inside the word
    bool Truncated = false;          // the frame runs past bit 0: its tail was never received
    double ScaledPosition = 0.0;     // PositionRaw * numerator / denominator

    std::u16string AckText;            // "13 bits"
    std::u16string CrcReceivedText;    // two uppercase hexadecimal digits
    std::u16string CrcNonInvertedText;
    std::u16string CrcCalculatedText;
    std::u16string StatusText;         // "11", "10 Warning", "01 Error", "00 Error Warning"
    std::u16string PositionText;       // PositionRaw in decimal
    std::u16string ScaledText;         // ScaledPosition with four decimals, a blank, the unit
};

// Decodes `text` as one frame with an n-bit position field (`positionLength`) and the scale
// numerator / denominator in `unit`: the window's layout (n position bits, nE, nW and the CRC-6
// x^6 + x + 1 sent inverted) in a 64-bit word. Throws std::domain_error when the scaled position
// is not a finite number (a denominator of 0); inside the window's field ranges it never throws.
// A position length outside 1 to 64, which a user can type before the field corrects it, is
// decoded as the nearest of 1 and 64.
TDecodedFrame DecodeFrame(std::u16string_view text, std::int32_t positionLength,
                          std::int32_t numerator, std::int32_t denominator,
                          std::u16string_view unit, TRegionalSeparators separators);

