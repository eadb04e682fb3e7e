// The one place where the view meets corvane-decode's capture library: reading a capture into
// the view's store, the record texts of its frames, the CSV export, the layout scan and the
// command-line layout options. Everything else of the view sees only capturemodel.h.
#pragma once

#include "view/capturemodel.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Progress of a load, written by the loading thread and read by the window.
struct TLoadProgress {
    std::atomic<std::uint64_t> Bytes{0};
    std::atomic<std::uint64_t> TotalBytes{0}; // 0 when unknown
    std::atomic<std::uint64_t> Frames{0};
};

enum class TLoadResult { lrOk, lrCancelled, lrFailed };

// The input format names the side panel offers, "auto" first.
std::vector<std::string> InputFormatNames();

// Why `settings` cannot be loaded (unknown format, bad layout, bad scale), or an empty text.
std::string CheckLoadSettings(const TLoadSettings& settings);

// A message of the capture library for the window: the options it names (--clock, --data,
// --column, --frame-bytes, --input) become the side panel's fields that hold them.
std::string InPanelTerms(std::string message);

// Reads settings.File with its format and decodes every frame with its layout into `capture`
// (cleared first). Stops early, returning lrCancelled, once `cancel` is set. On lrFailed
// `error` says what went wrong, naming the file (and line where there is one).
TLoadResult LoadCapture(const TLoadSettings& settings, TCapture& capture, TLoadProgress& progress,
                        const std::atomic<bool>& cancel, std::string& error);

// The records of a capture's frames as corvane-decode writes them.
class TRecordSource {
public:
    explicit TRecordSource(const TCapture& capture);
    ~TRecordSource();
    TRecordSource(const TRecordSource&) = delete;
    TRecordSource& operator=(const TRecordSource&) = delete;

    // The record columns: source, input, outcome, ack, ... [, scaled, unit].
    const std::vector<std::string>& Columns() const { return FColumns; }
    // The fields of frame i's record, as many as Columns(); fields a frame does not have are
    // empty.
    std::vector<std::string> Fields(std::size_t i) const;
    // Writes the CSV records of every frame, header first: the bytes of
    // `corvane-decode --format csv` with the same options. False when `out` fails.
    bool WriteCsv(std::ostream& out) const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    std::vector<std::string> FColumns;
};

// A layout under which frames pass, from the layout scan.
struct TLayoutCandidate {
    std::int32_t PositionBits = 0; // with 2 status bits and no multi-turn bits
    std::uint32_t Crc = 0;
    std::uint32_t CrcStart = 0;
    bool CrcInverted = true;
    std::uint64_t Passed = 0;
};

// The scan over the capture's frames: the candidates, most frames passing first, at most
// `count` of them. Stops early, returning what it has, when `cancel` is set.
std::vector<TLayoutCandidate> ScanLayouts(const TCapture& capture, std::size_t count,
                                          const std::atomic<bool>& cancel);

// Reads corvane-decode's layout, scale and input options and one FILE from `args` (the
// program's arguments without the ones the view itself takes) into `settings`. False with a
// message in `error` for anything corvane-decode would refuse, or not exactly one file.
bool ParseLoadArguments(const std::vector<std::string>& args, TLoadSettings& settings, std::string& error);

// The clock and data lines of a signal capture (capture.FormatName one of the signal formats)
// read again from its file, window after window. The file stays open between reads: a window
// that starts no earlier than the one before goes on from where that one started, so that
// stepping forward through the frames reads the capture once. The last changes passed over
// (at most `historyEdges` of them) are kept, so that a window a little earlier (a step back to
// the frames before) is served from memory; one earlier still reads from the capture's start
// again. Reads may come from any thread; one waits for another.
class TSignalLines {
public:
    // 8 MB of changes (16 MB at most before older ones are dropped): a few thousand frames
    // at a frame's hundred or two edges.
    static constexpr std::size_t DefaultHistoryEdges = std::size_t{1} << 19;

    explicit TSignalLines(const TCapture& capture, std::size_t historyEdges = DefaultHistoryEdges);
    ~TSignalLines();
    TSignalLines(const TSignalLines&) = delete;
    TSignalLines& operator=(const TSignalLines&) = delete;

    // Reads the lines' changes in (from, to] and their levels at `from` into `window`. Stops
    // early, returning lrCancelled, once `cancel` is set (the next read goes on correctly);
    // lrFailed with `error` when the file cannot be read (it may have changed since).
    TLoadResult Read(double from, double to, TSignalWindow& window, const std::atomic<bool>& cancel,
                     std::string& error);
    // Bytes of the file read over every window so far.
    std::uint64_t BytesRead() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// One window of a capture's lines read from the capture's start (see TSignalLines::Read).
TLoadResult ReadSignalWindow(const TCapture& capture, double from, double to, TSignalWindow& window,
                             const std::atomic<bool>& cancel, std::string& error);

// Splits one CSV record (RFC 4180, without its line end) into fields.
std::vector<std::string> SplitCsvRecord(std::string_view record);
