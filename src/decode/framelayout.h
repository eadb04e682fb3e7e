// Frame bits to fields: the layout of a BiSS-C single-cycle frame and its decode into plain
// numbers. The decode allocates nothing, throws nothing and keeps no state, so it can run
// millions of times a second and from several threads on one shared layout.
//
// A frame is L received bits s0 ... s(L-1). The start bit is the 1 of the first 0-then-1 pair
// from s1 on: the smallest i >= 1 with s(i) = 0 and s(i+1) = 1; the ACK length is i + 1 (the
// pair s0, s1 is never looked at). After the start bit come the CDS bit (skipped), then
// m multi-turn bits, n single-turn position bits, k status bits (nE, then nW, active low) and
// the W-bit CRC. The CRC covers the multi-turn, single-turn and status bits as received.
#pragma once

#include "decode/bisscrc.h"
#include "decode/frametext.h"

#include <bit>
#include <cstdint>
#include <memory>
#include <string>

// How a frame turned out. Text that is not a frame never reaches the bit level; the window
// and the batch decoder report it as doInvalidInput.
enum class TDecodeOutcome {
    doInvalidInput, // the text is not a hexadecimal frame
    doNoStartBit,   // the frame holds no 0-then-1 pair where a start bit can stand
    doDecoded,      // every field is set
};

enum class TPositionCoding {
    pcBinary, // multi-turn and single-turn bits are plain binary numbers
    pcGray,   // multi-turn and single-turn bits together are one Gray-coded number
};

// What a frame layout is made of. The defaults are the window's layout with a 26-bit position.
struct TFrameLayoutParams {
    std::int32_t MultiTurnBits = 0;  // m: 0 to 32
    std::int32_t PositionBits = 26;  // n: 1 to 64; m + n at most 64
    std::int32_t StatusBits = 2;     // k: 0, 1 (nE) or 2 (nE, then nW)
    std::uint32_t CrcPolynomial = 0x43; // BiSS notation with the top bit; degree 1 to 16
    std::uint32_t CrcStart = 0;         // register start value, below 2^W
    bool CrcInverted = true;            // the CRC is sent inverted
    TPositionCoding Coding = TPositionCoding::pcBinary;
    // Two's complement: the multi-turn count, or the position when there are no multi-turn bits.
    bool Signed = false;
};

// The fields of a frame as received, for sources that deliver them already cut out (a logic
// analyzer's BiSS decoder): the m + n multi-turn and single-turn bits as one number, the k
// status bits (nE in the higher bit) and the CRC as sent.
struct TFrameData {
    std::uint64_t Value = 0;
    std::uint8_t Status = 0;
    std::uint16_t Crc = 0;
};

// The decoded fields. MultiTurn, Position and Count hold two's complement bit patterns
// sign-extended to 64 bits where the layout makes them signed (Count always, MultiTurn when
// m > 0, Position when m = 0); read them as std::int64_t then.
struct TFrameFields {
    TDecodeOutcome Outcome = TDecodeOutcome::doNoStartBit;
    std::int32_t AckLength = 0;     // bits before the start bit; 0 for TFrameData
    std::uint64_t MultiTurn = 0;    // the m multi-turn bits as a count; 0 without them
    std::uint64_t Position = 0;     // the n single-turn bits
    std::uint64_t Count = 0;        // MultiTurn x 2^n + Position
    std::uint8_t StatusBits = 0;    // the k status bits as received, nE the highest
    bool Error = false;             // nE is 0
    bool Warning = false;           // nW is 0
    std::uint16_t CrcReceived = 0;  // the CRC field as received
    std::uint16_t CrcNonInverted = 0; // CrcReceived complemented within W bits if sent inverted
    std::uint16_t CrcCalculated = 0;  // the CRC of the data bits
    bool CrcOk = false;             // CrcCalculated equals CrcNonInverted and nothing is missing
    bool Truncated = false;         // the frame runs past its last bit; the tail read as zeros
};

class TFrameLayout {
public:
    // Throws std::invalid_argument, naming the value and the reason, for a layout outside the
    // ranges of TFrameLayoutParams.
    explicit TFrameLayout(const TFrameLayoutParams& params = {});
    // The same with a CRC shared with other layouts of the same polynomial (the CRC tables are
    // a few kilobytes; the layout itself is small).
    TFrameLayout(const TFrameLayoutParams& params, std::shared_ptr<const TBissCrc> crc);

    // The reason `params` is not a valid layout, or an empty text when it is one.
    static std::string CheckParams(const TFrameLayoutParams& params);

    const TFrameLayoutParams& Params() const { return FParams; }
    std::int32_t CrcWidth() const { return FCrc->Width(); }
    // Multi-turn, single-turn and status bits: the bits the CRC covers.
    std::int32_t DataBits() const { return FDataBits; }
    // The CRC that a frame carrying `data` (m + n bits) and `status` (k bits) must have, before
    // any inversion on the wire.
    inline std::uint16_t CalcCrc(std::uint64_t data, std::uint8_t status) const noexcept;

private:
    friend inline TFrameFields DecodeFrameBits(const TFrameLayout& layout, const TFrameBits& bits) noexcept;
    friend inline TFrameFields DecodeFrameData(const TFrameLayout& layout, const TFrameData& data) noexcept;

    void Prepare();
    // Everything after the cutting out of value, status and CRC; inline in both decoders.
    inline void FillFields(std::uint64_t value, std::uint8_t status, std::uint16_t crc,
                           bool truncated, TFrameFields& fields) const noexcept;

    TFrameLayoutParams FParams;
    std::shared_ptr<const TBissCrc> FCrc;
    // Derived once, read by every decode.
    std::int32_t FValueBits = 0;     // m + n
    std::int32_t FDataBits = 0;      // m + n + k
    std::int32_t FDataBytes = 0;     // whole bytes that hold the data bits
    std::int32_t FCrcWidth = 0;
    std::uint32_t FCrcShift = 0;     // 64 - W: the CRC's shift from the top of a word
    std::int32_t FFrameTail = 0;     // bits from the last ACK bit to the CRC's end: 3 + data + W
    std::uint16_t FCrcMask = 0;
    std::uint16_t FCrcInversion = 0; // XORed into the CRC as received: the mask when inverted
    std::uint8_t FErrorBit = 0;      // nE within the status bits, 0 without it
    std::uint8_t FWarningBit = 0;    // nW within the status bits, 0 without it
    std::uint16_t FStartTerm = 0;    // the start value advanced over the data bits
    std::uint64_t FPositionMask = 0; // the low n bits
};

// Decodes the frame in `bits` with `layout`: start bit, fields, CRC. Outcome is doDecoded or
// doNoStartBit; a frame that runs past the last received bit reads zeros there, is Truncated
// and never CrcOk.
inline TFrameFields DecodeFrameBits(const TFrameLayout& layout, const TFrameBits& bits) noexcept;

// Interprets fields already cut out of a frame: always doDecoded, AckLength 0, not truncated.
inline TFrameFields DecodeFrameData(const TFrameLayout& layout, const TFrameData& data) noexcept;

// The two's complement reading of a sign-extended field.
inline std::int64_t AsSigned(std::uint64_t pattern) { return static_cast<std::int64_t>(pattern); }

// ---- The decode itself, inline so that batch loops compile it into their own body. ----

namespace framelayout_detail {
// Bit pattern of the low `width` bits of `value` (1 to 64) as two's complement, sign-extended.
inline std::uint64_t SignExtendField(std::uint64_t value, std::int32_t width) {
    const auto spare = static_cast<unsigned>(64 - width);
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(value << spare) >> spare);
}

// The 128 received bits s(first) ... s(first + 127) as two words, s(first) the top bit of
// `high`; bits past the frame's storage read as zero. first is 0 to 257.
inline void ReadWindow(const TFrameBits& bits, std::int32_t first, std::uint64_t& high, std::uint64_t& low) {
    // Three zero words after the frame, so that the reads below need no bounds checks.
    const std::uint64_t padded[7] = {bits.Words[0], bits.Words[1], bits.Words[2], bits.Words[3], 0, 0, 0};
    const auto word = static_cast<std::size_t>(first) / 64;
    const auto offset = static_cast<unsigned>(first) % 64;
    // (x >> 1) >> (63 - offset) is x >> (64 - offset), and zero for an offset of 0.
    high = (padded[word] << offset) | ((padded[word + 1] >> 1) >> (63 - offset));
    low = (padded[word + 1] << offset) | ((padded[word + 2] >> 1) >> (63 - offset));
}

// Index i of the first 0-then-1 pair s(i), s(i+1) with i >= 1, or -1.
inline std::int32_t FindStartPair(const TFrameBits& bits) {
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

} // namespace framelayout_detail

inline std::uint16_t TFrameLayout::CalcCrc(std::uint64_t data, std::uint8_t status) const noexcept {
    // The data bits are the value followed by the k status bits: up to 66 bits, two words.
    const auto k = static_cast<unsigned>(FParams.StatusBits);
    const std::uint64_t high = (data >> 1) >> (63 - k);
    const std::uint64_t low = (data << k) | (status & ((1U << k) - 1U));
    return static_cast<std::uint16_t>(FCrc->CalcZeroStart(high, low, FDataBytes) ^ FStartTerm);
}

inline void TFrameLayout::FillFields(std::uint64_t value, std::uint8_t status, std::uint16_t crc,
                                     bool truncated, TFrameFields& f) const noexcept {
    // The CRC covers the bits as received, before any Gray decoding.
    const std::uint16_t calculated = CalcCrc(value, status);
    const std::uint16_t nonInverted = static_cast<std::uint16_t>(crc ^ FCrcInversion);
    f.CrcCalculated = calculated;
    f.CrcReceived = crc;
    f.CrcNonInverted = nonInverted;
    f.CrcOk = !truncated && calculated == nonInverted;
    f.Truncated = truncated;

    f.StatusBits = status;
    f.Error = (~status & FErrorBit) != 0;
    f.Warning = (~status & FWarningBit) != 0;

    std::uint64_t count = value;
    if (FParams.Coding == TPositionCoding::pcGray) {
        for (unsigned shift = 1; shift < 64; shift <<= 1) {
            count ^= count >> shift;
        }
    }
    const auto n = static_cast<unsigned>(FParams.PositionBits);
    std::uint64_t position = count & FPositionMask;
    std::uint64_t multiTurn = (count >> 1) >> (n - 1); // zero without multi-turn bits
    if (FParams.Signed) {
        const std::int32_t m = FParams.MultiTurnBits;
        if (m == 0) {
            position = framelayout_detail::SignExtendField(position, FParams.PositionBits);
        } else {
            multiTurn = framelayout_detail::SignExtendField(multiTurn, m);
        }
        count = framelayout_detail::SignExtendField(count, FValueBits);
    }
    f.Position = position;
    f.MultiTurn = multiTurn;
    f.Count = count;
}

inline TFrameFields DecodeFrameBits(const TFrameLayout& layout, const TFrameBits& bits) noexcept {
    TFrameFields f;
    std::int32_t pair = 0;
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    if (bits.Length <= 64) {
        // One word holds the frame (the window's frames, captures of up to eight bytes).
        const std::uint64_t w = bits.Words[0];
        const std::uint64_t pairs = ~w & (w << 1) & ~(std::uint64_t{1} << 63);
        if (pairs == 0) {
            f.Outcome = TDecodeOutcome::doNoStartBit;
            return f;
        }
        pair = std::countl_zero(pairs);
        const auto first = static_cast<unsigned>(pair + 3); // at most 65
        high = first < 64 ? w << first : 0;
    } else {
        pair = framelayout_detail::FindStartPair(bits);
        if (pair < 0) {
            f.Outcome = TDecodeOutcome::doNoStartBit;
            return f;
        }
        framelayout_detail::ReadWindow(bits, pair + 3, high, low);
    }
    f.Outcome = TDecodeOutcome::doDecoded;
    f.AckLength = pair + 1;

    // s(pair) is the last ACK bit, then come the start bit and the CDS bit. The data and the
    // CRC (at most 66 + 16 bits) lie inside the 128 bits from the first data bit on.
    const auto valueBits = static_cast<unsigned>(layout.FValueBits);
    const std::uint64_t value = high >> (64 - valueBits);
    // The bits after the value, from the top: status, then CRC.
    // The 128 bits shifted left by valueBits (1 to 64), without a shift by 64.
    const std::uint64_t rest = ((high << (valueBits - 1)) << 1) | (low >> (64 - valueBits));
    const auto k = static_cast<unsigned>(layout.FParams.StatusBits);
    const auto status = static_cast<std::uint8_t>((rest >> 1) >> (63 - k));
    const auto crc = static_cast<std::uint16_t>((rest << k) >> layout.FCrcShift);
    const bool truncated = pair + layout.FFrameTail > bits.Length;
    layout.FillFields(value, status, crc, truncated, f);
    return f;
}

inline TFrameFields DecodeFrameData(const TFrameLayout& layout, const TFrameData& data) noexcept {
    TFrameFields f;
    f.Outcome = TDecodeOutcome::doDecoded;
    const std::uint64_t valueMask =
        layout.FValueBits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << layout.FValueBits) - 1;
    const auto status =
        static_cast<std::uint8_t>(data.Status & ((1U << layout.FParams.StatusBits) - 1U));
    const auto crc = static_cast<std::uint16_t>(data.Crc & layout.FCrcMask);
    layout.FillFields(data.Value & valueMask, status, crc, false, f);
    return f;
}
