// Test support shared by the tests, the fuzz harnesses and the benchmarks: a bit-serial CRC
// written from the definition, and a builder of BiSS-C single-cycle frames for any layout. Both
// are deliberately plain (one bit at a time) so that they stay independent of the library's
// tables and word-level shifts they are used to check.
#pragma once

#include "decode/framelayout.h"
#include "decode/frametext.h"

#include <cstdint>
#include <string>
#include <vector>

// The CRC of `count` bits of the 128-bit number high:low (the highest of them first) with the
// generator `polynomial` in BiSS notation (top bit included), from the register value `start`:
// shift left one bit at a time, XOR the polynomial in whenever the bit shifted out differs from
// the data bit. No final inversion.
inline std::uint16_t SerialCrc(std::uint32_t polynomial, std::uint16_t start, std::uint64_t high,
                               std::uint64_t low, int count) {
    int width = 0;
    while ((polynomial >> (width + 1)) != 0) {
        ++width;
    }
    const std::uint32_t mask = (1U << width) - 1U;
    std::uint32_t reg = start & mask;
    for (int i = count - 1; i >= 0; --i) {
        const std::uint64_t word = i >= 64 ? high : low;
        const bool bit = ((word >> (i % 64)) & 1U) != 0;
        const bool out = ((reg >> (width - 1)) & 1U) != 0;
        reg = (reg << 1) & mask;
        if (bit != out) {
            reg ^= polynomial & mask;
        }
    }
    return static_cast<std::uint16_t>(reg);
}

// The window's CRC-6 (x^6 + x + 1, start 0) of the low `count` bits of `data`.
inline std::uint8_t SerialCrc6(std::uint64_t data, int count) {
    return static_cast<std::uint8_t>(SerialCrc(0x43, 0, 0, data, count));
}

// The received bits of a frame, s0 first, one bool each.
class TBitList {
public:
    void Put(std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            Bits.push_back(((value >> i) & 1U) != 0);
        }
    }
    void PutBit(bool bit) { Bits.push_back(bit); }
    int Size() const { return static_cast<int>(Bits.size()); }

    // The bits packed as the decoder takes them; bits beyond TFrameBits::MaxLength are dropped.
    TFrameBits Packed() const {
        TFrameBits packed;
        const int length = Size() < TFrameBits::MaxLength ? Size() : TFrameBits::MaxLength;
        for (int i = 0; i < length; ++i) {
            if (Bits[static_cast<std::size_t>(i)]) {
                packed.Words[static_cast<std::size_t>(i / 64)] |= std::uint64_t{1} << (63 - i % 64);
            }
        }
        packed.Length = length;
        return packed;
    }

    // Hexadecimal text, four bits a digit, padded with zero bits at the end to whole digits.
    std::string Hex(bool lower = false) const {
        const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
        std::string text;
        for (int i = 0; i < Size(); i += 4) {
            unsigned digit = 0;
            for (int k = 0; k < 4; ++k) {
                const int at = i + k;
                digit = digit * 2 + (at < Size() && Bits[static_cast<std::size_t>(at)] ? 1U : 0U);
            }
            text.push_back(digits[digit]);
        }
        return text;
    }

    std::vector<bool> Bits;
};

// What to put into a frame. Count is the combined multi-turn and single-turn count, as the
// layout reads it: its low m + n bits are sent (Gray-coded where the layout says so).
struct TFrameContent {
    int AckLength = 13;         // 2 or more
    bool FirstBit = true;       // s0, which the start-bit search never looks at
    int AckOnes = -1;           // ones after s0, then zeros to the end of the ACK; -1: as many
                                // as leave one closing zero
    bool Cds = false;
    std::uint64_t Count = 0;
    bool CountAsSent = false;   // Count holds the bits as sent: no Gray coding applied
    std::uint8_t Status = 3;    // the k status bits, nE the highest
    int CrcFlip = 0;            // XORed into the CRC as sent: non-zero makes a bad frame
    int TotalBits = 64;         // padded with TailBits up to this length (never cut)
    std::uint64_t TailBits = 0; // bits after the CRC, taken from the top down, repeated
};

// A frame built for `layout` from `content`, with the fields a correct decoder must find.
struct TBuiltFrame {
    TBitList Received;
    std::uint64_t DataValue = 0; // the multi-turn and single-turn bits as sent
    std::uint16_t CrcSent = 0;
    std::uint16_t CrcCalculated = 0;
    int EndBit = 0;              // the index just past the CRC
};

inline TBuiltFrame BuildFrame(const TFrameLayoutParams& layout, const TFrameContent& content) {
    TBuiltFrame frame;
    TBitList& bits = frame.Received;
    bits.PutBit(content.FirstBit);
    const int ones = content.AckOnes < 0 ? content.AckLength - 2 : content.AckOnes;
    for (int i = 1; i < content.AckLength; ++i) {
        bits.PutBit(i <= ones && i < content.AckLength - 1); // the last ACK bit is always 0
    }
    bits.PutBit(true);  // start
    bits.PutBit(content.Cds);

    const int valueBits = layout.MultiTurnBits + layout.PositionBits;
    const std::uint64_t mask = valueBits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << valueBits) - 1;
    std::uint64_t value = content.Count & mask;
    if (layout.Coding == TPositionCoding::pcGray && !content.CountAsSent) {
        value ^= value >> 1;
    }
    frame.DataValue = value;
    bits.Put(value, valueBits);
    const std::uint64_t status = content.Status & ((1U << layout.StatusBits) - 1U);
    bits.Put(status, layout.StatusBits);

    const int k = layout.StatusBits;
    const std::uint64_t high = k == 0 ? 0 : value >> (64 - k);
    const std::uint64_t low = (k == 0 ? value : value << k) | status;
    frame.CrcCalculated = SerialCrc(layout.CrcPolynomial, static_cast<std::uint16_t>(layout.CrcStart),
                                    high, low, valueBits + k);
    int width = 0;
    while ((layout.CrcPolynomial >> (width + 1)) != 0) {
        ++width;
    }
    const std::uint16_t widthMask = static_cast<std::uint16_t>((1U << width) - 1U);
    std::uint16_t sent = layout.CrcInverted ? static_cast<std::uint16_t>(~frame.CrcCalculated & widthMask)
                                            : frame.CrcCalculated;
    sent = static_cast<std::uint16_t>((sent ^ content.CrcFlip) & widthMask);
    frame.CrcSent = sent;
    bits.Put(sent, width);
    frame.EndBit = bits.Size();
    for (int i = 0; bits.Size() < content.TotalBits; ++i) {
        bits.PutBit(((content.TailBits >> (63 - i % 64)) & 1U) != 0);
    }
    return frame;
}
