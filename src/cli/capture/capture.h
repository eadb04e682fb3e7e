// Reading captures for corvane-decode. A reader turns the bytes of one input (a file or
// standard input) into frames, in input order, each with the line it came from. Readers run on
// one thread; the frames they deliver are decoded and written elsewhere, possibly on others.
#pragma once

#include "decode/framelayout.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// An input format as the registry of readers knows it: its name on the command line
// ("hex", "csv", ...) and one line for --help and the manual. The list is InputFormats(),
// most specific first: the order in which --input auto tries them.
struct TInputFormatInfo {
    std::string_view Name;
    std::string_view Summary;
};

// The formats, most specific first; "auto" is not among them.
const std::vector<const TInputFormatInfo*>& InputFormats();
// The format of a name; nullptr for an unknown name and for "auto".
const TInputFormatInfo* FindInputFormat(std::string_view name);
// The name that asks for recognition from the input itself.
inline constexpr std::string_view AutoFormatName = "auto";

enum class TCaptureKind : std::uint8_t {
    // The frame as hexadecimal text, cleaned as AppendCleanFrameText cleans it (letters and
    // digits kept, one "0x" removed, case kept); ParseFrameHex reads it.
    ckHex,
    // A line or row that could not be read as a frame; its input is what was read.
    ckInvalid,
    // A row of a logic analyzer's BiSS decoder: Data holds its fields; its input is the three
    // fields as written, joined by commas.
    ckBissFields,
    // The received bits of a frame recovered from a signal capture: BitCount bits written as
    // hexadecimal text, bit 0 the top bit of the first digit, zeros after the last bit to fill
    // the last digit. Its timing is in TCaptureBatch::Timing.
    ckBits,
    // A burst of clocks that the capture cut (it starts or ends inside it): never decoded.
    ckCut,
};

struct TCaptureFrame {
    // The 1-based line of the frame's first line or row; for binary input the 1-based number
    // of the frame.
    std::uint64_t Line = 0;
    TCaptureKind Kind = TCaptureKind::ckHex;
    // The frame's input text, in TCaptureBatch::Text (see TCaptureBatch::Input).
    std::uint32_t InputOffset = 0;
    std::uint32_t InputSize = 0;
    TFrameData Data; // ckBissFields only
    std::uint16_t BitCount = 0; // ckBits only
};

// When and how a frame of a signal capture came: the time of its first falling clock edge
// (seconds from the capture's start), the clock (1 / the median clock period), the line delay
// (seconds from the second rising clock edge to the slave's ACK) and the CDM bit the master
// sent after it (0 or 1). Frames whose burst was cut or too long have only Time.
struct TFrameTiming {
    // Cds of a frame whose received bits hold its CDS bit (a signal capture's frames).
    static constexpr std::int8_t CdsFromBits = -2;

    double Time = 0.0;
    double ClockHz = 0.0;
    double LineDelay = 0.0;
    std::uint8_t Cdm = 0;
    // The CDS bit (the slave's bit after the start bit) as the input states it: 0, 1, or -1
    // for none, for records of a signal capture read back, whose frame text may hold bits of
    // padding after the last received bit. CdsFromBits: the frame's bits tell it.
    std::int8_t Cds = CdsFromBits;
};

// Frames read in one go, their texts in one buffer, so that a batch is a few allocations
// however many frames it holds, and can be reused.
struct TCaptureBatch {
    std::vector<TCaptureFrame> Frames;
    std::string Text;
    // Empty, or one for each frame (signal captures).
    std::vector<TFrameTiming> Timing;
    // Bytes of the input consumed up to the end of this batch, for progress reports.
    std::uint64_t BytesConsumed = 0;

    void Clear() {
        Frames.clear();
        Text.clear();
        Timing.clear();
    }
    std::string_view Input(const TCaptureFrame& frame) const {
        return std::string_view(Text).substr(frame.InputOffset, frame.InputSize);
    }
};

// `message` fit for a terminal: control bytes (C0 and DEL), which a quoted piece of a binary
// or foreign input may hold, written as \xNN. A NUL would otherwise end the message early and
// an ESC drive the terminal.
std::string PrintableMessage(std::string_view message);

// A fault that stops the reading of a whole input: it cannot be read or recognised, its header
// lacks what the format needs, an option the format needs is missing. Line is the 1-based line
// where the format went wrong, 0 when no line is concerned. The message names no file: the
// caller knows which input it was reading; control bytes in it are written as PrintableMessage
// writes them.
class TInputError : public std::runtime_error {
public:
    TInputError(std::uint64_t line, const std::string& message)
        : std::runtime_error(PrintableMessage(message)), FLine(line) {}
    std::uint64_t Line() const { return FLine; }

private:
    std::uint64_t FLine;
};

// The bytes of one input, read once from start to end.
class TByteSource {
public:
    virtual ~TByteSource() = default;
    // Reads up to `capacity` bytes into `buffer`; returns 0 only at the end of the input.
    // Throws TInputError when the input cannot be read.
    virtual std::size_t Read(char* buffer, std::size_t capacity) = 0;
    // Whether a Read would return at once (bytes or the end are waiting). A live input (a pipe
    // fed by a device, a terminal) says false while its writer is quiet: readers then hand on
    // the frames they have instead of waiting for a full batch.
    virtual bool DataWaiting() const { return true; }
};

struct TReaderOptions {
    // A name of InputFormats(), or AutoFormatName.
    std::string Format = std::string(AutoFormatName);
    // The input's path as given, empty for standard input: formats kept in a file that must be
    // read out of order (a zip) or beside other files (one file per channel) open it by name.
    std::string Path;
    // The column that holds the frame (CSV) or the data line (SPI exports); case-insensitive.
    // Empty: "miso".
    std::string Column;
    // Bytes per frame where the format marks no frame boundary; 0 when not given.
    std::uint32_t FrameBytes = 0;
    // Signal captures: the clock (MA) and data (SLO) channels, by name or 0-based index;
    // empty to choose them by their usual names.
    std::string ClockChannel;
    std::string DataChannel;
};

// The options of `options` that the reader of `format` (a name of InputFormats()) does not read,
// of "--column", "--frame-bytes", "--clock" and "--data", in that order: given for nothing.
std::vector<std::string_view> UnusedReaderOptions(std::string_view format,
                                                  const TReaderOptions& options);

// The longest line or row a reader keeps. A longer one becomes a ckInvalid frame whose input is
// its start followed by "...", and the rest of it is skipped without being held in memory.
inline constexpr std::size_t MaxLineBytes = 64 * 1024;

// What a signal capture tells beyond its frames: its length in seconds, the clock pulses
// ignored as glitches, and the bursts the capture cut.
struct TSignalStats {
    double Duration = 0.0;
    std::uint64_t Glitches = 0;
    std::uint64_t Cut = 0;
};

class TCaptureReader {
public:
    virtual ~TCaptureReader() = default;
    // The name of the format being read; never AutoFormatName.
    virtual std::string_view Format() const = 0;
    // What separates the input's name from a frame's number in a record's source: ':' before
    // line numbers, '#' before the burst numbers of a signal capture.
    virtual char SourceSeparator() const { return ':'; }
    // Signal captures: their figures so far (all of them once ReadBatch has returned false);
    // nullptr for other inputs.
    virtual const TSignalStats* SignalStats() const { return nullptr; }
    // Appends the next frames to `batch`, at most `maxFrames` and at least one unless the input
    // is exhausted, and updates its BytesConsumed. Returns false when no frame was left to
    // append. Memory stays bounded whatever the input. Throws TInputError for a fault that
    // stops the whole input.
    virtual bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) = 0;
};

// Reads the first bytes of `source`, recognises its format when options.Format is ifAuto, checks
// the header and the options the format needs, and returns a reader for the rest. `source`
// must outlive the reader. Throws TInputError when the format cannot be recognised, the header
// does not fit the format, or an option the format needs is missing (binary input without a
// frame size, say); the message says what to do.
std::unique_ptr<TCaptureReader> OpenCaptureReader(TByteSource& source, const TReaderOptions& options);

// What each format holds and how it is read is written beside its reader, in formats/. Every
// text format is read as bytes: LF or CRLF line ends, an optional UTF-8 byte order mark at the
// start, a last line without a line end. Line numbers count every physical line, skipped ones
// and the lines inside a quoted CSV field too. An input without any byte has no frames,
// whatever its format; so has a text input holding only a byte order mark or blank lines.
// --input auto recognises the format from the first lines (up to 16 non-blank lines in the
// first 64 KiB), trying the formats in the order of InputFormats(); when none fits, the
// TInputError lists the header's columns (when the first line has several comma- or
// tab-separated fields) or names the formats tried; both say to give --input.

// The most bytes --frame-bytes may ask for: a frame's text must fit in MaxLineBytes.
inline constexpr std::uint32_t MaxFrameBytes = MaxLineBytes / 2;

// A call of ReadBatch ends early, before maxFrames, once it has appended this many bytes of
// text, so that a batch's memory stays bounded whatever the frames' lengths.
inline constexpr std::size_t MaxBatchTextBytes = 8 * 1024 * 1024;

// An input held in memory, handed out in pieces of at most `pieceBytes` bytes per Read (all
// that fits by default): for tests, and to read text already in memory.
class TMemoryByteSource final : public TByteSource {
public:
    explicit TMemoryByteSource(std::string_view data, std::size_t pieceBytes = SIZE_MAX)
        : FData(data), FPieceBytes(std::max<std::size_t>(pieceBytes, 1)) {}
    std::size_t Read(char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min({capacity, FPieceBytes, FData.size() - FOffset});
        if (n > 0) {
            std::memcpy(buffer, FData.data() + FOffset, n);
        }
        FOffset += n;
        return n;
    }

private:
    std::string_view FData;
    std::size_t FPieceBytes;
    std::size_t FOffset = 0;
};
