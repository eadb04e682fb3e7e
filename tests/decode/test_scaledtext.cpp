#include "framedecoder.h"
#include "u16print.h"

#include <gtest/gtest.h>

#include <limits>

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

} // namespace
