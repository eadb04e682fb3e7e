#include "decode/orodja.h"

#include <algorithm>

// The table must match the bitwise definition at the entries we know by heart.
static_assert(tableCRC6[0] == 0x00 && tableCRC6[1] == 0x03 && tableCRC6[2] == 0x06 &&
              tableCRC6[3] == 0x05 && tableCRC6[4] == 0x0C && tableCRC6[5] == 0x0F &&
              tableCRC6[6] == 0x0A && tableCRC6[7] == 0x09);
static_assert(tableCRC6[8] == 0x18 && tableCRC6[9] == 0x1B && tableCRC6[10] == 0x1E &&
              tableCRC6[11] == 0x1D && tableCRC6[12] == 0x14 && tableCRC6[13] == 0x17 &&
              tableCRC6[14] == 0x12 && tableCRC6[15] == 0x11 && tableCRC6[16] == 0x30);
static_assert(tableCRC6[60] == 0x07 && tableCRC6[61] == 0x04 && tableCRC6[62] == 0x01 &&
              tableCRC6[63] == 0x02);

std::u16string FilterAlphaNum(std::u16string_view text) {
    // Leading and trailing blanks and control characters are not letters or digits either,
    // so one pass that keeps only ASCII letters and digits also strips them. Every character
    // is written and the end advances only past the kept ones: no branch per character.
    std::u16string result(text.size(), u'\0');
    char16_t* const first = result.data();
    char16_t* next = first;
    for (const char16_t c : text) {
        *next = c;
        next += (c < 128 && AsciiAlphaNum[c & 127U]) ? 1 : 0;
    }
    result.resize(static_cast<std::size_t>(next - first));
    return result;
}

std::u16string IntToBin(std::int32_t digits, std::uint64_t value) {
    if (digits <= 0) {
        return {};
    }
    const auto count = static_cast<std::size_t>(digits);
    std::u16string result(count, u'0');
    const std::size_t shown = std::min<std::size_t>(count, 64);
    for (std::size_t k = 0; k < shown; ++k) {
        result[count - 1 - k] = static_cast<char16_t>(u'0' + ((value >> k) & 1U));
    }
    return result;
}

std::uint8_t CalcCRC6(std::int32_t groups, std::uint64_t data) {
    // Sextet 10 holds bits 60..63; every sextet above it lies past bit 63 and reads as zero.
    // Zero sextets fed into a zero register leave it zero (tableCRC6[0] == 0), so the leading
    // ones can be skipped without changing the result.
    constexpr std::int32_t kMaxGroups = 11;
    const std::int32_t top = std::min(groups, kMaxGroups);
    std::uint8_t crc = 0;
    for (std::int32_t g = top - 1; g >= 0; --g) {
        const auto sextet = static_cast<std::uint8_t>((data >> (6 * g)) & 0x3F);
        crc = tableCRC6[crc ^ sextet];
    }
    return crc;
}
