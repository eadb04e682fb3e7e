#include "framesupport.h"
#include "decode/orodja.h"
#include "u16print.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct FilterCase {
    std::u16string input;
    std::u16string expected;
};

TEST(FilterAlphaNum, KeepsAsciiLettersAndDigitsOnly) {
    const FilterCase cases[] = {
        {u"", u""},
        {u"   ", u""},
        {u" -:.,;#$ \t\r\n", u""},
        {u" 0xC004 C9BA-7175:3000 ", u"0xC004C9BA71753000"},
        {u"c004", u"c004"},                        // case stays as typed
        {u"\tC0\u000104\n", u"C004"},               // control characters anywhere
        {u"G1h", u"G1h"},                          // letters beyond F survive
        {u"\u00C9A\u00E91", u"A1"},                // accented letters dropped
        {u"\uFF11\uFF21 2", u"2"},                 // full-width digit and letter dropped
        {u"@[`{/:", u""},                          // the neighbours of each ASCII range
        {u"09AZaz", u"09AZaz"},                    // the ends of each range
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FilterAlphaNum(c.input), c.expected) << ToNarrow(c.input);
    }
}

struct BinCase {
    std::int32_t digits;
    std::uint64_t value;
    std::u16string expected;
};

TEST(IntToBin, RendersTheLowBitsMostSignificantFirst) {
    const BinCase cases[] = {
        {2, 3, u"11"},
        {2, 1, u"01"},
        {2, 2, u"10"},
        {2, 0, u"00"},
        {2, 5, u"01"}, // bit 2 is not shown
        {0, 7, u""},
        {-3, 7, u""},
        {1, 0xFFFFFFFFFFFFFFFFULL, u"1"},
        {64, 0xC004C9BA71753000ULL,
         u"1100000000000100110010011011101001110001011101010011000000000000"},
        {64, 0, std::u16string(64, u'0')},
        {64, 0xFFFFFFFFFFFFFFFFULL, std::u16string(64, u'1')},
        {66, 0x8000000000000001ULL, u"001" + std::u16string(62, u'0') + u"1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IntToBin(c.digits, c.value), c.expected) << c.digits << " digits of " << c.value;
    }
}

TEST(TableCRC6, EveryEntryIsTheCrcOfItsIndex) {
    for (std::uint64_t i = 0; i < 64; ++i) {
        EXPECT_EQ(tableCRC6[i], SerialCrc6(i, 6)) << "entry " << i;
    }
}

struct CrcCase {
    std::int32_t groups;
    std::uint64_t data;
    std::uint8_t expected;
};

TEST(CalcCRC6, KnownValues) {
    const CrcCase cases[] = {
        {1, 0x00, 0x00},
        {1, 0x01, 0x03},
        {1, 0x3F, 0x02},
        {5, 105763723, 0x15}, // position 26440930 and status 11 of the default frame
        {0, 105763723, 0x00},
        {-7, 105763723, 0x00},
        {1, 0xFFC1, 0x03},    // bits above the one group are ignored
        {5, 0xFFFFFFFFC0000000ULL | 105763723, 0x15}, // only the low 30 bits count
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CalcCRC6(c.groups, c.data), c.expected) << c.groups << " groups of " << c.data;
    }
}

TEST(CalcCRC6, EqualsBitSerialCrcForRandomWordsOfUpTo54Bits) {
    std::mt19937_64 rng(20240104);
    for (int bits = 1; bits <= 54; ++bits) {
        const int groups = (bits + 5) / 6;
        for (int trial = 0; trial < 400; ++trial) {
            const std::uint64_t data = rng() >> (64 - bits);
            ASSERT_EQ(CalcCRC6(groups, data), SerialCrc6(data, bits))
                << bits << " bits: " << data;
            // Extra zero groups above the word change nothing, and neither do higher bits.
            ASSERT_EQ(CalcCRC6(groups + 3, data), SerialCrc6(data, bits));
            const std::uint64_t noise = bits == 54 ? 0 : (rng() << (6 * groups));
            ASSERT_EQ(CalcCRC6(groups, data | noise), SerialCrc6(data, bits));
        }
    }
}

TEST(CalcCRC6, GroupsBeyondTheWordReadAsZero) {
    std::mt19937_64 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        const std::uint64_t data = rng();
        const std::uint8_t all = SerialCrc6(data, 64);
        for (std::int32_t groups : {11, 12, 40, 1000, INT32_MAX}) {
            ASSERT_EQ(CalcCRC6(groups, data), all) << groups;
        }
        ASSERT_LT(CalcCRC6(10, data), 64);
    }
}

} // namespace
