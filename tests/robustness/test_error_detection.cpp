// Error-detection figure of the frame check: for every position length 1 to 50, valid frames are
// built and every single bit and every pair of bits of the part the CRC protects (position, nE,
// nW and the CRC itself) is flipped. x^6 + x + 1 is primitive, so each such frame (at most 58
// protected bits) must decode with a failed CRC. The start and CDS bits are not protected and
// stay as built, so the start bit is still found in the same place.

#include "decode/framedecoder.h"
#include "framesupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kSeed = 20261209;
constexpr int kFramesPerLength = 4;

struct TTestFrame {
    std::uint64_t Word = 0;
    std::int32_t AckLength = 0;
    std::uint64_t Position = 0;
    std::uint8_t Status = 0;
    int FirstProtected = 0; // index of the first position bit, counted from s0
};

// Received bit s<index> lies at word bit 63 - index.
std::uint64_t BitMask(int index) { return std::uint64_t{1} << (63 - index); }

// A valid frame with an n-bit position that ends inside the word: an acknowledge run that holds
// no 0-then-1 pair after s0 (any s0, then ones, then zeros, the last bit 0), start, CDS,
// position, nE, nW, the inverted CRC, and random bits after it.
TTestFrame BuildTestFrame(std::mt19937_64& random, std::int32_t n) {
    TTestFrame f;
    const int maxAck = 64 - n - 10;
    f.AckLength = 2 + static_cast<std::int32_t>(random() % static_cast<std::uint64_t>(maxAck - 1));
    f.Position = random() & ((std::uint64_t{1} << n) - 1);
    f.Status = static_cast<std::uint8_t>(random() & 3);
    f.FirstProtected = f.AckLength + 2;

    TFrameLayoutParams layout;
    layout.PositionBits = n;
    TFrameContent content;
    content.AckLength = f.AckLength;
    content.FirstBit = (random() & 1) != 0;
    content.AckOnes = static_cast<int>(random() % static_cast<std::uint64_t>(f.AckLength - 1));
    content.Cds = (random() & 1) != 0;
    content.Count = f.Position;
    content.Status = f.Status;
    content.TailBits = random();
    f.Word = BuildFrame(layout, content).Received.Packed().Words[0];
    return f;
}

std::u16string HexText(std::uint64_t word) {
    static const char digits[] = "0123456789ABCDEF";
    std::u16string text(16, u'0');
    for (int i = 15; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = static_cast<char16_t>(digits[word & 0xF]);
        word >>= 4;
    }
    return text;
}

TDecodedFrame Decode(std::uint64_t word, std::int32_t n) {
    return DecodeFrame(HexText(word), n, 360, 67108864, u"deg", TRegionalSeparators{});
}

TEST(ErrorDetection, EveryOneAndTwoBitErrorInTheProtectedBitsFailsTheCrc) {
    std::mt19937_64 random(kSeed);
    long long singles = 0;
    long long pairs = 0;
    long long missed = 0;
    for (std::int32_t n = 1; n <= 50; ++n) {
        SCOPED_TRACE("position length " + std::to_string(n));
        const int protectedBits = n + 8;
        for (int frame = 0; frame < kFramesPerLength; ++frame) {
            const TTestFrame f = BuildTestFrame(random, n);
            const TDecodedFrame good = Decode(f.Word, n);
            ASSERT_EQ(good.Outcome, TDecodeOutcome::doDecoded) << std::hex << f.Word;
            ASSERT_EQ(good.AckLength, f.AckLength) << std::hex << f.Word;
            ASSERT_EQ(good.PositionRaw, f.Position) << std::hex << f.Word;
            ASSERT_EQ(good.StatusBits, f.Status) << std::hex << f.Word;
            ASSERT_TRUE(good.CrcOk) << "valid frame rejected: " << std::hex << f.Word;
            ASSERT_FALSE(good.Truncated) << std::hex << f.Word;

            auto check = [&](std::uint64_t corrupted) {
                const TDecodedFrame bad = Decode(corrupted, n);
                if (bad.Outcome != TDecodeOutcome::doDecoded || bad.AckLength != f.AckLength ||
                    bad.CrcOk) {
                    if (++missed <= 10) {
                        ADD_FAILURE() << "corrupted frame " << std::hex << corrupted << " (valid "
                                      << f.Word << ") decoded with CrcOk " << bad.CrcOk
                                      << ", AckLength " << std::dec << bad.AckLength;
                    }
                }
            };
            for (int a = 0; a < protectedBits; ++a) {
                const std::uint64_t first = f.Word ^ BitMask(f.FirstProtected + a);
                check(first);
                ++singles;
                for (int b = a + 1; b < protectedBits; ++b) {
                    check(first ^ BitMask(f.FirstProtected + b));
                    ++pairs;
                }
            }
        }
    }
    std::printf("error detection: %d valid frames per length 1-50, %lld corrupted frames tried "
                "(%lld one-bit, %lld two-bit), %lld passed the CRC\n",
                kFramesPerLength, singles + pairs, singles, pairs, missed);
    EXPECT_EQ(missed, 0);
    EXPECT_EQ(singles, kFramesPerLength * (9 + 58) * 50 / 2);
}

} // namespace
