#include "framelayout.h"

#include <bit>
#include <stdexcept>

namespace {

std::string HexText(std::uint32_t value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + text;
}

// Bit pattern of the low `width` bits of `value` (1 to 64) as two's complement, sign-extended.
std::uint64_t SignExtend(std::uint64_t value, std::int32_t width) {
    const auto spare = static_cast<unsigned>(64 - width);
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(value << spare) >> spare);
}

// Bits s(first) ... s(first + count - 1) of the frame as a number, s(first) the most
// significant; count is 0 to 64. Bits past the frame's storage read as zero.
std::uint64_t ExtractBits(const TFrameBits& bits, std::int32_t first, std::int32_t count) {
    if (count <= 0) {
        return 0;
    }
    const auto word = static_cast<std::size_t>(first / 64);
    const auto offset = static_cast<unsigned>(first % 64);
    auto at = [&bits](std::size_t i) { return i < bits.Words.size() ? bits.Words[i] : 0; };
    std::uint64_t value = at(word) << offset;
    if (offset != 0) {
        value |= at(word + 1) >> (64 - offset);
    }
    return value >> (64 - count);
}

// Index i of the first 0-then-1 pair s(i), s(i+1) with i >= 1, or -1.
std::int32_t FindStartPair(const TFrameBits& bits) {
    const auto words = static_cast<std::size_t>((bits.Length + 63) / 64);
    for (std::size_t j = 0; j < words; ++j) {
        const std::uint64_t w = bits.Words[j];
        const std::uint64_t following = j + 1 < bits.Words.size() ? bits.Words[j + 1] >> 63 : 0;
        std::uint64_t pairs = ~w & ((w << 1) | following);
        if (j == 0) {
            pairs &= ~(std::uint64_t{1} << 63); // the pair s0, s1 is never looked at
        }
        if (pairs != 0) {
            return static_cast<std::int32_t>(64 * j) + std::countl_zero(pairs);
        }
    }
    return -1;
}

} // namespace

TFrameLayout::TFrameLayout(const TFrameLayoutParams& params) : FParams(params) {
    if (const std::string problem = CheckParams(params); !problem.empty()) {
        throw std::invalid_argument(problem);
    }
    FCrc = std::make_shared<const TBissCrc>(params.CrcPolynomial);
    Prepare();
}

TFrameLayout::TFrameLayout(const TFrameLayoutParams& params, std::shared_ptr<const TBissCrc> crc)
    : FParams(params), FCrc(std::move(crc)) {
    if (const std::string problem = CheckParams(params); !problem.empty()) {
        throw std::invalid_argument(problem);
    }
    if (!FCrc || FCrc->Polynomial() != params.CrcPolynomial) {
        throw std::invalid_argument("the shared CRC does not have the layout's polynomial " +
                                    HexText(params.CrcPolynomial));
    }
    Prepare();
}

std::string TFrameLayout::CheckParams(const TFrameLayoutParams& p) {
    const std::int32_t m = p.MultiTurnBits;
    const std::int32_t n = p.PositionBits;
    if (m < 0 || m > 32) {
        return "multi-turn bits: " + std::to_string(m) + " is outside 0 to 32";
    }
    if (n < 1 || n > 64) {
        return "single-turn position bits: " + std::to_string(n) + " is outside 1 to 64";
    }
    if (m + n > 64) {
        return "multi-turn and single-turn bits: " + std::to_string(m) + " + " +
               std::to_string(n) + " = " + std::to_string(m + n) +
               " is more than 64, the most one count can hold";
    }
    if (p.StatusBits < 0 || p.StatusBits > 2) {
        return "status bits: " + std::to_string(p.StatusBits) +
               " is not 0, 1 (error bit) or 2 (error and warning bits)";
    }
    const std::uint32_t poly = p.CrcPolynomial;
    const int degree = poly == 0 ? -1 : 31 - std::countl_zero(poly);
    if (degree < 1 || degree > 16) {
        return "CRC polynomial " + HexText(poly) +
               " is not of degree 1 to 16; write it in BiSS notation with its top bit, "
               "e.g. 0x43 for x^6 + x + 1 or 0x190D9 for the 16-bit CRC";
    }
    if (p.CrcStart >= (std::uint32_t{1} << degree)) {
        return "CRC start value " + HexText(p.CrcStart) + " does not fit in the " +
               std::to_string(degree) + "-bit CRC of polynomial " + HexText(poly);
    }
    if (p.Coding != TPositionCoding::pcBinary && p.Coding != TPositionCoding::pcGray) {
        return "position coding: unknown value " + std::to_string(static_cast<int>(p.Coding));
    }
    return {};
}

void TFrameLayout::Prepare() {
    FDataBits = FParams.MultiTurnBits + FParams.PositionBits + FParams.StatusBits;
    FDataBytes = (FDataBits + 7) / 8;
    FStartTerm = FCrc->AdvanceZeros(static_cast<std::uint16_t>(FParams.CrcStart), FDataBits);
    FPositionMask = FParams.PositionBits == 64 ? ~std::uint64_t{0}
                                               : (std::uint64_t{1} << FParams.PositionBits) - 1;
}

std::uint16_t TFrameLayout::CalcCrc(std::uint64_t data, std::uint8_t status) const noexcept {
    const std::int32_t k = FParams.StatusBits;
    const std::uint64_t statusMask = (std::uint64_t{1} << k) - 1;
    const std::uint64_t high = k == 0 ? 0 : data >> (64 - k);
    const std::uint64_t low = (k == 0 ? data : data << k) | (status & statusMask);
    return static_cast<std::uint16_t>(FCrc->CalcZeroStart(high, low, FDataBytes) ^ FStartTerm);
}

void TFrameLayout::FillFields(std::uint64_t value, std::uint8_t status, std::uint16_t crc,
                              TFrameFields& f) const noexcept {
    const std::int32_t m = FParams.MultiTurnBits;
    const std::int32_t n = FParams.PositionBits;
    const std::int32_t k = FParams.StatusBits;

    // The CRC covers the bits as received, before any Gray decoding.
    f.CrcCalculated = CalcCrc(value, status);
    f.CrcReceived = crc;
    f.CrcNonInverted = FParams.CrcInverted ? static_cast<std::uint16_t>(~crc & FCrc->Mask()) : crc;
    f.CrcOk = !f.Truncated && f.CrcCalculated == f.CrcNonInverted;

    f.StatusBits = status;
    f.Error = k >= 1 && ((status >> (k - 1)) & 1U) == 0;
    f.Warning = k == 2 && (status & 1U) == 0;

    std::uint64_t count = value;
    if (FParams.Coding == TPositionCoding::pcGray) {
        for (unsigned shift = 1; shift < 64; shift <<= 1) {
            count ^= count >> shift;
        }
    }
    f.Position = count & FPositionMask;
    f.MultiTurn = m == 0 ? 0 : count >> n;
    if (FParams.Signed) {
        if (m == 0) {
            f.Position = SignExtend(f.Position, n);
        } else {
            f.MultiTurn = SignExtend(f.MultiTurn, m);
        }
        count = SignExtend(count, m + n);
    }
    f.Count = count;
}

TFrameFields DecodeFrameBits(const TFrameLayout& layout, const TFrameBits& bits) noexcept {
    TFrameFields f;
    const std::int32_t pair = FindStartPair(bits);
    if (pair < 0) {
        f.Outcome = TDecodeOutcome::doNoStartBit;
        return f;
    }
    f.Outcome = TDecodeOutcome::doDecoded;
    f.AckLength = pair + 1;

    const TFrameLayoutParams& p = layout.FParams;
    const std::int32_t valueBits = p.MultiTurnBits + p.PositionBits;
    const std::int32_t width = layout.CrcWidth();
    // s(pair) is the last ACK bit, then the start bit and the CDS bit.
    const std::int32_t first = pair + 3;
    const std::uint64_t value = ExtractBits(bits, first, valueBits);
    const auto status = static_cast<std::uint8_t>(ExtractBits(bits, first + valueBits, p.StatusBits));
    const auto crc = static_cast<std::uint16_t>(ExtractBits(bits, first + layout.FDataBits, width));
    f.Truncated = first + layout.FDataBits + width > bits.Length;
    layout.FillFields(value, status, crc, f);
    return f;
}

TFrameFields DecodeFrameData(const TFrameLayout& layout, const TFrameData& data) noexcept {
    TFrameFields f;
    f.Outcome = TDecodeOutcome::doDecoded;
    const TFrameLayoutParams& p = layout.FParams;
    const std::int32_t valueBits = p.MultiTurnBits + p.PositionBits;
    const std::uint64_t value =
        valueBits == 64 ? data.Value : data.Value & ((std::uint64_t{1} << valueBits) - 1);
    const auto status = static_cast<std::uint8_t>(data.Status & ((1U << p.StatusBits) - 1U));
    const auto crc = static_cast<std::uint16_t>(data.Crc & layout.Crc().Mask());
    layout.FillFields(value, status, crc, f);
    return f;
}
