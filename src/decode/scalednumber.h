// The number layout of the window's scaled position: 15 significant digits, then four
// decimals, the integer part grouped in threes, or exponent form for very large values.
#pragma once

#include <cstddef>
#include <string>

// The user's regional number separators, as the window holds them at the time of the call.
struct TRegionalSeparators {
    char16_t Decimal = u'.';
    char16_t Thousand = u',';
};

// Writes `value` limited to 15 significant digits and rounded to four decimals (a half rounded
// away from zero each time), the integer part grouped in threes; a value that rounds to zero is
// written without a sign. When the integer part would need more than 15 digits, exponent form
// instead (1.12589990684262E0015). `value` must be finite.
std::u16string FormatScaledNumber(double value, TRegionalSeparators separators);

// The longest text FormatScaledNumber writes, with room to spare.
inline constexpr std::size_t MaxScaledNumberLength = 32;

// The same text written into `out`, which has room for MaxScaledNumberLength characters;
// returns its length.
std::size_t WriteScaledNumber(double value, TRegionalSeparators separators, char16_t* out);
