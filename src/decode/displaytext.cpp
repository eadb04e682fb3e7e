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

// The two decimal digits of every number below 100.
constexpr std::array<std::array<char16_t, 2>, 100> MakeDigitPairs() {
    std::array<std::array<char16_t, 2>, 100> pairs{};
    for (std::size_t i = 0; i < 100; ++i) {
        pairs[i] = {static_cast<char16_t>(u'0' + i / 10), static_cast<char16_t>(u'0' + i % 10)};
    }
    return pairs;
}
constexpr std::array<std::array<char16_t, 2>, 100> DigitPairs = MakeDigitPairs();

// Writes `value` in decimal into `out` (room for 20 characters), two digits a step from the
// right; returns the length.
std::size_t PutDecimal(std::uint64_t value, char16_t* out) {
    std::array<char16_t, 20> digits;
    std::size_t at = digits.size();
    while (value >= 100) {
        at -= 2;
        std::memcpy(digits.data() + at, DigitPairs[value % 100].data(), 2 * sizeof(char16_t));
        value /= 100;
    }
    if (value >= 10) {
        at -= 2;
        std::memcpy(digits.data() + at, DigitPairs[value].data(), 2 * sizeof(char16_t));
    } else {
        digits[--at] = static_cast<char16_t>(u'0' + value);
    }
    const std::size_t length = digits.size() - at;
    std::memcpy(out, digits.data() + at, length * sizeof(char16_t));
    return length;
}

} // namespace

std::u16string FormatBitsText(std::uint64_t word) {
    std::array<char16_t, 64> text;
    for (std::size_t byte = 0; byte < 8; ++byte) {
        const std::size_t value = (word >> (56 - 8 * byte)) & 0xFF;
        std::memcpy(text.data() + 8 * byte, ByteDigits[value].data(), sizeof(ByteDigits[value]));
    }
    return std::u16string(text.data(), text.size());
}

std::u16string FormatAckText(std::int32_t ackLength) {
    std::array<char16_t, 24> text;
    std::size_t length = 0;
    if (ackLength < 0) {
        text[length++] = u'-';
    }
    length += PutDecimal(static_cast<std::uint64_t>(ackLength < 0 ? -std::int64_t{ackLength} : ackLength),
                         text.data() + length);
    for (const char16_t c : u" bits") {
        if (c != 0) {
            text[length++] = c;
        }
    }
    return std::u16string(text.data(), length);
}

std::u16string FormatCrcText(std::uint16_t crc) {
    static constexpr char16_t HexDigits[] = u"0123456789ABCDEF";
    const std::size_t length = crc > 0xFFF ? 4 : crc > 0xFF ? 3 : 2;
    std::array<char16_t, 4> text;
    for (std::size_t i = 0; i < length; ++i) {
        text[i] = HexDigits[(crc >> (4 * (length - 1 - i))) & 0xFU];
    }
    return std::u16string(text.data(), length);
}

std::u16string FormatStatusText(std::uint8_t statusBits) {
    static constexpr std::u16string_view Texts[4] = {u"00 Error Warning", u"01 Error",
                                                     u"10 Warning", u"11"};
    return std::u16string(Texts[statusBits & 3U]);
}

std::u16string FormatPositionText(std::uint64_t position) {
    std::array<char16_t, 24> text;
    return std::u16string(text.data(), PutDecimal(position, text.data()));
}

std::u16string FormatScaledText(double scaled, std::u16string_view unit,
                                TRegionalSeparators separators) {
    std::array<char16_t, MaxScaledNumberLength> number;
    const std::size_t length = WriteScaledNumber(scaled, separators, number.data());
    std::u16string text;
    text.reserve(length + 1 + unit.size());
    text.append(number.data(), length);
    text.push_back(u' ');
    text.append(unit);
    return text;
}
