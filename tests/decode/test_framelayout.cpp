// The bit level of the decoding library: the CRC for every polynomial BiSS devices use, frame
// layouts and their limits, and the decode of frames built for random layouts.

#include "decode/framedecoder.h"
#include "decode/framelayout.h"
#include "framesupport.h"
#include "decode/orodja.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

namespace {

constexpr std::uint32_t BissPolynomials[] = {0x43, 0x25, 0x97, 0x89, 0x12F, 0x190D9, 0x13};

int Degree(std::uint32_t polynomial) {
    int degree = 0;
    while ((polynomial >> (degree + 1)) != 0) {
        ++degree;
    }
    return degree;
}

TEST(BissCrc, TableCrcEqualsBitSerialForEveryPolynomialLengthAndStart) {
    std::mt19937_64 rng(9);
    for (const std::uint32_t poly : BissPolynomials) {
        SCOPED_TRACE("polynomial " + std::to_string(poly));
        const TBissCrc crc(poly);
        ASSERT_EQ(crc.Width(), Degree(poly));
        for (int bits = 0; bits <= 128; ++bits) {
            for (int trial = 0; trial < 20; ++trial) {
                const std::uint64_t high = rng();
                const std::uint64_t low = rng();
                const auto start = static_cast<std::uint16_t>(trial < 5 ? 0 : rng() & crc.Mask());
                ASSERT_EQ(crc.Calc(high, low, bits, start), SerialCrc(poly, start, high, low, bits))
                    << bits << " bits";
                if (bits <= TBissCrc::MaxSlicedBits && bits > 0) {
                    // The sliced form wants the bits above the data cleared.
                    const std::uint64_t h = bits <= 64 ? 0 : high & ((std::uint64_t{1} << (bits - 64)) - 1);
                    const std::uint64_t l = bits >= 64 ? low : low & ((std::uint64_t{1} << bits) - 1);
                    ASSERT_EQ(crc.CalcZeroStart(h, l, (bits + 7) / 8), SerialCrc(poly, 0, h, l, bits));
                }
            }
        }
    }
}

TEST(BissCrc, WindowPolynomialAgreesWithCalcCRC6) {
    const TBissCrc crc(0x43);
    std::mt19937_64 rng(6);
    for (int trial = 0; trial < 2000; ++trial) {
        const int n = 1 + static_cast<int>(rng() % 50);
        const std::uint64_t data = rng() >> (64 - (n + 2));
        const int groups = (n + 2 + 5) / 6;
        ASSERT_EQ(crc.Calc(0, data, n + 2, 0), CalcCRC6(groups, data));
    }
}

struct TBadLayout {
    TFrameLayoutParams Params;
    const char* Mentions; // the message names the value
};

TFrameLayoutParams With(int m, int n, int k, std::uint32_t poly = 0x43, std::uint32_t start = 0) {
    TFrameLayoutParams p;
    p.MultiTurnBits = m;
    p.PositionBits = n;
    p.StatusBits = k;
    p.CrcPolynomial = poly;
    p.CrcStart = start;
    return p;
}

TEST(FrameLayout, RejectsEveryValueOutsideItsRangeWithAMessageNamingIt) {
    const TBadLayout cases[] = {
        {With(-1, 26, 2), "multi-turn bits: -1"},
        {With(33, 26, 2), "multi-turn bits: 33"},
        {With(0, 0, 2), "single-turn position bits: 0"},
        {With(0, 65, 2), "single-turn position bits: 65"},
        {With(12, 53, 2), "12 + 53 = 65"},
        {With(0, 26, 3), "status bits: 3"},
        {With(0, 26, -1), "status bits: -1"},
        {With(0, 26, 2, 0x1), "CRC polynomial 0x1 "},
        {With(0, 26, 2, 0x0), "CRC polynomial 0x0 "},
        {With(0, 26, 2, 0x20000), "CRC polynomial 0x20000 "},
        {With(0, 26, 2, 0x43, 0x40), "start value 0x40"},
        {With(0, 26, 2, 0x190D9, 0x10000), "start value 0x10000"},
    };
    for (const auto& c : cases) {
        const std::string problem = TFrameLayout::CheckParams(c.Params);
        EXPECT_NE(problem.find(c.Mentions), std::string::npos) << problem;
        EXPECT_THROW(TFrameLayout{c.Params}, std::invalid_argument) << c.Mentions;
    }
    for (const auto& good : {With(0, 1, 0), With(32, 32, 2, 0x190D9, 0xFFFF), With(0, 64, 1, 0x3)}) {
        EXPECT_EQ(TFrameLayout::CheckParams(good), "");
        EXPECT_NO_THROW(TFrameLayout{good});
    }
}

// A random layout and a frame for it, of 64 to 256 bits (sometimes cut short).
struct TRandomCase {
    TFrameLayoutParams Layout;
    TFrameContent Content;
};

TRandomCase RandomCase(std::mt19937_64& rng) {
    TRandomCase c;
    TFrameLayoutParams& p = c.Layout;
    p.MultiTurnBits = rng() % 3 == 0 ? 0 : static_cast<int>(rng() % 33);
    p.PositionBits = 1 + static_cast<int>(rng() % static_cast<unsigned>(64 - p.MultiTurnBits));
    p.StatusBits = static_cast<int>(rng() % 3);
    p.CrcPolynomial = BissPolynomials[rng() % std::size(BissPolynomials)];
    p.CrcStart = rng() % 2 == 0 ? 0 : static_cast<std::uint32_t>(rng() & ((1U << Degree(p.CrcPolynomial)) - 1));
    p.CrcInverted = rng() % 4 != 0;
    p.Coding = rng() % 3 == 0 ? TPositionCoding::pcGray : TPositionCoding::pcBinary;
    p.Signed = rng() % 3 == 0;

    TFrameContent& s = c.Content;
    s.AckLength = 2 + static_cast<int>(rng() % 60);
    s.FirstBit = (rng() & 1U) != 0;
    s.Cds = (rng() & 1U) != 0;
    s.Count = rng();
    s.Status = static_cast<std::uint8_t>(rng() & 3U);
    s.TotalBits = 64 + 4 * static_cast<int>(rng() % 49); // whole hex digits, 64 to 256
    s.TailBits = rng();
    return c;
}

std::uint64_t SignExtended(std::uint64_t value, int width) {
    if (width == 64) {
        return value;
    }
    const std::uint64_t sign = std::uint64_t{1} << (width - 1);
    value &= (sign << 1) - 1;
    return (value ^ sign) - sign;
}

TEST(DecodeFrameBits, RandomLayoutsRoundTripThroughTheFrameBuilder) {
    std::mt19937_64 rng(20261209);
    int whole = 0;
    int cut = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        const TRandomCase c = RandomCase(rng);
        const TFrameLayoutParams& p = c.Layout;
        const TFrameLayout layout(p);
        TBuiltFrame built = BuildFrame(p, c.Content);
        if (trial % 8 == 0) {
            // Cut somewhere after the start bit and before the CRC's last bit.
            const int from = c.Content.AckLength + 1;
            const int cutAt = from + static_cast<int>(rng() % static_cast<unsigned>(built.EndBit - from));
            built.Received.Bits.resize(static_cast<std::size_t>(cutAt));
        }
        const TFrameBits bits = built.Received.Packed();
        if (bits.Length < built.EndBit) {
            ++cut;
        } else {
            ++whole;
        }
        // Every third frame goes through the text layer as its hexadecimal text.
        if (trial % 3 == 0 && bits.Length > 64 && bits.Length % 4 == 0 && bits.Length == built.Received.Size()) {
            TFrameBits parsed;
            ASSERT_TRUE(ParseFrameHex(built.Received.Hex(trial % 2 == 0).substr(0, 64), parsed));
            if (bits.Words[0] >> 60 != 0) { // a leading zero digit would shorten a short text
                ASSERT_EQ(parsed.Length, bits.Length);
                ASSERT_EQ(parsed.Words, bits.Words);
            }
        }
        const TFrameFields f = DecodeFrameBits(layout, bits);
        SCOPED_TRACE(built.Received.Hex() + " m=" + std::to_string(p.MultiTurnBits) +
                     " n=" + std::to_string(p.PositionBits) + " k=" + std::to_string(p.StatusBits) +
                     " poly=" + std::to_string(p.CrcPolynomial));
        ASSERT_EQ(f.Outcome, TDecodeOutcome::doDecoded);
        ASSERT_EQ(f.AckLength, c.Content.AckLength);
        const bool truncated = built.EndBit > bits.Length;
        ASSERT_EQ(f.Truncated, truncated);

        const int valueBits = p.MultiTurnBits + p.PositionBits;
        const std::uint64_t count = valueBits == 64 ? c.Content.Count
                                                    : c.Content.Count & ((std::uint64_t{1} << valueBits) - 1);
        if (!truncated) {
            ASSERT_TRUE(f.CrcOk);
            ASSERT_EQ(f.CrcCalculated, built.CrcCalculated);
            ASSERT_EQ(f.CrcReceived, built.CrcSent);
            ASSERT_EQ(f.StatusBits, c.Content.Status & ((1U << p.StatusBits) - 1U));
            ASSERT_EQ(f.Error, p.StatusBits >= 1 && (f.StatusBits >> (p.StatusBits - 1)) == 0);
            ASSERT_EQ(f.Warning, p.StatusBits == 2 && (f.StatusBits & 1U) == 0);
            const std::uint64_t position =
                p.PositionBits == 64 ? count : count & ((std::uint64_t{1} << p.PositionBits) - 1);
            const std::uint64_t multiTurn = p.MultiTurnBits == 0 ? 0 : count >> p.PositionBits;
            if (p.Signed) {
                ASSERT_EQ(f.Count, SignExtended(count, valueBits));
                if (p.MultiTurnBits == 0) {
                    ASSERT_EQ(f.Position, SignExtended(position, p.PositionBits));
                } else {
                    ASSERT_EQ(f.Position, position);
                    ASSERT_EQ(f.MultiTurn, SignExtended(multiTurn, p.MultiTurnBits));
                    // MultiTurn x 2^n + Position, in two's complement arithmetic.
                    ASSERT_EQ(AsSigned(f.Count), AsSigned(f.MultiTurn) * static_cast<std::int64_t>(
                                                     std::uint64_t{1} << p.PositionBits) +
                                                     static_cast<std::int64_t>(f.Position));
                }
            } else {
                ASSERT_EQ(f.Count, count);
                ASSERT_EQ(f.Position, position);
                ASSERT_EQ(f.MultiTurn, multiTurn);
            }
        } else {
            ASSERT_FALSE(f.CrcOk);
        }

        // A CRC that differs from the one sent is never accepted.
        TFrameContent bad = c.Content;
        bad.CrcFlip = 1 << (trial % Degree(p.CrcPolynomial));
        const TFrameFields b = DecodeFrameBits(layout, BuildFrame(p, bad).Received.Packed());
        ASSERT_FALSE(b.CrcOk);
    }
    EXPECT_GT(whole, 10000);
    EXPECT_GT(cut, 100);
}

TEST(DecodeFrameBits, EqualsDecodeFrameOnTheWindowLayout) {
    std::mt19937_64 rng(64);
    for (int trial = 0; trial < 50000; ++trial) {
        const std::uint64_t word = rng() >> (rng() % 16); // some leading zeros, longer ACKs
        const std::int32_t n = 1 + static_cast<std::int32_t>(rng() % 50);
        TFrameLayoutParams p;
        p.PositionBits = n;
        const TFrameFields f = DecodeFrameBits(TFrameLayout(p), FrameBitsFromWord(word));
        const TBitList asText = [&] {
            TBitList b;
            b.Put(word, 64);
            return b;
        }();
        const std::string hex = asText.Hex();
        const TDecodedFrame d = DecodeFrame(std::u16string(hex.begin(), hex.end()), n, 1, 1, u"", {});
        ASSERT_EQ(d.Outcome, f.Outcome) << hex;
        if (d.Outcome != TDecodeOutcome::doDecoded) {
            continue;
        }
        ASSERT_EQ(d.AckLength, f.AckLength) << hex;
        ASSERT_EQ(d.PositionRaw, f.Position) << hex;
        ASSERT_EQ(d.StatusBits, f.StatusBits) << hex;
        ASSERT_EQ(d.CrcReceived, f.CrcReceived) << hex;
        ASSERT_EQ(d.CrcNonInverted, f.CrcNonInverted) << hex;
        ASSERT_EQ(d.CrcCalculated, f.CrcCalculated) << hex;
        ASSERT_EQ(d.CrcOk, f.CrcOk) << hex;
        ASSERT_EQ(d.Truncated, f.Truncated) << hex;
    }
}

struct TCodedCase {
    TPositionCoding Coding;
    bool Signed;
    int M, N;
    std::uint64_t Sent;     // multi-turn and single-turn bits as sent
    std::int64_t MultiTurn;
    std::int64_t Position;
    std::int64_t Count;
};

TEST(DecodeFrameData, GrayCodeAndTwosComplementAsDocumented) {
    const TCodedCase cases[] = {
        {TPositionCoding::pcGray, false, 0, 3, 0b110, 0, 4, 4},
        {TPositionCoding::pcGray, false, 0, 3, 0b100, 0, 7, 7},
        {TPositionCoding::pcGray, false, 2, 2, 0b1100, 2, 0, 8},    // Gray 1100 is 8
        {TPositionCoding::pcBinary, true, 0, 8, 0xFF, 0, -1, -1},
        {TPositionCoding::pcBinary, true, 0, 8, 0x80, 0, -128, -128},
        {TPositionCoding::pcBinary, true, 4, 4, 0xF3, -1, 3, -13},  // -1 x 16 + 3
        {TPositionCoding::pcBinary, true, 32, 32, 0x8000000000000001, INT32_MIN, 1,
         INT64_MIN + 1},
        {TPositionCoding::pcGray, true, 0, 4, 0b1000, 0, -1, -1},   // Gray 1000 is 1111
        {TPositionCoding::pcBinary, false, 32, 32, ~std::uint64_t{0}, 0xFFFFFFFF, 0xFFFFFFFF, -1},
    };
    for (const auto& c : cases) {
        TFrameLayoutParams p;
        p.MultiTurnBits = c.M;
        p.PositionBits = c.N;
        p.Coding = c.Coding;
        p.Signed = c.Signed;
        const TFrameLayout layout(p);
        TFrameData data;
        data.Value = c.Sent;
        data.Status = 3;
        data.Crc = static_cast<std::uint16_t>(~layout.CalcCrc(c.Sent, 3) & 0x3F);
        const TFrameFields f = DecodeFrameData(layout, data);
        SCOPED_TRACE(c.Sent);
        EXPECT_TRUE(f.CrcOk);
        EXPECT_EQ(f.AckLength, 0);
        EXPECT_EQ(AsSigned(f.MultiTurn), c.MultiTurn);
        EXPECT_EQ(AsSigned(f.Position), c.Position);
        EXPECT_EQ(AsSigned(f.Count), c.Count);
    }
}

TEST(DecodeFrameBits, StartBitIsFoundAcrossWordBoundaries) {
    // The 0-then-1 pair placed at s(i), s(i+1) for i around the 64-bit word boundaries.
    for (const int pair : {1, 62, 63, 64, 127, 128, 191, 200, 253}) {
        TBitList bits;
        for (int i = 0; i < pair; ++i) {
            bits.PutBit(true);
        }
        bits.PutBit(false);
        while (bits.Size() < 256) {
            bits.PutBit(true);
        }
        const TFrameFields f = DecodeFrameBits(TFrameLayout{}, bits.Packed());
        ASSERT_EQ(f.Outcome, TDecodeOutcome::doDecoded) << pair;
        EXPECT_EQ(f.AckLength, pair + 1);
        EXPECT_EQ(f.Truncated, pair + 3 + 28 + 6 > 256);
    }
    // A frame of all ones, and one whose only pair is s0, s1, has no start bit.
    TBitList ones;
    ones.Put(0, 1);
    while (ones.Size() < 256) {
        ones.PutBit(true);
    }
    EXPECT_EQ(DecodeFrameBits(TFrameLayout{}, ones.Packed()).Outcome, TDecodeOutcome::doNoStartBit);
    EXPECT_EQ(DecodeFrameBits(TFrameLayout{}, TFrameBits{}).Outcome, TDecodeOutcome::doNoStartBit);
}

} // namespace
