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

#include "bisscrc.h"
#include "frametext.h"

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
    const TBissCrc& Crc() const { return *FCrc; }
    const std::shared_ptr<const TBissCrc>& SharedCrc() const { return FCrc; }
    std::int32_t CrcWidth() const { return FCrc->Width(); }
    // Multi-turn, single-turn and status bits: the bits the CRC covers.
    std::int32_t DataBits() const { return FDataBits; }
    // The CRC that a frame carrying `data` (m + n bits) and `status` (k bits) must have, before
    // any inversion on the wire.
    std::uint16_t CalcCrc(std::uint64_t data, std::uint8_t status) const noexcept;

private:
    friend TFrameFields DecodeFrameBits(const TFrameLayout& layout, const TFrameBits& bits) noexcept;
    friend TFrameFields DecodeFrameData(const TFrameLayout& layout, const TFrameData& data) noexcept;

    void Prepare();
    void FillFields(std::uint64_t value, std::uint8_t status, std::uint16_t crc,
                    TFrameFields& fields) const noexcept;

    TFrameLayoutParams FParams;
    std::shared_ptr<const TBissCrc> FCrc;
    std::int32_t FDataBits = 0;
    std::int32_t FDataBytes = 0;     // whole bytes that hold the data bits
    std::uint16_t FStartTerm = 0;    // the start value advanced over the data bits
    std::uint64_t FPositionMask = 0; // the low n bits
};

// Decodes the frame in `bits` with `layout`: start bit, fields, CRC. Outcome is doDecoded or
// doNoStartBit; a frame that runs past the last received bit reads zeros there, is Truncated
// and never CrcOk.
TFrameFields DecodeFrameBits(const TFrameLayout& layout, const TFrameBits& bits) noexcept;

// Interprets fields already cut out of a frame: always doDecoded, AckLength 0, not truncated.
TFrameFields DecodeFrameData(const TFrameLayout& layout, const TFrameData& data) noexcept;

// The two's complement reading of a sign-extended field.
inline std::int64_t AsSigned(std::uint64_t pattern) { return static_cast<std::int64_t>(pattern); }
