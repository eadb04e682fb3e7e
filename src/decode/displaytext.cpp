#include "displaytext.h"

#include <array>
#include <charconv>
#include <cstring>

namespace {

// Eight binary digits for every byte value, the most significant bit first.
constexpr std::array<std::array<char16_t, 8>, 256> MakeByteDigits() {
    std::array<std::array<char16_t, 8>, 256> table{};
    for (std::size_t b = 0; b < 256; ++b) {
        for (std::size_t k = 0; k < 8; ++k) {
            table[b][k] = ((b >> (7 - k)) & 1U) != 0 ? u'1' : u'0';
        }
    }
    return table;
}
constexpr std::array<std::array<char16_t, 8>, 256> ByteDigits = MakeByteDigits();

} // namespace

std::u16string FormatBitsText(std::uint64_t word) {
    std::u16string text(64, u'0');
    for (std::size_t byte = 0; byte < 8; ++byte) {
        const std::size_t value = (word >> (56 - 8 * byte)) & 0xFF;
        std::memcpy(text.data() + 8 * byte, ByteDigits[value].data(), sizeof(ByteDigits[value]));
    }
    return text;
}

std::u16string FormatAckText(std::int32_t ackLength) {
    std::array<char, 16> digits{};
    const auto res = std::to_chars(digits.data(), digits.data() + digits.size(), ackLength);
    std::u16string text(digits.data(), res.ptr);
    text += u" bits";
    return text;
}

std::u16string FormatCrcText(std::uint16_t crc) {
    static constexpr char16_t HexDigits[] = u"0123456789ABCDEF";
    std::u16string text;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const unsigned digit = (crc >> shift) & 0xFU;
        if (digit != 0 || !text.empty() || shift <= 4) {
            text.push_back(HexDigits[digit]);
        }
    }
    return text;
}

std::u16string FormatStatusText(std::uint8_t statusBits) {
    static constexpr std::u16string_view Texts[4] = {u"00 Error Warning", u"01 Error",
                                                     u"10 Warning", u"11"};
    return std::u16string(Texts[statusBits & 3U]);
}

std::u16string FormatPositionText(std::uint64_t position) {
    std::array<char, 24> digits{};
    const auto res = std::to_chars(digits.data(), digits.data() + digits.size(), position);
    return std::u16string(digits.data(), res.ptr);
}

std::u16string FormatScaledText(double scaled, std::u16string_view unit,
                                TRegionalSeparators separators) {
    std::u16string text = FormatScaledNumber(scaled, separators);
    text.reserve(text.size() + 1 + unit.size());
    text.push_back(u' ');
    text.append(unit);
    return text;
}
