// Text to frame bits: cleaning in UTF-16 and in UTF-8, and how the text's length sets the
// frame's length.

#include "decode/frametext.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

struct TParseCase {
    const char* Text;
    bool Valid;
    int Length;
    std::uint64_t Words[4];
};

TEST(ParseFrameHex, TextLengthSetsTheFrameLength) {
    const TParseCase cases[] = {
        {"C004C9BA71753000", true, 64, {0xC004C9BA71753000}},
        {"4C9BA71753", true, 64, {0x4C9BA71753}},                    // right-aligned
        {"0000C004C9BA71753000", true, 64, {0xC004C9BA71753000}},    // 16 significant digits
        {"c004c9ba71753000", true, 64, {0xC004C9BA71753000}},
        {"1C004C9BA71753000", true, 68, {0x1C004C9BA7175300, 0}},    // every digit kept
        {"0001C004C9BA71753000", true, 80, {0x0001C004C9BA7175, 0x3000000000000000}},
        {"C004C9BA71753000C004C9BA71753000", true, 128, {0xC004C9BA71753000, 0xC004C9BA71753000}},
        {"00C004C9BA71753000", true, 64, {0xC004C9BA71753000}},      // leading zeros dropped
        {"", false, 0, {}},
        {"G1", false, 0, {}},
        {"0X12", false, 0, {}},
    };
    for (const auto& c : cases) {
        TFrameBits bits;
        const std::string text = c.Text;
        ASSERT_EQ(ParseFrameHex(text, bits), c.Valid) << text;
        if (!c.Valid) {
            continue;
        }
        EXPECT_EQ(bits.Length, c.Length) << text;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(bits.Words[static_cast<std::size_t>(i)], c.Words[i]) << text << " word " << i;
        }
        TFrameBits wide;
        ASSERT_TRUE(ParseFrameHex(std::u16string(text.begin(), text.end()), wide));
        EXPECT_EQ(wide.Words, bits.Words);
        EXPECT_EQ(wide.Length, bits.Length);
    }
}

// A signal capture's bits: BitCount bits left-aligned, whatever the digits' count, leading
// zeros kept, the filler after the last bit cleared.
TEST(ParseFrameBitsHex, BitCountSetsTheFrameLength) {
    const TParseCase cases[] = {
        {"C004C9BA71753000", true, 64, {0xC004C9BA71753000}},
        {"0004C9BA71753000", true, 64, {0x0004C9BA71753000}},       // leading zeros are bits
        {"C004C9BA7175300", true, 58, {0xC004C9BA71753000}},        // 15 digits: not right-aligned
        {"C004C9BA7175300F", true, 61, {0xC004C9BA71753008}},       // filler bits cleared
        {"FFFFFFFFFFFFFFFFF", true, 65, {~std::uint64_t{0}, 0x8000000000000000}},
        {"c004C9BA71753000", true, 3, {0xC000000000000000}},        // digits after them ignored
        {"C0", false, 0, {}},                                        // no bits: no frame
        {"C0", false, 9, {}},                                        // too few digits
        {"C0G4", false, 16, {}},                                     // not a digit
    };
    for (const auto& c : cases) {
        const std::string text = c.Text;
        SCOPED_TRACE(text + " " + std::to_string(c.Length));
        TFrameBits bits;
        ASSERT_EQ(ParseFrameBitsHex(text, c.Length, bits), c.Valid);
        if (!c.Valid) {
            continue;
        }
        EXPECT_EQ(bits.Length, c.Length);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(bits.Words[static_cast<std::size_t>(i)], c.Words[i]) << " word " << i;
        }
    }
    TFrameBits bits;
    EXPECT_FALSE(ParseFrameBitsHex(std::string(65, 'F'), 257, bits)); // above MaxLength
    ASSERT_TRUE(ParseFrameBitsHex(std::string(64, 'F'), 256, bits));
    EXPECT_TRUE(bits.Bit(255));
}

TEST(ParseFrameHex, SixtyFourDigitsAtMost) {
    TFrameBits bits;
    const std::string full(64, 'F');
    ASSERT_TRUE(ParseFrameHex(full, bits));
    EXPECT_EQ(bits.Length, 256);
    EXPECT_TRUE(bits.Bit(255));
    ASSERT_TRUE(ParseFrameHex("000" + full, bits)); // leading zeros beyond 64 digits dropped
    EXPECT_EQ(bits.Length, 256);
    ASSERT_TRUE(ParseFrameHex("0" + std::string(63, 'F'), bits)); // a leading zero is a bit
    EXPECT_EQ(bits.Length, 256);
    EXPECT_FALSE(bits.Bit(0));
    EXPECT_TRUE(bits.Bit(4));
    EXPECT_FALSE(ParseFrameHex("1" + full, bits)); // 65 significant digits
}

TEST(CleanFrameText, Utf8CleaningEqualsTheWindowsUtf16Cleaning) {
    const char* const texts[] = {
        " 0xC004 C9BA-7175:3000 ", "C0 04 C9 BA 71 75 30 00\r", "10x5", "0x0x12", "0X12",
        "\xC3\xA4" "C0\xEF\xBC\x90" "04", // ä, then a full-width zero: both dropped
        "#$%", "", "x0xx0",
    };
    for (const char* text : texts) {
        std::u16string wide;
        for (const char* p = text; *p != 0; ++p) {
            // Non-ASCII bytes stand for non-ASCII characters here; both are dropped.
            wide.push_back(static_cast<unsigned char>(*p) < 0x80 ? static_cast<char16_t>(*p) : u'\u00E4');
        }
        const std::u16string expected = CleanFrameText(wide);
        const std::string narrow = CleanFrameText(std::string(text));
        EXPECT_EQ(std::u16string(narrow.begin(), narrow.end()), expected) << text;
        std::string appended = "kept";
        AppendCleanFrameText(text, appended);
        EXPECT_EQ(appended, "kept" + narrow) << text;
    }
    EXPECT_EQ(CleanFrameText(std::string(" 0xC004 C9BA-7175:3000 ")), "C004C9BA71753000");
    EXPECT_EQ(CleanFrameText(std::string("0x0x12")), "0x12");
}

TEST(ParseFrameHex, EightBitTextReadsAsTheSameTextInUtf16) {
    // The 8-bit form reads the window's 16 digits eight at a time; the UTF-16 form one by one.
    std::mt19937_64 random(16);
    // Hexadecimal digits first; then the bytes next to their ranges, and bytes above 0x7F.
    const std::string alphabet = "0123456789ABCDEFabcdef0000FFFFgGxX z/:@`\x7F\x80\xC0\xFF";
    for (int i = 0; i < 20000; ++i) {
        std::string text(i % 50 == 0 ? random() % 40 : 16, '0');
        for (char& c : text) {
            c = alphabet[random() % (i % 3 == 0 ? alphabet.size() : 22)];
        }
        std::u16string wide;
        for (const char c : text) {
            wide.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'\u00C0');
        }
        TFrameBits narrowBits;
        TFrameBits wideBits;
        const bool narrowOk = ParseFrameHex(text, narrowBits);
        ASSERT_EQ(narrowOk, ParseFrameHex(wide, wideBits)) << text;
        if (narrowOk) {
            EXPECT_EQ(narrowBits.Words, wideBits.Words) << text;
            EXPECT_EQ(narrowBits.Length, wideBits.Length) << text;
        }
    }
}

} // namespace
