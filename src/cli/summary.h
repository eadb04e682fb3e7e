// What a capture holds, counted over its frames: the summary of --summary and the exit status
// of every run. Each batch is counted on its own (on any thread); the parts are then merged in
// input order, so that the largest jump also spans the frames on both sides of a batch border.
#pragma once

#include "decode/framelayout.h"
#include "cli/records.h"
#include "cli/sink.h"

#include <cstdint>
#include <map>
#include <optional>
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

    // Counts one more frame, in input order (a cut burst is no frame: it is not counted).
    // `isSigned`: the layout's counts are signed.
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

// The median of many positive values in bounded memory: each value is rounded to 5
// significant digits and counted under that value. Rounding keeps the order, so the median of
// the rounded values is the median rounded, exact to the 5 digits written; a decade holds at
// most 90000 such values, so memory depends on the values' spread, never on their number.
// Minimum and maximum are kept exactly.
class TGridMedian {
public:
    static constexpr int Digits = 5;
    // Values that are not finite and above zero are left out.
    void Add(double value);
    void Merge(const TGridMedian& other);
    bool Empty() const { return FTotal == 0; }
    double Min() const { return FMin; }
    double Max() const { return FMax; }
    // The lower median (the middle value, or the lower of the two middle ones) of the rounded
    // values; 0 when empty.
    double Median() const;
    // A value rounded to the grid (5 significant digits).
    static double Rounded(double value);

private:
    static std::int32_t Key(double value);
    static double FromKey(std::int32_t key);

    std::map<std::int32_t, std::uint64_t> FCounts;
    std::uint64_t FTotal = 0;
    double FMin = 0.0;
    double FMax = 0.0;
};

// What the timing of a signal capture's frames adds to the summary. Batches are counted on
// their own and merged in input order, like TSummary; the frame rate spans the decoded frames
// of each capture, never two captures.
struct TSignalSummary {
    // Starts of the first and last frame with a timing, and the largest gap between the
    // starts of consecutive frames.
    bool HasFrames = false;
    double FirstStart = 0.0;
    double LastStart = 0.0;
    double LargestGap = 0.0;
    // Decoded frames of the capture being counted and the starts of its first and last.
    std::uint64_t Decoded = 0;
    double FirstDecoded = 0.0;
    double LastDecoded = 0.0;
    // Over the captures that ended: intervals between decoded frames and the time they span.
    std::uint64_t RateIntervals = 0;
    double RateSpan = 0.0;
    TGridMedian ClockHz;   // frames whose bits were received (ckBits)
    TGridMedian LineDelay; // the same frames, decoded
    std::uint64_t CutFrames = 0; // ckCut frames delivered
    // From the readers (TSignalStats), summed over the captures; HasStats when any gave them.
    bool HasStats = false;
    double Duration = 0.0;
    std::uint64_t Glitches = 0;
    std::uint64_t Cut = 0;

    // Counts one more frame of a signal capture, in input order.
    void Add(const TCaptureFrame& frame, const TDecodedRecord& record, const TFrameTiming& timing);
    // Appends the counts of the frames that follow; `continued` as for TSummary::Merge.
    void Merge(const TSignalSummary& next, bool continued);
    // Ends the capture being counted: its decoded frames join the frame rate.
    void EndCapture();
    // (decoded frames - 1) over the time from the first decoded frame's start to the last's,
    // over the captures that ended; 0 when there is no such span.
    double FrameRate() const;
};

// The summary as --summary writes it: an aligned table (with the scaled positions when the
// run has a scale), one JSON object, or a CSV header row and one row, with the keys frames,
// decoded, invalid, no_start_bit, crc_ok, crc_error, truncated, errors, warnings, ack_min,
// ack_max, position_min, position_max and largest_jump; with `signal` (signal captures) also
// duration_s, frame_rate_hz, clock_hz_min, clock_hz_median, clock_hz_max, line_delay_s_min,
// line_delay_s_median, line_delay_s_max, largest_gap_s, glitches and cut.
std::string FormatSummary(const TSummary& summary, TOutputFormat format,
                          const TFrameLayoutParams& layout, const TScale& scale,
                          const TSignalSummary* signal = nullptr);

// The summary sink: counts every frame and writes the summary at the end. The signal rows
// are there when the first input is a signal capture; a later input of the other kind stops
// with a TInputError.
class TSummarySink final : public TOutputSink {
public:
    TSummarySink(TOutputFormat format, const TFrameLayoutParams& layout, const TScale& scale);

    std::unique_ptr<TBatchResult> NewResult() const override;
    void Process(const TCaptureBatch& batch, TBatchResult& result) const override;
    void BeginInput(const TSinkInput& input, TSinkOutput& out) override;
    void Consume(const TCaptureBatch& batch, const TBatchResult& result, std::uint64_t sequence,
                 const TSinkInput& input, TSinkOutput& out) override;
    void EndInput(const TSinkInput& input, TSinkOutput& out) override;
    int Finish(std::uint64_t frames, TSinkOutput& out) override;

    const TSummary& Summary() const { return FSummary; }
    const TSignalSummary& Signal() const { return FSignalSummary; }

private:
    TOutputFormat FFormat;
    TFrameLayout FLayout;
    TScale FScale;
    TSummary FSummary;
    std::optional<bool> FSignal; // decided by the first input
    TSignalSummary FSignalSummary;
};
