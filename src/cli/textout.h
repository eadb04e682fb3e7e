// Building output text fast: a growable buffer written through raw pointers, number writing
// with std::to_chars, and the quoting and escaping of arbitrary bytes for CSV, JSON and the
// table. Nothing here allocates per call once the buffer has grown to its working size.
#pragma once

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Output text of one batch. The string only grows (its bytes past Size() are spare room), so
// reusing a buffer for the next batch costs nothing.
class TOutBuffer {
public:
    // Room for `bytes` more bytes; returns where to write them. Commit the end afterwards.
    char* Reserve(std::size_t bytes) {
        if (FData.size() - FUsed < bytes) {
            Grow(bytes);
        }
        return FData.data() + FUsed;
    }
    void Commit(const char* end) { FUsed = static_cast<std::size_t>(end - FData.data()); }
    void Append(std::string_view text) {
        char* p = Reserve(text.size());
        std::memcpy(p, text.data(), text.size());
        FUsed += text.size();
    }
    void Clear() { FUsed = 0; }
    // Empties the buffer and gives its memory back when it holds more than `bytes`.
    void Release(std::size_t bytes) {
        FUsed = 0;
        if (FData.size() > bytes) {
            std::string().swap(FData);
        }
    }
    std::size_t Size() const { return FUsed; }
    std::string_view View() const { return std::string_view(FData.data(), FUsed); }

private:
    void Grow(std::size_t bytes);

    std::string FData;
    std::size_t FUsed = 0;
};

// Longest text of a 64-bit integer or of a double written by std::to_chars (shortest form).
inline constexpr std::size_t MaxNumberChars = 32;

inline char* WriteText(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}
// Decimal digits two at a time: "00" to "99".
extern const char DigitPairs[201];

// Decimal digits of a number below 2^32, written back to front from `end`.
inline char* WriteDigitsBackward(char* end, std::uint32_t value) {
    while (value >= 100) {
        end -= 2;
        std::memcpy(end, DigitPairs + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10) {
        end -= 2;
        std::memcpy(end, DigitPairs + 2 * value, 2);
    } else {
        *--end = static_cast<char>('0' + value);
    }
    return end;
}

inline constexpr std::uint32_t PowersOf10[10] = {1,      10,      100,      1000,      10000,
                                                  100000, 1000000, 10000000, 100000000, 1000000000};

inline int DecimalDigits32(std::uint32_t value) {
    // log10 from the bit width (1233 / 4096 is just above log10(2)), then one correction;
    // "| 1" makes 0 one digit and changes nothing else (no even number is 10^k - 1).
    value |= 1U;
    const int guess = ((32 - std::countl_zero(value)) * 1233) >> 12;
    return guess + 1 - (value < PowersOf10[guess] ? 1 : 0);
}

// The decimal digits of `value`: 32-bit arithmetic for the usual values, which is quicker
// than std::to_chars' 64-bit steps.
inline char* WriteUnsigned(char* p, std::uint64_t value) {
    if (value <= 0xFFFFFFFFU) {
        const auto small = static_cast<std::uint32_t>(value);
        char* end = p + DecimalDigits32(small);
        WriteDigitsBackward(end, small);
        return end;
    }
    return std::to_chars(p, p + 20, value).ptr; // 2^64 - 1 has 20 digits
}
inline char* WriteSigned(char* p, std::int64_t value) {
    if (value < 0) {
        *p++ = '-';
        return WriteUnsigned(p, ~static_cast<std::uint64_t>(value) + 1);
    }
    return WriteUnsigned(p, static_cast<std::uint64_t>(value));
}
// "true" or "false" with a copy of fixed size, which the compiler inlines.
inline char* WriteBool(char* p, bool value) {
    std::memcpy(p, value ? "true " : "false", 5);
    return p + (value ? 4 : 5);
}
// The shortest text that reads back as the same double; zero is written without a sign.
char* WriteShortestDouble(char* p, double value);
// `value` with exactly `decimals` decimals (the window shows four), no grouping.
char* WriteFixedDouble(char* p, double value, int decimals);
// "0x" and `digits` uppercase hexadecimal digits (more when the value needs them).
char* WriteHex(char* p, std::uint64_t value, int digits);

// Escaping of arbitrary bytes (input echoed from a bad line, a file name). Bytes that do not
// form UTF-8 are replaced by U+FFFD, one for each such byte, so the output is always UTF-8.
//
// Most bytes that the escaped form of `text` can take in each format.
inline std::size_t MaxEscapedSize(std::size_t size) { return 6 * size + 2; }
// JSON string contents without the quotes: \" \\ \n \r \t \b \f, \u00XX for other control
// characters and DEL.
char* WriteJsonEscaped(char* p, std::string_view text);
// A CSV field (RFC 4180): quoted, with quotes doubled, when it holds a comma, a quote, a
// control character or bytes that are not UTF-8; as it is otherwise.
char* WriteCsvField(char* p, std::string_view text);
// For people on a terminal: control characters as \xNN so that none reaches the terminal.
char* WriteTableText(char* p, std::string_view text);
// Characters (code points) that WriteTableText writes for `text`.
std::size_t TableTextWidth(std::string_view text);

// The same into a std::string, for texts written once (headers, names).
std::string JsonEscaped(std::string_view text);
std::string CsvField(std::string_view text);
std::string TableText(std::string_view text);
// Whether WriteCsvField quotes `text`.
bool CsvNeedsQuotes(std::string_view text);

// Length of the UTF-8 sequence that starts at text[i], or 0 when the bytes from there on are
// not a well-formed sequence (overlong forms, surrogates and values above U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i);
