#include "decode/framedecoder.h"
#include "u16print.h"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace {

struct FormatCase {
    double value;
    std::u16string point;  // with '.' decimal and ',' thousands
    std::u16string comma;  // with ',' decimal and '.' thousands
};

TEST(FormatScaledNumber, LayoutWithBothSeparatorConventions) {
    const FormatCase cases[] = {
        {0.0, u"0.0000", u"0,0000"},
        {-0.0, u"0.0000", u"0,0000"},
        {1234.5, u"1,234.5000", u"1.234,5000"},
        {-1234.5, u"-1,234.5000", u"-1.234,5000"},
        {100.0, u"100.0000", u"100,0000"},
        {1000.0, u"1,000.0000", u"1.000,0000"},
        {100000.0, u"100,000.0000", u"100.000,0000"},
        {1000000.0, u"1,000,000.0000", u"1.000.000,0000"},
        {999999999999999.0, u"999,999,999,999,999.0000", u"999.999.999.999.999,0000"},
        {1125899906842623.0, u"1.12589990684262E0015", u"1,12589990684262E0015"},
        {-1125899906842623.0, u"-1.12589990684262E0015", u"-1,12589990684262E0015"},
        {1e15, u"1E0015", u"1E0015"},
        {1.5e20, u"1.5E0020", u"1,5E0020"},
        {1e100, u"1E0100", u"1E0100"},
        {std::numeric_limits<double>::max(), u"1.79769313486232E0308", u"1,79769313486232E0308"},
        {0.5, u"0.5000", u"0,5000"},
    };
    const TRegionalSeparators point{u'.', u','};
    const TRegionalSeparators comma{u',', u'.'};
    for (const auto& c : cases) {
        EXPECT_EQ(FormatScaledNumber(c.value, point), c.point) << c.value;
        EXPECT_EQ(FormatScaledNumber(c.value, comma), c.comma) << c.value;
    }
}

struct RoundCase {
    double value;
    std::u16string expected;
};

TEST(FormatScaledNumber, RoundsTo15DigitsThenFourDecimalsHalfAwayFromZero) {
    const RoundCase cases[] = {
        // Exact halves at the fifth decimal round away from zero, not to even.
        {0.03125, u"0.0313"},
        {-0.03125, u"-0.0313"},
        {0.15625, u"0.1563"},
        // Not exact in binary, but exact halves once limited to 15 significant digits.
        {0.00015, u"0.0002"},
        {1.00005, u"1.0001"},
        {-1.00005, u"-1.0001"},
        // A carry through every digit.
        {9999.99995, u"10,000.0000"},
        {0.99995, u"1.0000"},
        // Tiny values round to zero and lose their sign.
        {0.00004, u"0.0000"},
        {-0.00004, u"0.0000"},
        {-0.00005, u"-0.0001"},
        {std::numeric_limits<double>::denorm_min(), u"0.0000"},
        {-std::numeric_limits<double>::denorm_min(), u"0.0000"},
        // Exact ties at the 15th significant digit round away from zero as well.
        {123456789012344.5, u"123,456,789,012,345.0000"},
        {-123456789012344.5, u"-123,456,789,012,345.0000"},
        {1234567890123445.0, u"1.23456789012345E0015"},
        // Just below a tie: the exact binary value decides, not a rounded digit string.
        {123456789012344.49, u"123,456,789,012,344.0000"},
        // Rounding to 15 digits can push the integer part to 16 digits.
        {999999999999999.9, u"1E0015"},
        {99999999999999.99, u"100,000,000,000,000.0000"},
        {141.84023, u"141.8402"},
        {360.0, u"360.0000"},
    };
    const TRegionalSeparators point{u'.', u','};
    for (const auto& c : cases) {
        EXPECT_EQ(FormatScaledNumber(c.value, point), c.expected)
            << std::hexfloat << c.value << std::defaultfloat << " = " << c.value;
    }
}

// The layout rule restated on the exact decimal expansion of the double, with string digits
// only: round to 15 significant digits, then to four decimals, a half away from zero each time.
// Below 10^15 (no exponent form), no grouping.
std::string ReferenceFixed(double value) {
    std::array<char, 1500> buf{};
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value),
                                   std::chars_format::fixed, 1100);
    std::string exact(buf.data(), res.ptr); // every digit of the binary value
    std::string digits;
    int pointAt = 0; // digits before the decimal point
    for (const char c : exact) {
        if (c == '.') {
            pointAt = static_cast<int>(digits.size());
        } else {
            digits.push_back(c);
        }
    }
    // Round the digit string at `keep` digits (a half away from zero) and cut it there.
    auto roundAt = [&digits, &pointAt](int keep) {
        if (keep < 0) {
            digits.assign("0");
            pointAt = 1;
            return;
        }
        if (keep >= static_cast<int>(digits.size())) {
            return;
        }
        const bool up = digits[static_cast<std::size_t>(keep)] >= '5';
        digits.resize(static_cast<std::size_t>(keep));
        if (up) {
            int i = keep - 1;
            for (; i >= 0 && digits[static_cast<std::size_t>(i)] == '9'; --i) {
                digits[static_cast<std::size_t>(i)] = '0';
            }
            if (i >= 0) {
                ++digits[static_cast<std::size_t>(i)];
            } else {
                digits.insert(digits.begin(), '1');
                ++pointAt;
            }
        }
        digits.append(static_cast<std::size_t>(std::max(0, pointAt + 4 - keep)), '0');
    };
    const std::size_t first = digits.find_first_not_of('0');
    if (first != std::string::npos) {
        roundAt(static_cast<int>(first) + 15);
    }
    roundAt(pointAt + 4);
    std::string integer = digits.substr(0, static_cast<std::size_t>(pointAt));
    const std::string decimals = digits.substr(static_cast<std::size_t>(pointAt), 4);
    integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size() - 1));
    const bool zero = integer == "0" && decimals == "0000";
    return (value < 0 && !zero ? "-" : "") + integer + "." + decimals;
}

std::string WithoutGrouping(const std::u16string& text) {
    std::string out;
    for (const char16_t c : text) {
        if (c != u',') {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

TEST(FormatScaledNumber, AgreesWithTheExactDecimalRuleNearHalvesAndElsewhere) {
    std::mt19937_64 rng(4);
    const TRegionalSeparators point{u'.', u','};
    int checked = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        double value = 0.0;
        switch (trial % 4) {
        case 0: // positions scaled as the window scales them
            value = static_cast<double>(rng() >> (rng() % 64)) *
                    (static_cast<double>(static_cast<std::int32_t>(rng() % 20000001) - 10000000) /
                     static_cast<double>(1 + rng() % 2100000000));
            break;
        case 1: { // a few units in the last place around a half at the fifth decimal
            const double half = (static_cast<double>(rng() % 100000000000ULL) + 0.5) / 1e4;
            value = half;
            for (int step = static_cast<int>(rng() % 9) - 4; step != 0; step += step > 0 ? -1 : 1) {
                value = std::nextafter(value, step > 0 ? 1e300 : 0.0);
            }
            break;
        }
        case 2: // around a half at the 15th significant digit, at every magnitude
            value = (static_cast<double>(rng() % 100000000000000ULL) + 0.5) *
                    std::pow(10.0, static_cast<double>(rng() % 15) - 14.0);
            break;
        default: // small values near the rounding to zero
            value = static_cast<double>(rng() % 200) / 1e6 + static_cast<double>(rng() % 3) * 5e-5;
            break;
        }
        if (rng() % 2 == 0) {
            value = -value;
        }
        if (!(std::fabs(value) < 1e15)) {
            continue;
        }
        ASSERT_EQ(WithoutGrouping(FormatScaledNumber(value, point)), ReferenceFixed(value))
            << std::hexfloat << value;
        ++checked;
    }
    EXPECT_GT(checked, 19000);
}

} // namespace
