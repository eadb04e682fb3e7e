#include "decode/displaytext.h"

#include "decode/digits.h"

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

// Decimal digits of `value`.
std::size_t CountDigits(std::uint64_t value) {
    std::size_t count = 1;
    for (; value >= 10; value /= 10) {
        ++count;
    }
    return count;
}

// Writes `value` in decimal, `count` digits (CountDigits), into out[0 .. count), two digits a
// step from the right.
void PutDecimal(std::uint64_t value, std::size_t count, char16_t* out) {
    std::size_t at = count;
    while (value >= 100) {
        at -= 2;
        out[at] = static_cast<char16_t>(DecimalDigitPairs[2 * (value % 100)]);
        out[at + 1] = static_cast<char16_t>(DecimalDigitPairs[2 * (value % 100) + 1]);
        value /= 100;
    }
    if (value >= 10) {
        out[at - 2] = static_cast<char16_t>(DecimalDigitPairs[2 * value]);
        out[at - 1] = static_cast<char16_t>(DecimalDigitPairs[2 * value + 1]);
    } else {
        out[at - 1] = static_cast<char16_t>(u'0' + value);
    }
}

} // namespace

// Every text is sized first and written straight into its string: digits stored one by one
// into a buffer and copied out at once would make the copy wait for the small stores.

void FormatBitsText(std::uint64_t word, std::u16string& text) {
    text.assign(64, u'0');
    for (std::size_t byte = 0; byte < 8; ++byte) {
        const std::size_t value = (word >> (56 - 8 * byte)) & 0xFF;
        std::memcpy(text.data() + 8 * byte, ByteDigits[value].data(), sizeof(ByteDigits[value]));
    }
}

void FormatAckText(std::int32_t ackLength, std::u16string& text) {
    static constexpr std::u16string_view Bits = u" bits";
    const bool negative = ackLength < 0;
    const auto magnitude = static_cast<std::uint64_t>(negative ? -std::int64_t{ackLength} : ackLength);
    const std::size_t digits = CountDigits(magnitude);
    const std::size_t sign = negative ? 1 : 0;
    text.assign(sign + digits + Bits.size(), u'-');
    PutDecimal(magnitude, digits, text.data() + sign);
    Bits.copy(text.data() + sign + digits, Bits.size());
}

void FormatCrcText(std::uint16_t crc, std::u16string& text) {
    const std::size_t length = crc > 0xFFF ? 4 : crc > 0xFF ? 3 : 2;
    text.assign(length, u'0');
    for (std::size_t i = 0; i < length; ++i) {
        text[i] = static_cast<char16_t>(UpperHexDigits[(crc >> (4 * (length - 1 - i))) & 0xFU]);
    }
}

void FormatStatusText(std::uint8_t statusBits, std::u16string& text) {
    static constexpr std::u16string_view Texts[4] = {u"00 Error Warning", u"01 Error",
                                                     u"10 Warning", u"11"};
    text.assign(Texts[statusBits & 3U]);
}

void FormatPositionText(std::uint64_t position, std::u16string& text) {
    const std::size_t digits = CountDigits(position);
    text.assign(digits, u'0');
    PutDecimal(position, digits, text.data());
}

void FormatScaledText(double scaled, std::u16string_view unit, TRegionalSeparators separators,
                      std::u16string& text) {
    text.assign(MaxScaledNumberLength + 1 + unit.size(), u' ');
    const std::size_t length = WriteScaledNumber(scaled, separators, text.data());
    unit.copy(text.data() + length + 1, unit.size());
    text.resize(length + 1 + unit.size());
}
