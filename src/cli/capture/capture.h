// Reading captures for corvane-decode. A reader turns the bytes of one input (a file or
// standard input) into frames, in input order, each with the line it came from. Readers run on
// one thread; the frames they deliver are decoded and written elsewhere, possibly on others.
#pragma once

#include "framelayout.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

enum class TInputFormat {
    ifAuto,        // recognised from the first lines
    ifHex,         // one frame per line as hexadecimal text
    ifCsv,         // any CSV with a header row; the frame is the hex text in the chosen column
    ifSaleaeTable, // a logic analyzer's data-table export: enable ... disable spans of bytes
    ifSaleaeSpi,   // a logic analyzer's SPI export: rows with the same packet id form a frame
    ifSaleaeBiss,  // a logic analyzer's BiSS export: each row holds the fields of one frame
    ifSigrok,      // sigrok-cli SPI annotation lines
    ifBinary,      // raw bytes, a fixed number per frame
};

// The names of the formats as the command line writes them: "auto", "hex", "csv",
// "saleae-table", "saleae-spi", "saleae-biss", "sigrok", "binary".
std::string_view InputFormatName(TInputFormat format);
// The format of a name as above; false for an unknown name.
bool ParseInputFormatName(std::string_view name, TInputFormat& format);

enum class TCaptureKind : std::uint8_t {
    // The frame as hexadecimal text, cleaned as AppendCleanFrameText cleans it (letters and
    // digits kept, one "0x" removed, case kept); ParseFrameHex reads it.
    ckHex,
    // A line or row that could not be read as a frame; its input is what was read.
    ckInvalid,
    // A row of a logic analyzer's BiSS decoder: Data holds its fields; its input is the three
    // fields as written, joined by commas.
    ckBissFields,
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
};

// Frames read in one go, their texts in one buffer, so that a batch is a few allocations
// however many frames it holds, and can be reused.
struct TCaptureBatch {
    std::vector<TCaptureFrame> Frames;
    std::string Text;
    // Bytes of the input consumed up to the end of this batch, for progress reports.
    std::uint64_t BytesConsumed = 0;

    void Clear() {
        Frames.clear();
        Text.clear();
    }
    std::string_view Input(const TCaptureFrame& frame) const {
        return std::string_view(Text).substr(frame.InputOffset, frame.InputSize);
    }
};

// A fault that stops the reading of a whole input: it cannot be read or recognised, its header
// lacks what the format needs, an option the format needs is missing. Line is the 1-based line
// where the format went wrong, 0 when no line is concerned. The message names no file: the
// caller knows which input it was reading.
class TInputError : public std::runtime_error {
public:
    TInputError(std::uint64_t line, const std::string& message)
        : std::runtime_error(message), FLine(line) {}
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
};

struct TReaderOptions {
    TInputFormat Format = TInputFormat::ifAuto;
    // The column that holds the frame (CSV) or the data line (SPI exports); case-insensitive.
    // Empty: "miso".
    std::string Column;
    // Bytes per frame where the format marks no frame boundary; 0 when not given.
    std::uint32_t FrameBytes = 0;
};

// The longest line or row a reader keeps. A longer one becomes a ckInvalid frame whose input is
// its start followed by "...", and the rest of it is skipped without being held in memory.
inline constexpr std::size_t MaxLineBytes = 64 * 1024;

class TCaptureReader {
public:
    virtual ~TCaptureReader() = default;
    // The format being read; never ifAuto.
    virtual TInputFormat Format() const = 0;
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
