#include "decode/frametext.h"

#include "decode/orodja.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// Value of each ASCII hexadecimal digit, 0xFF for every other code.
constexpr std::array<std::uint8_t, 128> MakeHexValues() {
    std::array<std::uint8_t, 128> values{};
    for (auto& v : values) {
        v = 0xFF;
    }
    for (int c = '0'; c <= '9'; ++c) {
        values[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - '0');
    }
    for (int c = 'A'; c <= 'F'; ++c) {
        values[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'A' + 10);
        values[static_cast<std::size_t>(c + 32)] = static_cast<std::uint8_t>(c - 'A' + 10);
    }
    return values;
}
constexpr std::array<std::uint8_t, 128> HexValues = MakeHexValues();

template <typename Char> std::uint8_t HexValue(Char c) {
    const auto code = static_cast<std::make_unsigned_t<Char>>(c);
    return code < 128 ? HexValues[code] : std::uint8_t{0xFF};
}

// Reads eight ASCII characters as eight hexadecimal digits, the first the most significant,
// one byte each at once (SWAR); false when any of them is not a hexadecimal digit.
bool ReadEightHexDigits(const char* chars, std::uint64_t& value) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t high = 0x8080808080808080ULL;
    // The first character in the lowest byte, whatever the machine's byte order.
    std::uint64_t x = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&x, chars, 8);
    } else {
        for (int i = 7; i >= 0; --i) {
            x = (x << 8) | static_cast<unsigned char>(chars[i]);
        }
    }
    // Marks the bytes of at least n, for bytes below 0x80.
    auto atLeast = [](std::uint64_t bytes, std::uint64_t n) { return ((bytes | high) - n * ones) & high; };
    const std::uint64_t lower = x | 0x2020202020202020ULL; // 'A'-'F' as 'a'-'f'
    const std::uint64_t digit = atLeast(x, '0') & ~atLeast(x, '9' + 1);
    const std::uint64_t letter = atLeast(lower, 'a') & ~atLeast(lower, 'f' + 1);
    if ((x & high) != 0 || (digit | letter) != high) {
        return false;
    }
    // Digit values (a letter's low nibble plus 9), then nibbles, pairs and halves joined with
    // the first character most significant.
    std::uint64_t v = (x & 0x0F0F0F0F0F0F0F0FULL) + 9 * (letter >> 7);
    v = ((v << 4) | (v >> 8)) & 0x00FF00FF00FF00FFULL;
    v = ((v << 8) | (v >> 16)) & 0x0000FFFF0000FFFFULL;
    value = ((v << 16) | (v >> 32)) & 0xFFFFFFFFULL;
    return true;
}

template <typename Char> bool ParseHex(std::basic_string_view<Char> clean, TFrameBits& bits) {
    if (clean.empty()) {
        return false;
    }
    if constexpr (sizeof(Char) == 1) {
        // The window's frame as captured: 16 digits, eight at a time.
        std::uint64_t first = 0;
        std::uint64_t second = 0;
        if (clean.size() == 16 && ReadEightHexDigits(clean.data(), first) &&
            ReadEightHexDigits(clean.data() + 8, second)) {
            bits = FrameBitsFromWord(first << 32 | second);
            return true;
        }
    }
    // The usual case in one pass: at most 16 digits, so at most 16 significant ones.
    if (clean.size() <= 16) {
        std::uint64_t word = 0;
        std::uint8_t invalid = 0;
        for (const Char c : clean) {
            const std::uint8_t digit = HexValue(c);
            invalid |= digit;
            word = (word << 4) | (digit & 0xFU);
        }
        if (invalid > 15) {
            return false;
        }
        bits = FrameBitsFromWord(word);
        return true;
    }
    std::size_t firstSignificant = clean.size();
    for (std::size_t i = 0; i < clean.size(); ++i) {
        const std::uint8_t digit = HexValue(clean[i]);
        if (digit > 15) {
            return false;
        }
        if (digit != 0 && firstSignificant == clean.size()) {
            firstSignificant = i;
        }
    }
    const std::size_t significant = clean.size() - firstSignificant;
    bits = TFrameBits{};
    if (significant <= 16) {
        // The window's 64-bit word: right-aligned, leading zeros dropped.
        std::uint64_t word = 0;
        for (std::size_t i = firstSignificant; i < clean.size(); ++i) {
            word = (word << 4) | HexValue(clean[i]);
        }
        bits.Words[0] = word;
        bits.Length = 64;
        return true;
    }
    if (significant > 64) {
        return false;
    }
    // Every digit as written: leading zeros are captured bits too, up to 64 digits.
    const std::size_t kept = std::min<std::size_t>(clean.size(), 64);
    const std::basic_string_view<Char> digits = clean.substr(clean.size() - kept);
    for (std::size_t j = 0; j < kept; ++j) {
        const std::uint64_t digit = HexValue(digits[j]);
        bits.Words[j / 16] |= digit << (60 - 4 * (j % 16));
    }
    bits.Length = static_cast<std::int32_t>(4 * kept);
    return true;
}

} // namespace

std::size_t CleanFrameTextInto(std::u16string_view text, char16_t* out) noexcept {
    // FilterAlphaNum and the removal of the first "0x" in one pass: the first "0x" of the
    // filtered text is where a kept 'x' first follows a kept '0', so that '0' is taken back and
    // the 'x' not kept. Every character is written and the end advances past the kept ones.
    char16_t* next = out;
    bool removed = false;
    for (const char16_t c : text) {
        *next = c;
        const bool kept = c < 128 && AsciiAlphaNum[c];
        if (kept && c == u'x' && !removed && next != out && next[-1] == u'0') {
            --next;
            removed = true;
            continue;
        }
        next += kept ? 1 : 0;
    }
    return static_cast<std::size_t>(next - out);
}

std::u16string CleanFrameText(std::u16string_view text) {
    std::u16string clean(text.size(), u'\0');
    clean.resize(CleanFrameTextInto(text, clean.data()));
    return clean;
}

std::string CleanFrameText(std::string_view text) {
    std::string clean;
    AppendCleanFrameText(text, clean);
    return clean;
}

void AppendCleanFrameText(std::string_view text, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + text.size());
    char* const first = out.data() + start;
    char* next = first;
    for (const char c : text) {
        *next = c;
        const auto code = static_cast<unsigned char>(c);
        next += code < 128 && AsciiAlphaNum[code] ? 1 : 0;
    }
    std::string_view appended(first, static_cast<std::size_t>(next - first));
    if (const auto at = appended.find("0x"); at != std::string_view::npos) {
        std::copy(first + at + 2, next, first + at);
        next -= 2;
    }
    out.resize(static_cast<std::size_t>(next - out.data()));
}

bool ParseFrameHex(std::u16string_view clean, TFrameBits& bits) noexcept {
    return ParseHex(clean, bits);
}

bool ParseFrameHex(std::string_view clean, TFrameBits& bits) noexcept {
    return ParseHex(clean, bits);
}

bool ParseFrameBitsHex(std::string_view hex, std::int32_t bitCount, TFrameBits& bits) noexcept {
    if (bitCount <= 0 || bitCount > TFrameBits::MaxLength) {
        return false;
    }
    const auto digits = static_cast<std::size_t>((bitCount + 3) / 4);
    if (hex.size() < digits) {
        return false;
    }
    bits = TFrameBits{};
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = hex[i];
        std::uint64_t value = 0;
        if (c >= '0' && c <= '9') {
            value = static_cast<std::uint64_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            value = static_cast<std::uint64_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            value = static_cast<std::uint64_t>(c - 'A' + 10);
        } else {
            return false;
        }
        // Digit i holds bits 4i to 4i + 3, inside one word (64 is a multiple of 4).
        bits.Words[i / 16] |= value << (60 - 4 * (i % 16));
    }
    // Bits at and beyond Length are zero.
    const auto full = static_cast<std::size_t>(bitCount / 64);
    if (const int rest = bitCount % 64; rest != 0) {
        bits.Words[full] &= ~std::uint64_t{0} << (64 - rest);
    }
    for (std::size_t w = full + (bitCount % 64 != 0 ? 1 : 0); w < bits.Words.size(); ++w) {
        bits.Words[w] = 0;
    }
    bits.Length = bitCount;
    return true;
}
