// The view's own picture of a capture: one compact record per frame in columns (the decoded
// value for the plot, the outcome and flags for the marks, the line and the input text for the
// table), filled by the capture loader and read by the plot, the table and the frame view.
// Nothing here knows how a capture is read; the loader is the only part that does.
#pragma once

#include "decode/framelayout.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A growable array in fixed chunks: appending never moves what is stored, and a capture of
// millions of frames never needs one huge block, nor twice its size while growing.
template <class T, unsigned ChunkBits = 16>
class TChunkedVector {
public:
    static constexpr std::size_t ChunkSize = std::size_t{1} << ChunkBits;

    void PushBack(const T& value) {
        if ((FSize & (ChunkSize - 1)) == 0 && FSize / ChunkSize == FChunks.size()) {
            FChunks.push_back(std::make_unique<T[]>(ChunkSize));
        }
        FChunks[FSize >> ChunkBits][FSize & (ChunkSize - 1)] = value;
        ++FSize;
    }
    // Appends n values, filling chunk after chunk.
    void Append(const T* values, std::size_t n) {
        while (n > 0) {
            if ((FSize & (ChunkSize - 1)) == 0 && FSize / ChunkSize == FChunks.size()) {
                FChunks.push_back(std::make_unique<T[]>(ChunkSize));
            }
            const std::size_t offset = FSize & (ChunkSize - 1);
            const std::size_t part = std::min(n, ChunkSize - offset);
            std::copy(values, values + part, FChunks[FSize >> ChunkBits].get() + offset);
            FSize += part;
            values += part;
            n -= part;
        }
    }
    // Copies n values from `first` on into `out`.
    void Read(std::size_t first, std::size_t n, T* out) const {
        while (n > 0) {
            const std::size_t offset = first & (ChunkSize - 1);
            const std::size_t part = std::min(n, ChunkSize - offset);
            const T* chunk = FChunks[first >> ChunkBits].get() + offset;
            std::copy(chunk, chunk + part, out);
            first += part;
            out += part;
            n -= part;
        }
    }
    const T& operator[](std::size_t i) const { return FChunks[i >> ChunkBits][i & (ChunkSize - 1)]; }
    T& operator[](std::size_t i) { return FChunks[i >> ChunkBits][i & (ChunkSize - 1)]; }
    std::size_t Size() const { return FSize; }
    bool Empty() const { return FSize == 0; }
    void Clear() {
        FChunks.clear();
        FSize = 0;
    }
    std::size_t MemoryBytes() const { return FChunks.size() * ChunkSize * sizeof(T); }

private:
    std::vector<std::unique_ptr<T[]>> FChunks;
    std::size_t FSize = 0;
};

// How a frame turned out, as the records name it.
enum class TFrameOutcome : std::uint8_t {
    foInvalidInput, // the line could not be read as a frame
    foNoStartBit,   // no start bit in the frame
    foDecoded,      // every field is set
    foCut,          // the capture ended (or was cut) inside the frame
};

// What the source delivered: a frame's bits as hexadecimal text, a line that is not a frame,
// fields already cut out by a logic analyzer's decoder, the received bits of a signal
// capture's burst (kept as packed digits), or a burst the capture cut.
enum class TFrameSource : std::uint8_t { fsHex, fsInvalid, fsFields, fsBits, fsCut };

// The marks of the strip under the plot, as bits so that a range of frames ORs them together.
enum TFrameMark : std::uint8_t {
    fmCrcError = 1U << 0, // decoded, CRC wrong (or truncated)
    fmError = 1U << 1,    // nE active
    fmWarning = 1U << 2,  // nW active
    fmInvalid = 1U << 3,  // not decoded: invalid input, no start bit or cut
    fmJump = 1U << 4,     // the value changed by more than the jump threshold since the frame before
};

// One frame as the loader hands it to the store.
struct TStoredFrame {
    std::uint64_t Line = 0;
    TFrameSource Source = TFrameSource::fsHex;
    TFrameOutcome Outcome = TFrameOutcome::foDecoded;
    bool CrcOk = false;
    bool Error = false;
    bool Warning = false;
    bool Truncated = false;
    double Value = 0.0;          // the combined count as a number (signed where the layout says)
    double Time = std::numeric_limits<double>::quiet_NaN(); // seconds; NaN without a time
    TFrameData Fields;           // fsFields only
    // Signal captures (frames with a Time): fsBits frames' bit count, clock, line delay and
    // the CDM bit after them; zero for the others.
    std::uint16_t BitCount = 0;
    double ClockHz = 0.0;
    double LineDelay = 0.0;
    std::uint8_t Cdm = 0;
};

// Counts over the whole capture, kept up to date while frames are appended.
struct TCaptureTotals {
    std::uint64_t Frames = 0;
    std::uint64_t Decoded = 0;
    std::uint64_t CrcOk = 0;
    std::uint64_t CrcErrors = 0; // decoded with a wrong CRC or truncated
    std::uint64_t Errors = 0;
    std::uint64_t Warnings = 0;
    std::uint64_t InvalidInput = 0;
    std::uint64_t NoStartBit = 0;
    std::uint64_t Cut = 0;
    double Minimum = std::numeric_limits<double>::quiet_NaN();
    double Maximum = std::numeric_limits<double>::quiet_NaN();
};

// The frames of one capture, in capture order. Every frame costs its value (8 bytes), its
// flags (2) and where its input ends (4) plus the input itself; a signal capture's frame also
// its time, clock and line delay (8 each) and bit count (2), its received bits packed two
// hexadecimal digits a byte: 45 bytes for a 40-bit frame, 48 for a 64-bit one.
class TCaptureStore {
public:
    void Clear();
    void Append(const TStoredFrame& frame, std::string_view input);

    std::size_t Size() const { return FValues.Size(); }
    // The combined count; NaN for a frame that did not decode.
    double Value(std::size_t i) const { return FValues[i]; }
    std::uint64_t Line(std::size_t i) const;
    TFrameOutcome Outcome(std::size_t i) const { return static_cast<TFrameOutcome>(FFlags[i] & 3U); }
    TFrameSource Source(std::size_t i) const { return static_cast<TFrameSource>((FFlags[i] >> 2) & 7U); }
    bool CrcOk(std::size_t i) const { return (FFlags[i] & FlagCrcOk) != 0; }
    bool Error(std::size_t i) const { return (FFlags[i] & FlagError) != 0; }
    bool Warning(std::size_t i) const { return (FFlags[i] & FlagWarning) != 0; }
    bool Truncated(std::size_t i) const { return (FFlags[i] & FlagTruncated) != 0; }
    // The marks of the frame, without fmJump (which depends on a threshold).
    std::uint8_t Marks(std::size_t i) const;
    // The frame's input as the source delivered it.
    std::string Input(std::size_t i) const;
    // The fields of an fsFields frame; zeros for the others.
    TFrameData Fields(std::size_t i) const;

    // Whether the frames carry times (signal captures); then Time() never decreases.
    bool HasTime() const { return FHasTime; }
    double Time(std::size_t i) const { return FHasTime ? FTimes[i] : static_cast<double>(i); }
    // The timing of a signal capture's frame (HasTime()): 0 for frames whose bits were not
    // received (cut or invalid bursts) and in captures without times.
    std::uint16_t BitCount(std::size_t i) const { return FHasTime ? FBitCounts[i] : std::uint16_t{0}; }
    double ClockHz(std::size_t i) const { return FHasTime ? FClocks[i] : 0.0; }
    double LineDelay(std::size_t i) const { return FHasTime ? FDelays[i] : 0.0; }
    std::uint8_t Cdm(std::size_t i) const { return (FFlags[i] & FlagCdm) != 0 ? 1 : 0; }

    const TCaptureTotals& Totals() const { return FTotals; }
    // Bytes held, for the memory budget.
    std::size_t MemoryBytes() const;

private:
    // Bits 0-1 the outcome, 2-4 the source, then these.
    static constexpr std::uint16_t FlagCrcOk = 1U << 5;
    static constexpr std::uint16_t FlagError = 1U << 6;
    static constexpr std::uint16_t FlagWarning = 1U << 7;
    static constexpr std::uint16_t FlagTruncated = 1U << 8;
    static constexpr std::uint16_t FlagCdm = 1U << 9;
    static constexpr std::uint16_t FlagPacked = 1U << 10; // the input is packed digits
    static constexpr unsigned TextChunkBits = 16;

    // Where frame i's input ends in FText.
    std::uint64_t TextEnd(std::size_t i) const {
        return FTextBases[i >> TextChunkBits] + FTextEnds[i];
    }

    TChunkedVector<double> FValues;
    // Lines as runs of consecutive numbers: frame FRunFirst[r] and those after it, up to the
    // next run, have lines FRunLine[r], FRunLine[r] + 1, ... Most captures need a handful of
    // runs, not a number per frame.
    TChunkedVector<std::uint64_t> FRunFirst;
    TChunkedVector<std::uint64_t> FRunLine;
    std::uint64_t FLastLine = 0;
    TChunkedVector<std::uint16_t> FFlags;
    // The input texts one after another (fsBits frames as packed digits); frame i's ends at
    // FTextBases[i / 2^16] + FTextEnds[i]: an offset within the frames of its chunk.
    TChunkedVector<char, 20> FText;
    TChunkedVector<std::uint32_t, TextChunkBits> FTextEnds;
    std::vector<std::uint64_t> FTextBases;
    // Filled from the first fsFields frame on, with zeros for the frames before it.
    TChunkedVector<TFrameData> FFields;
    TChunkedVector<double> FTimes;
    TChunkedVector<double> FClocks;
    TChunkedVector<double> FDelays;
    TChunkedVector<std::uint16_t> FBitCounts;
    bool FHasTime = false;
    TCaptureTotals FTotals;
};

// How a capture is to be read and decoded: what the side panel and the command line set.
struct TLoadSettings {
    std::string File;               // UTF-8 path
    std::string Format = "auto";    // a corvane-decode --input name
    std::string Column;             // CSV column or data line; empty: the reader's default
    std::uint32_t FrameBytes = 0;   // 0: not given
    TFrameLayoutParams Layout;      // the window's layout by default
    std::string ScaleText;          // "NUM/DEN[:UNIT]" or empty for none
    // Signal captures: the clock (MA) and data (SLO) channels, by name or 0-based index;
    // empty to choose them by their usual names.
    std::string ClockChannel;
    std::string DataChannel;
    // Messages name the command-line options (--clock, --frame-bytes, ...) where the window's
    // name its side panel's fields.
    bool OptionTerms = false;
};

// The scale as the plot uses it: value = count x Factor, written with Unit.
struct TViewScale {
    bool Enabled = false;
    double Factor = 1.0;
    std::string Unit;
};

// The clock (MA) and data (SLO) lines of a signal capture over [From, To]: their levels at
// From and every change after it.
struct TSignalEdge {
    double Time = 0.0;
    bool Clock = true;
    bool Data = true;
    bool Gap = false; // the levels are unknown from here to the next change
};
struct TSignalWindow {
    static constexpr std::size_t MaxEdges = 1U << 16;
    double From = 0.0;
    double To = 0.0;
    bool ClockAtFrom = true;
    bool DataAtFrom = true;
    bool GapAtFrom = false;
    bool Truncated = false; // more than MaxEdges changes: the rest left out
    std::vector<TSignalEdge> Edges;
};

// A loaded capture: the frames and how they were read.
struct TCapture {
    TLoadSettings Settings;
    std::string FormatName; // the format actually read (never "auto")
    TViewScale Scale;
    TCaptureStore Store;
    // What separates the file's name from a frame's number in the records: ':' before line
    // numbers, '#' before the burst numbers of a signal capture.
    char SourceSeparator = ':';
    // corvane-decode --summary's table for the capture with its layout.
    std::string SummaryText;
    // Signal captures: the register accesses of the control channel (columns and one row of
    // fields per access, as corvane-decode's register records) and the register map as text.
    std::vector<std::string> RegisterColumns;
    std::vector<std::vector<std::string>> RegisterRows;
    std::string RegisterMapText;
};
