// The digits every text of Corvane is written with: hexadecimal in both cases, and the decimal
// digit pairs "00" to "99" that number writers use to write two digits a step.
#pragma once

#include <array>
#include <cstddef>

inline constexpr char UpperHexDigits[] = "0123456789ABCDEF";
inline constexpr char LowerHexDigits[] = "0123456789abcdef";

// DecimalDigitPairs[2 n] and [2 n + 1]: the two digits of n, for n from 0 to 99.
inline constexpr std::array<char, 200> DecimalDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (std::size_t n = 0; n < 100; ++n) {
        pairs[2 * n] = static_cast<char>('0' + n / 10);
        pairs[2 * n + 1] = static_cast<char>('0' + n % 10);
    }
    return pairs;
}();
