// Text and bit utilities shared by the frame decoder: input cleaning, binary rendering and
// the CRC-6 of BiSS-C single-cycle data (x^6 + x + 1, start value 0, MSB first).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Keeps the ASCII letters and digits of `text`, in their order. Everything else (blanks,
// control characters, punctuation, non-ASCII letters and digits) is dropped. Letters beyond
// F survive, so the caller can still find a 0x prefix or reject stray letters.
std::u16string FilterAlphaNum(std::u16string_view text);

// Renders the low `digits` bits of `value` as exactly `digits` characters '0'/'1', the most
// significant shown bit first. Bits at positions `digits` and above are not shown; a count of
// zero or less gives the empty text.
std::u16string IntToBin(std::int32_t digits, std::uint64_t value);

namespace orodja_detail {
constexpr std::array<bool, 128> MakeAsciiAlphaNum() {
    std::array<bool, 128> keep{};
    for (std::size_t c = 0; c < keep.size(); ++c) {
        keep[c] = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    }
    return keep;
}

// Register value after feeding six zero bits into a 6-bit CRC register holding `start`
// (shift left, MSB first, XOR 0b000011 whenever a 1 is shifted out).
constexpr std::uint8_t Crc6AfterSixZeroBits(std::uint8_t start) {
    std::uint8_t reg = start;
    for (int bit = 0; bit < 6; ++bit) {
        const bool out = (reg & 0x20) != 0;
        reg = static_cast<std::uint8_t>((reg << 1) & 0x3F);
        if (out) {
            reg ^= 0x03;
        }
    }
    return reg;
}

constexpr std::array<std::uint8_t, 64> MakeTableCRC6() {
    std::array<std::uint8_t, 64> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = Crc6AfterSixZeroBits(static_cast<std::uint8_t>(i));
    }
    return table;
}
} // namespace orodja_detail

// True for the codes of the ASCII letters and digits: the characters that cleaning keeps.
inline constexpr std::array<bool, 128> AsciiAlphaNum = orodja_detail::MakeAsciiAlphaNum();

// Entry i is the remainder of i * x^6 modulo x^6 + x + 1: one step of the CRC per six bits.
inline constexpr std::array<std::uint8_t, 64> tableCRC6 = orodja_detail::MakeTableCRC6();

// CRC-6 of the low 6 * groups bits of `data`, taken six bits at a time from the most
// significant group down. Bits above those groups are ignored; six-bit groups that lie above
// bit 63 read as zero. A group count below 1 gives 0. The result is always below 64.
std::uint8_t CalcCRC6(std::int32_t groups, std::uint64_t data);
