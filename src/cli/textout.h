// Building output text fast: a growable buffer written through raw pointers, number writing
// with std::to_chars, and the quoting and escaping of arbitrary bytes for CSV, JSON and the
// table. Nothing here allocates per call once the buffer has grown to its working size.
#pragma once

#include "decode/digits.h"

#include <algorithm>
#include <array>
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

// A short text written with a copy of fixed size, which the compiler inlines instead of
// calling memcpy: for the few texts every record starts with (a file name, say).
class TShortText {
public:
    static constexpr std::size_t Room = 48; // bytes a writer must have room for
    void Assign(std::string_view text) {
        FLong.assign(text);
        FSize = text.size();
        FBytes.fill('\0');
        std::memcpy(FBytes.data(), text.data(), std::min(text.size(), Room));
    }
    std::string_view View() const { return FLong; }
    std::size_t Size() const { return FSize; }
    char* Write(char* p) const {
        if (FSize > Room) {
            std::memcpy(p, FLong.data(), FSize);
            return p + FSize;
        }
        std::memcpy(p, FBytes.data(), Room);
        return p + FSize;
    }

private:
    std::array<char, Room> FBytes{};
    std::size_t FSize = 0;
    std::string FLong;
};

// Longest text of a 64-bit integer or of a double written by std::to_chars (shortest form);
// writers of numbers need this much room, more than the text they leave.
inline constexpr std::size_t MaxNumberChars = 32;

inline char* WriteText(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}
// Decimal digits two at a time: "00" to "99".

// The decimal digits of `value`: 32-bit arithmetic, four digits a step, for the usual values
// (quicker than std::to_chars' 64-bit steps), then one copy of fixed size.
[[gnu::always_inline]] inline char* WriteUnsigned32(char* p, std::uint32_t value) {
    if (value < 100) { // ACK lengths, CRCs: one or two digits from the pairs, no arithmetic
        const bool two = value >= 10;
        std::memcpy(p, DecimalDigitPairs.data() + 2 * value + (two ? 0 : 1), 2);
        return p + 1 + (two ? 1 : 0);
    }
    char digits[32];
    char* const end = digits + 16;
    char* first = end;
    while (value >= 10000) {
        const std::uint32_t low = value % 10000;
        value /= 10000;
        first -= 4;
        std::memcpy(first, DecimalDigitPairs.data() + 2 * (low / 100), 2);
        std::memcpy(first + 2, DecimalDigitPairs.data() + 2 * (low % 100), 2);
    }
    if (value >= 100) {
        first -= 2;
        std::memcpy(first, DecimalDigitPairs.data() + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10) {
        first -= 2;
        std::memcpy(first, DecimalDigitPairs.data() + 2 * value, 2);
    } else {
        *--first = static_cast<char>('0' + value);
    }
    // 16 bytes from `first`: the digits, then bytes past them that the caller overwrites.
    std::memcpy(p, first, 16);
    return p + (end - first);
}

[[gnu::always_inline]] inline char* WriteUnsigned(char* p, std::uint64_t value) {
    if (value <= 0xFFFFFFFFU) {
        return WriteUnsigned32(p, static_cast<std::uint32_t>(value));
    }
    return std::to_chars(p, p + 20, value).ptr; // 2^64 - 1 has 20 digits
}
[[gnu::always_inline]] inline char* WriteSigned(char* p, std::int64_t value) {
    if (value < 0) {
        *p++ = '-';
        return WriteUnsigned(p, ~static_cast<std::uint64_t>(value) + 1);
    }
    return WriteUnsigned(p, static_cast<std::uint64_t>(value));
}
// A 64-bit pattern as an unsigned number, or as a two's complement one.
[[gnu::always_inline]] inline char* WriteNumber(char* p, std::uint64_t value, bool isSigned) {
    return isSigned ? WriteSigned(p, static_cast<std::int64_t>(value)) : WriteUnsigned(p, value);
}
// Two flags as CSV writes them ("true,false"), with one copy of fixed size.
inline char* WriteCsvBoolPair(char* p, bool first, bool second) {
    static constexpr char Texts[4][16] = {"false,false", "false,true", "true,false", "true,true"};
    static constexpr std::uint8_t Sizes[4] = {11, 10, 10, 9};
    const int i = (first ? 2 : 0) + (second ? 1 : 0);
    std::memcpy(p, Texts[i], 16);
    return p + Sizes[i];
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
// `value` rounded to `digits` significant digits, in fixed notation (1000000, 19186.76,
// 0.0001235); integer digits beyond `digits` are all written. Exponent form from 1e15 on, as
// WriteFixedDouble.
char* WriteSignificant(char* p, double value, int digits);
// `value` rounded to `digits` significant digits in exponent form (2.500e-07).
char* WriteScientific(char* p, double value, int digits);

// The numbers of signal captures as tables show them to people; CSV and JSON keep the
// shortest text that reads back as the same double. One rule per kind of quantity:
// - times, durations and gaps: seconds with 9 decimals (nanoseconds, finer than the sample
//   period of any logic analyzer up to 1 GHz), so that the points of a column line up;
// - frequencies (clock, frame rate): Hz with 7 significant digits, fixed notation;
// - the line delay: seconds with 4 significant digits in exponent form.
inline constexpr int TableSecondsDecimals = 9;
inline constexpr int TableHertzDigits = 7;
inline constexpr int TableDelayDigits = 4;
inline char* WriteTableSeconds(char* p, double seconds) {
    return WriteFixedDouble(p, seconds, TableSecondsDecimals);
}
inline char* WriteTableHertz(char* p, double hertz) {
    return WriteSignificant(p, hertz, TableHertzDigits);
}
inline char* WriteTableDelay(char* p, double seconds) {
    return WriteScientific(p, seconds, TableDelayDigits);
}

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

