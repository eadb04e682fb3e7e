// libFuzzer harness for the generic frame decoder. The fuzz bytes choose a layout (also invalid
// ones), then either a frame built for it by the test-support builder, which must decode back
// to what was put in, or raw received bits of any length. Every decode is compared with the
// shared reference that reads one bit at a time (tests/support/referencedecoder.h: TFrameBits::Bit,
// a bit-serial CRC), independent of the library's word-level extraction and sliced CRC tables. A violation prints the case and
// aborts, which libFuzzer (or the replay main) reports as a finding.

#include "decode/framelayout.h"
#include "framesupport.h"
#include "referencedecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

constexpr std::uint32_t KnownPolynomials[] = {0x43, 0x25, 0x97, 0x89, 0x12F, 0x190D9, 0x13};

class TByteReader {
public:
    TByteReader(const std::uint8_t* data, std::size_t size) : FData(data), FLeft(size) {}
    std::uint8_t Byte() {
        if (FLeft == 0) {
            return 0;
        }
        --FLeft;
        return *FData++;
    }
    std::uint64_t U64() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = (value << 8) | Byte();
        }
        return value;
    }

private:
    const std::uint8_t* FData;
    std::size_t FLeft;
};

const TFrameLayoutParams* currentLayout = nullptr;
const TFrameBits* currentBits = nullptr;

[[noreturn]] void Fail(const char* what, int line) {
    std::fprintf(stderr, "\nCHECK FAILED: %s (layout_fuzzer.cpp:%d)\n", what, line);
    if (currentLayout != nullptr) {
        const TFrameLayoutParams& p = *currentLayout;
        std::fprintf(stderr, "  layout m=%d n=%d k=%d poly=0x%X start=0x%X inverted=%d gray=%d signed=%d\n",
                     p.MultiTurnBits, p.PositionBits, p.StatusBits, p.CrcPolynomial, p.CrcStart,
                     p.CrcInverted, p.Coding == TPositionCoding::pcGray, p.Signed);
    }
    if (currentBits != nullptr) {
        std::fprintf(stderr, "  %d bits:", currentBits->Length);
        for (const std::uint64_t w : currentBits->Words) {
            std::fprintf(stderr, " %016llX", static_cast<unsigned long long>(w));
        }
        std::fprintf(stderr, "\n");
    }
    std::abort();
}

#define CHECK(cond)                                                                            \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            Fail(#cond, __LINE__);                                                             \
        }                                                                                      \
    } while (false)

// The layout's rules, restated: used to check that exactly the valid layouts are accepted.
bool ExpectValid(const TFrameLayoutParams& p) {
    const int degree = PolynomialDegree(p.CrcPolynomial);
    return p.MultiTurnBits >= 0 && p.MultiTurnBits <= 32 && p.PositionBits >= 1 &&
           p.PositionBits <= 64 && p.MultiTurnBits + p.PositionBits <= 64 && p.StatusBits >= 0 &&
           p.StatusBits <= 2 && degree >= 1 && degree <= 16 && p.CrcStart < (1U << degree);
}

TFrameLayoutParams MapLayout(TByteReader& in) {
    TFrameLayoutParams p;
    p.MultiTurnBits = in.Byte() % 36 - 1;   // -1 to 34
    p.PositionBits = in.Byte() % 68 - 1;    // -1 to 66
    p.StatusBits = in.Byte() % 5 - 1;       // -1 to 3
    const std::uint8_t polyByte = in.Byte();
    if (polyByte % 8 < 7) {
        p.CrcPolynomial = KnownPolynomials[polyByte % 8];
    } else {
        p.CrcPolynomial = static_cast<std::uint32_t>(in.U64() & 0x3FFFF); // any, up to degree 17
    }
    const std::uint8_t startByte = in.Byte();
    const int degree = PolynomialDegree(p.CrcPolynomial);
    const std::uint32_t startBits = static_cast<std::uint32_t>(in.U64());
    p.CrcStart = startByte % 4 == 0 ? 0 : (startByte % 4 == 3 ? startBits & 0x1FFFF
                                                              : startBits & ((1U << (degree > 0 ? degree : 0)) - 1U));
    const std::uint8_t flags = in.Byte();
    p.CrcInverted = (flags & 1U) != 0;
    p.Coding = (flags & 2U) != 0 ? TPositionCoding::pcGray : TPositionCoding::pcBinary;
    p.Signed = (flags & 4U) != 0;
    return p;
}

void CheckSame(const TFrameFields& f, const TFrameFields& r) {
    CHECK(f.Outcome == r.Outcome);
    if (f.Outcome != TDecodeOutcome::doDecoded) {
        return;
    }
    CHECK(f.AckLength == r.AckLength);
    CHECK(f.MultiTurn == r.MultiTurn);
    CHECK(f.Position == r.Position);
    CHECK(f.Count == r.Count);
    CHECK(f.StatusBits == r.StatusBits);
    CHECK(f.Error == r.Error);
    CHECK(f.Warning == r.Warning);
    CHECK(f.CrcReceived == r.CrcReceived);
    CHECK(f.CrcNonInverted == r.CrcNonInverted);
    CHECK(f.CrcCalculated == r.CrcCalculated);
    CHECK(f.Truncated == r.Truncated);
    CHECK(f.CrcOk == r.CrcOk);
    CHECK(!(f.CrcOk && f.Truncated));
}

void CheckCase(const std::uint8_t* data, std::size_t size) {
    TByteReader in(data, size);
    const TFrameLayoutParams p = MapLayout(in);
    currentLayout = &p;
    const bool valid = ExpectValid(p);
    CHECK(TFrameLayout::CheckParams(p).empty() == valid);
    if (!valid) {
        bool threw = false;
        try {
            TFrameLayout rejected(p);
        } catch (const std::invalid_argument& e) {
            threw = e.what()[0] != '\0';
        }
        CHECK(threw);
        return;
    }
    const TFrameLayout layout(p);

    TFrameBits bits;
    const std::uint8_t mode = in.Byte();
    TFrameContent content;
    int endBit = 0;
    if (mode % 2 == 0) {
        // A frame built for the layout, possibly cut short.
        content.AckLength = 2 + in.Byte() % 120;
        content.FirstBit = (mode & 2U) != 0;
        content.AckOnes = (mode & 4U) != 0 ? -1 : static_cast<int>(in.Byte() % (content.AckLength - 1));
        content.Cds = (mode & 8U) != 0;
        content.Count = in.U64();
        content.Status = in.Byte();
        content.TotalBits = 64 + 4 * (in.Byte() % 49);
        content.TailBits = in.U64();
        const TBuiltFrame built = BuildFrame(p, content);
        TBitList received = built.Received;
        const std::uint8_t cut = in.Byte();
        if (cut >= 0xC0 && received.Size() > content.AckLength + 1) {
            received.Bits.resize(static_cast<std::size_t>(content.AckLength + 1 + cut % (received.Size() - content.AckLength - 1)));
        }
        bits = received.Packed();
        endBit = built.EndBit;
    } else {
        // Raw received bits of any length.
        bits.Length = static_cast<std::int32_t>(in.Byte()) + (mode & 2U ? 1 : 0);
        for (auto& word : bits.Words) {
            word = in.U64();
        }
        for (int i = bits.Length; i < 256; ++i) {
            bits.Words[static_cast<std::size_t>(i / 64)] &= ~(std::uint64_t{1} << (63 - i % 64));
        }
    }
    currentBits = &bits;

    const TFrameFields f = DecodeFrameBits(layout, bits);
    CheckSame(f, ReferenceDecode(p, bits));
    if (mode % 2 == 0) {
        CHECK(f.Outcome == TDecodeOutcome::doDecoded);
        CHECK(f.AckLength == content.AckLength);
        CHECK(f.Truncated == (endBit > bits.Length));
        CHECK(f.CrcOk == !f.Truncated); // a whole frame built for the layout always checks
    }
    if (f.Outcome == TDecodeOutcome::doDecoded) {
        // The same fields delivered already cut out decode alike, apart from the ACK.
        TFrameData fields;
        const int valueBits = p.MultiTurnBits + p.PositionBits;
        std::uint64_t value = 0;
        int index = f.AckLength + 2;
        for (int i = 0; i < valueBits; ++i) {
            value = (value << 1) | (bits.Bit(index++) ? 1U : 0U);
        }
        fields.Value = value;
        fields.Status = f.StatusBits;
        fields.Crc = f.CrcReceived;
        const TFrameFields d = DecodeFrameData(layout, fields);
        CHECK(d.Count == f.Count && d.Position == f.Position && d.MultiTurn == f.MultiTurn);
        CHECK(d.CrcCalculated == f.CrcCalculated);
        CHECK(d.CrcOk == (f.CrcOk || (f.Truncated && d.CrcCalculated == d.CrcNonInverted)));
    }
    currentBits = nullptr;
    currentLayout = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckCase(data, size);
    return 0;
}
