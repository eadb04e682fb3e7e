#include "decode/scalednumber.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// The text being written into the caller's buffer: the longest is 25 characters
// ("-999,999,999,999,999.0000"), and the exponent form is shorter.
class TNumberText {
public:
    explicit TNumberText(char16_t* out) : FText(out) {}
    void Put(char16_t c) { FText[FSize++] = c; }
    void PutAscii(std::string_view ascii) {
        for (const char c : ascii) {
            Put(static_cast<char16_t>(c));
        }
    }
    std::size_t Size() const { return FSize; }

private:
    char16_t* FText;
    std::size_t FSize = 0;
};

// A positive finite number limited to 15 significant digits: Digits[0].Digits[1..14] x 10^Exponent.
struct TFifteenDigits {
    std::array<char, 15> Digits{};
    int Exponent = 0;
};

int ParseExponent(const char* first, const char* last) {
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    int exponent = 0;
    std::from_chars(first, last, exponent);
    return negative ? -exponent : exponent;
}

// Rounds `magnitude` to 15 significant digits, a half rounded away from zero. The 16-digit
// correctly rounded form decides every case but one: when its 16th digit is 5 the true tail may
// lie either side of the half, so the exact expansion (at most 767 significant digits for a
// double) is consulted.
TFifteenDigits RoundToFifteenDigits(double magnitude) {
    std::array<char, 32> shortBuf{};
    auto res = std::to_chars(shortBuf.data(), shortBuf.data() + shortBuf.size(), magnitude,
                             std::chars_format::scientific, 15);
    const char* text = shortBuf.data();
    const char* end = res.ptr;

    std::array<char, 800> exactBuf; // written only on the rare tie path
    if (text[16] == '5') {
        res = std::to_chars(exactBuf.data(), exactBuf.data() + exactBuf.size(), magnitude,
                            std::chars_format::scientific, 780);
        text = exactBuf.data();
        end = res.ptr;
    }
    // Layout: d.ddd...e[+-]xx
    TFifteenDigits result;
    result.Digits[0] = text[0];
    std::memcpy(result.Digits.data() + 1, text + 2, 14);
    const char sixteenth = text[16];
    const char* e = static_cast<const char*>(std::memchr(text, 'e', static_cast<std::size_t>(end - text)));
    result.Exponent = ParseExponent(e + 1, end);

    if (sixteenth >= '5') {
        int i = 14;
        for (; i >= 0 && result.Digits[static_cast<std::size_t>(i)] == '9'; --i) {
            result.Digits[static_cast<std::size_t>(i)] = '0';
        }
        if (i >= 0) {
            ++result.Digits[static_cast<std::size_t>(i)];
        } else {
            result.Digits[0] = '1';
            ++result.Exponent;
        }
    }
    return result;
}

void PutZero(TNumberText& out, char16_t decimal) {
    out.PutAscii("0");
    out.Put(decimal);
    out.PutAscii("0000");
}

// `digits`: the value in units of the fourth decimal, at least five digits, no leading zero
// before the last five.
void PutFixed(TNumberText& out, bool negative, std::string_view digits,
              TRegionalSeparators separators) {
    if (negative) {
        out.Put(u'-');
    }
    const std::string_view integer = digits.substr(0, digits.size() - 4);
    // The first group holds one to three digits, every later one three.
    std::size_t group = (integer.size() + 2) % 3 + 1;
    for (const char digit : integer) {
        if (group == 0) {
            out.Put(separators.Thousand);
            group = 3;
        }
        out.Put(static_cast<char16_t>(digit));
        --group;
    }
    out.Put(separators.Decimal);
    out.PutAscii(digits.substr(digits.size() - 4));
}

// Writes `units` ten-thousandths (not zero) with grouping and four decimals.
void PutFixedUnits(TNumberText& out, bool negative, std::uint64_t units,
                   TRegionalSeparators separators) {
    std::array<char, 24> digits;
    std::memset(digits.data(), '0', 4); // zeros to pad up to five digits
    const auto res = std::to_chars(digits.data() + 4, digits.data() + digits.size(), units);
    const auto length = static_cast<std::size_t>(res.ptr - (digits.data() + 4));
    const std::size_t pad = length < 5 ? 5 - length : 0;
    PutFixed(out, negative, std::string_view(digits.data() + 4 - pad, length + pad), separators);
}

void PutExponentForm(TNumberText& out, bool negative, const TFifteenDigits& d, char16_t decimal) {
    if (negative) {
        out.Put(u'-');
    }
    out.Put(static_cast<char16_t>(d.Digits[0]));
    std::size_t last = d.Digits.size();
    while (last > 1 && d.Digits[last - 1] == '0') {
        --last;
    }
    if (last > 1) {
        out.Put(decimal);
        out.PutAscii(std::string_view(d.Digits.data() + 1, last - 1));
    }
    out.Put(u'E');
    int exponent = d.Exponent;
    if (exponent < 0) {
        out.Put(u'-');
        exponent = -exponent;
    }
    std::array<char, 8> buf{};
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), exponent);
    const auto length = static_cast<std::size_t>(res.ptr - buf.data());
    for (std::size_t pad = length; pad < 4; ++pad) {
        out.Put(u'0');
    }
    out.PutAscii(std::string_view(buf.data(), length));
}

// Below this magnitude the value times 10^4 is an exact enough double (error under 0.002) and
// the 15-digit limit lies at the sixth decimal or further right, moving the value by at most
// 0.005 units of the fourth decimal. So unless the value sits within 0.01 units of a half at
// the fifth decimal, rounding it straight to four decimals gives the same digits as the
// two-step rounding, without any decimal expansion.
constexpr double FastPathLimit = 1e9;
constexpr double HalfMargin = 0.01;

void PutScaledNumber(TNumberText& out, double value, TRegionalSeparators separators) {
    const bool negative = std::signbit(value);
    const double magnitude = std::fabs(value);
    if (magnitude < FastPathLimit) {
        const double scaled = magnitude * 10000.0;
        const double whole = std::floor(scaled);
        const double fraction = scaled - whole;
        if (std::fabs(fraction - 0.5) > HalfMargin) {
            const auto units = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1U : 0U);
            if (units == 0) {
                PutZero(out, separators.Decimal); // rounds to zero: written without a sign
            } else {
                PutFixedUnits(out, negative, units, separators);
            }
            return;
        }
    }
    if (magnitude == 0.0) {
        PutZero(out, separators.Decimal);
        return;
    }
    const TFifteenDigits d = RoundToFifteenDigits(magnitude);
    if (d.Exponent >= 15) {
        PutExponentForm(out, negative, d, separators.Decimal);
        return;
    }

    // The value times 10^4, rounded half away from zero, as a digit string: the 15 digits
    // stand for Digits x 10^(Exponent - 14), so 10^4 times that shifts them by Exponent - 10.
    std::string scaled;
    const int shift = d.Exponent - 10;
    if (shift >= 0) {
        scaled.assign(d.Digits.begin(), d.Digits.end());
        scaled.append(static_cast<std::size_t>(shift), '0');
    } else {
        const int keep = 15 + shift; // digits left of the rounding position
        bool roundUp = false;
        if (keep >= 0) {
            scaled.assign(d.Digits.begin(), d.Digits.begin() + keep);
            roundUp = keep < 15 && d.Digits[static_cast<std::size_t>(keep)] >= '5';
        }
        if (roundUp) {
            int i = static_cast<int>(scaled.size()) - 1;
            for (; i >= 0 && scaled[static_cast<std::size_t>(i)] == '9'; --i) {
                scaled[static_cast<std::size_t>(i)] = '0';
            }
            if (i >= 0) {
                ++scaled[static_cast<std::size_t>(i)];
            } else {
                scaled.insert(scaled.begin(), '1');
            }
        }
    }
    const std::size_t firstNonZero = scaled.find_first_not_of('0');
    if (firstNonZero == std::string::npos) {
        PutZero(out, separators.Decimal); // rounds to zero: written without a sign
        return;
    }
    scaled.erase(0, firstNonZero);
    if (scaled.size() < 5) {
        scaled.insert(0, 5 - scaled.size(), '0');
    }
    PutFixed(out, negative, scaled, separators);
}

} // namespace

std::size_t WriteScaledNumber(double value, TRegionalSeparators separators, char16_t* out) {
    TNumberText text(out);
    PutScaledNumber(text, value, separators);
    return text.Size();
}

std::u16string FormatScaledNumber(double value, TRegionalSeparators separators) {
    std::u16string text(MaxScaledNumberLength, u'0');
    text.resize(WriteScaledNumber(value, separators, text.data()));
    return text;
}
