// The decode of a BiSS-C frame restated one bit at a time, for any layout: the reference that
// the tests, the fuzz harnesses and the benchmarks hold the library's word-level decoder to.
// It reads bits with TFrameBits::Bit, cuts each field out bit by bit and computes the CRC with
// the bit-serial SerialCrc, so that it shares nothing with the library but the types.
#pragma once

#include "decode/framelayout.h"
#include "framesupport.h"

#include <cstdint>

// The degree of a CRC polynomial in BiSS notation (its top bit), -1 for 0.
inline int PolynomialDegree(std::uint32_t polynomial) {
    int degree = -1;
    for (std::uint32_t p = polynomial; p != 0; p >>= 1) {
        ++degree;
    }
    return degree;
}

namespace reference_detail {

// The low `width` bits of `value` as two's complement, sign-extended to 64 bits.
inline std::uint64_t SignExtended(std::uint64_t value, int width) {
    if (width >= 64) {
        return value;
    }
    const std::uint64_t sign = std::uint64_t{1} << (width - 1);
    value &= (sign << 1) - 1;
    return (value ^ sign) - sign;
}

// The decode restated one bit at a time.
} // namespace reference_detail

// The frame in `bits` decoded with the layout `p`, as DecodeFrameBits must decode it.
inline TFrameFields ReferenceDecode(const TFrameLayoutParams& p, const TFrameBits& bits) {
    TFrameFields f;
    int pair = -1;
    for (int i = 1; i + 1 < bits.Length; ++i) {
        if (!bits.Bit(i) && bits.Bit(i + 1)) {
            pair = i;
            break;
        }
    }
    if (pair < 0) {
        f.Outcome = TDecodeOutcome::doNoStartBit;
        return f;
    }
    f.Outcome = TDecodeOutcome::doDecoded;
    f.AckLength = pair + 1;
    int index = pair + 3;
    const int valueBits = p.MultiTurnBits + p.PositionBits;
    std::uint64_t value = 0;
    std::uint64_t high = 0; // data bits above bit 63 of (value, status)
    for (int i = 0; i < valueBits; ++i) {
        value = (value << 1) | (bits.Bit(index++) ? 1U : 0U);
    }
    std::uint64_t status = 0;
    for (int i = 0; i < p.StatusBits; ++i) {
        status = (status << 1) | (bits.Bit(index++) ? 1U : 0U);
    }
    const int width = PolynomialDegree(p.CrcPolynomial);
    std::uint64_t crc = 0;
    for (int i = 0; i < width; ++i) {
        crc = (crc << 1) | (bits.Bit(index++) ? 1U : 0U);
    }
    f.Truncated = index > bits.Length;
    if (p.StatusBits > 0) {
        high = value >> (64 - p.StatusBits);
    }
    const std::uint64_t low = (p.StatusBits == 0 ? value : value << p.StatusBits) | status;
    f.CrcCalculated = SerialCrc(p.CrcPolynomial, static_cast<std::uint16_t>(p.CrcStart), high, low,
                                valueBits + p.StatusBits);
    f.CrcReceived = static_cast<std::uint16_t>(crc);
    const std::uint16_t mask = static_cast<std::uint16_t>((1U << width) - 1U);
    f.CrcNonInverted = p.CrcInverted ? static_cast<std::uint16_t>(~crc & mask) : f.CrcReceived;
    f.CrcOk = !f.Truncated && f.CrcCalculated == f.CrcNonInverted;
    f.StatusBits = static_cast<std::uint8_t>(status);
    f.Error = p.StatusBits >= 1 && ((status >> (p.StatusBits - 1)) & 1U) == 0;
    f.Warning = p.StatusBits == 2 && (status & 1U) == 0;

    std::uint64_t count = value;
    if (p.Coding == TPositionCoding::pcGray) {
        // Each binary bit is the XOR of the Gray bits from the top down to it.
        count = 0;
        bool running = false;
        for (int i = valueBits - 1; i >= 0; --i) {
            running = running != (((value >> i) & 1U) != 0);
            count |= static_cast<std::uint64_t>(running) << i;
        }
    }
    const std::uint64_t positionMask =
        p.PositionBits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << p.PositionBits) - 1;
    f.Position = count & positionMask;
    f.MultiTurn = p.MultiTurnBits == 0 ? 0 : count >> p.PositionBits;
    if (p.Signed) {
        if (p.MultiTurnBits == 0) {
            f.Position = reference_detail::SignExtended(f.Position, p.PositionBits);
        } else {
            f.MultiTurn = reference_detail::SignExtended(f.MultiTurn, p.MultiTurnBits);
        }
        count = reference_detail::SignExtended(count, valueBits);
    }
    f.Count = count;
    return f;
}
