// What a capture holds, counted over its frames: the summary of --summary and the exit status
// of every run. Each batch is counted on its own (on any thread); the parts are then merged in
// input order, so that the largest jump also spans the frames on both sides of a batch border.
#pragma once

#include "framelayout.h"
#include "records.h"

#include <cstdint>
#include <string>

struct TSummary {
    std::uint64_t Frames = 0;
    std::uint64_t Decoded = 0;
    std::uint64_t Invalid = 0;
    std::uint64_t NoStartBit = 0;
    std::uint64_t CrcOk = 0;
    std::uint64_t CrcError = 0;  // decoded frames whose CRC failed, truncated ones included
    std::uint64_t Truncated = 0;
    std::uint64_t Errors = 0;    // decoded frames with nE = 0
    std::uint64_t Warnings = 0;  // decoded frames with nW = 0

    // ACK lengths over decoded frames that have one (not a BiSS analyzer's rows).
    bool HasAck = false;
    std::int32_t AckMin = 0;
    std::int32_t AckMax = 0;

    // Over frames with a good CRC, as order keys (see CountKey): the smallest and largest
    // combined count, the first and last one, and the largest difference between the count
    // of a good frame and that of the good frame before it.
    bool HasGood = false;
    std::uint64_t PositionMin = 0;
    std::uint64_t PositionMax = 0;
    std::uint64_t FirstGood = 0;
    std::uint64_t LastGood = 0;
    std::uint64_t LargestJump = 0;

    // Counts one more frame, in input order. `isSigned`: the layout's counts are signed.
    void Add(const TDecodedRecord& record, bool isSigned);
    // Appends the counts of the frames that follow these in input order. `continued`: they
    // continue the same capture, so that the jump across the border counts (false between
    // two input files, which are separate captures).
    void Merge(const TSummary& next, bool continued);

    // Whether the run succeeded: at least one frame, and every frame decoded with a good CRC.
    bool AllGood() const { return Frames > 0 && CrcOk == Frames; }
};

// The combined count as an unsigned number that orders counts as the layout reads them
// (two's complement counts are moved up by 2^63), so that differences are exact.
inline std::uint64_t CountKey(std::uint64_t count, bool isSigned) {
    return isSigned ? count ^ (std::uint64_t{1} << 63) : count;
}
inline std::uint64_t CountFromKey(std::uint64_t key, bool isSigned) {
    return CountKey(key, isSigned);
}

// The summary as --summary writes it: an aligned table (with the scaled positions when the
// run has a scale), one JSON object, or a CSV header row and one row, with the keys frames,
// decoded, invalid, no_start_bit, crc_ok, crc_error, truncated, errors, warnings, ack_min,
// ack_max, position_min, position_max and largest_jump.
std::string FormatSummary(const TSummary& summary, TOutputFormat format,
                          const TFrameLayoutParams& layout, const TScale& scale);
