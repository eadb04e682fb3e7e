// Fields to display texts: the texts the window shows for a decoded frame, of ASCII characters
// (the unit and the separators excepted). Each is written over the text held in `out`, so that
// a record's strings are filled in place, with no copy of a text just written.
#pragma once

#include "decode/scalednumber.h"

#include <cstdint>
#include <string>
#include <string_view>

// The frame word as 64 binary digits, bit 63 (the first bit received) first.
void FormatBitsText(std::uint64_t word, std::u16string& out);

// "13 bits".
void FormatAckText(std::int32_t ackLength, std::u16string& out);

// A CRC in uppercase hexadecimal, at least two digits: "2A", "0D".
void FormatCrcText(std::uint16_t crc, std::u16string& out);

// The two status bits nE, nW (nE the higher bit) as two binary digits, then " Error" when nE is
// 0 and " Warning" when nW is 0: "11", "10 Warning", "01 Error", "00 Error Warning".
void FormatStatusText(std::uint8_t statusBits, std::u16string& out);

// A raw position in decimal, without grouping or sign.
void FormatPositionText(std::uint64_t position, std::u16string& out);

// The scaled position in the number layout of FormatScaledNumber, a blank, and the unit as
// typed (an empty unit leaves the trailing blank).
void FormatScaledText(double scaled, std::u16string_view unit, TRegionalSeparators separators,
                      std::u16string& out);
