// Characters and numbers as every reader and the program's options read them: blanks, hex
// digits, UTF-8 sequences, and the number rules (decimal, "0x" hexadecimal, "0b" binary).
// One definition of each, shared by the readers, their recognition rules and the options.
#pragma once

#include "decode/digits.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// True for the bytes that make a line blank: space, TAB, CR, VT, FF.
inline bool IsBlankByte(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// `text` without blank bytes at either end.
std::string_view TrimBlanks(std::string_view text);

inline bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

inline bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The value of a hexadecimal digit, or 16 for any other character.
inline unsigned HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    return 16;
}

// The two uppercase hexadecimal digits of every byte.
inline constexpr std::array<std::array<char, 2>, 256> HexPairs = [] {
    std::array<std::array<char, 2>, 256> pairs{};
    for (std::size_t b = 0; b < 256; ++b) {
        pairs[b] = {UpperHexDigits[b >> 4], UpperHexDigits[b & 15]};
    }
    return pairs;
}();

// The UTF-8 sequence that starts at text[i]: its length (1 to 4) when it is well formed (no
// overlong forms, no surrogates, nothing above U+10FFFF); 0 when it is not; and
// Utf8CutSequence when it is the well-formed start of a sequence that the end of `text` cuts.
inline constexpr std::size_t Utf8CutSequence = ~std::size_t{0};
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i);

// The items as a message lists them: "a", "a and b", "a, b and c".
std::string ListInSentence(const std::vector<std::string_view>& items);

// The start of an overlong text as an invalid frame shows it, followed by "...": its first
// bytes, cut at a UTF-8 character boundary.
std::string_view LongTextStart(std::string_view text);
inline constexpr std::string_view LongTextEllipsis = "...";

enum class TNumberRead {
    nrNumber,    // read
    nrEmpty,     // nothing but blanks
    nrNotNumber, // a character that is no digit of the number's base
    nrTooWide,   // digits only, but more than 64 bits
};

// Digits in `base` (2, 10 or 16), nothing else, into `value`.
TNumberRead ReadDigits(std::string_view digits, unsigned base, std::uint64_t& value);

// A number as the program's options take it: decimal digits, or hexadecimal digits after "0x"
// or "0X" (a leading zero never means octal). False for anything else, including values
// above 2^64 - 1.
bool ParseDecimalOrHex(std::string_view text, std::uint64_t& value);

// A number as logic analyzer exports write it, blanks around it ignored: hexadecimal after
// "0x", binary after "0b", else decimal.
TNumberRead ReadExportNumber(std::string_view text, std::uint64_t& value);

// A path given as UTF-8 text (as the program's arguments are), on every system.
std::filesystem::path PathFromUtf8(std::string_view text);
// A path's file name as UTF-8 text, for messages.
std::string FileNameUtf8(const std::filesystem::path& path);
