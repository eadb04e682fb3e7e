// Reading captures for corvane-decode. A reader turns the bytes of one input (a file or
// standard input) into frames, in input order, each with the line it came from. Readers run on
// one thread; the frames they deliver are decoded and written elsewhere, possibly on others.
#pragma once

#include "framelayout.h"

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
    double Time = 0.0;
    double ClockHz = 0.0;
    double LineDelay = 0.0;
    std::uint8_t Cdm = 0;
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

// The longest line or row a reader keeps. A longer one becomes a ckInvalid frame whose input is
// its start followed by "...", and the rest of it is skipped without being held in memory.
inline constexpr std::size_t MaxLineBytes = 64 * 1024;

// What a signal capture's reader counted over the whole capture: its length in seconds, the
// glitches it ignored and the bursts it cut.
struct TSignalStats {
    double Duration;
    std::uint64_t Glitches;
    std::uint64_t Cut;
};

class TCaptureReader {
public:
    virtual ~TCaptureReader() = default;
    // The name of the format being read; never AutoFormatName.
    virtual std::string_view Format() const = 0;
    // What separates the input's name from a frame's number in a record's source: ':' before
    // line numbers, '#' before the burst numbers of a signal capture.
    virtual char SourceSeparator() const { return ':'; }
    // Signal captures: what the reader counted, complete once ReadBatch returned false;
    // nullptr for other formats.
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

// ---------------------------------------------------------------------------------------------
// What the readers do with each format. Every text format is read as bytes: LF or CRLF line
// ends, an optional UTF-8 byte order mark at the start, a last line without a line end. Line
// numbers count every physical line, skipped ones and the lines inside a quoted CSV field too.
// An input without any byte has no frames, whatever its format; so has a text input holding
// only a byte order mark or blank lines.
//
// hex: one frame per line, cleaned by AppendCleanFrameText; whether the text is a frame is
//   decided later by ParseFrameHex. Lines that are empty or blank (spaces, tabs, CR, VT, FF)
//   and lines whose first non-blank character is '#' are skipped.
// csv: RFC 4180 records (quoted fields, doubled quotes, line breaks inside quotes), comma or
//   tab as the delimiter, whichever the header row holds more of outside quotes. The header
//   row is required; the column is found by name, case-insensitive, blanks and one pair of
//   quotes around a header name ignored. Empty or blank lines between records are skipped. A
//   record with too few fields for the column is ckInvalid holding the record as read; a
//   quoted field still open at the end of the input makes its record ckInvalid. A stray quote
//   in an unquoted field opens a quoted section, as RFC 4180 reads it.
// saleae-table (a data-table export: name,type,start_time[,duration],...,"mosi","miso"):
//   rows of type enable, result, disable and error belong to the SPI analyzer; the analyzer
//   is the `name` of the first enable, disable or result row (error rows before it are taken
//   for another analyzer's, as I2S writes them too), and rows of other names or other types
//   (other analyzers) are ignored. The values of the data column from an enable row to the next
//   disable row are one frame, in order, its Line the enable row's. A new enable before the
//   disable ends the open frame first; a frame still open at the end of the input is
//   delivered as it is. An enable/disable pair without any result row is no frame.
//   Result rows outside any enable/disable span (no enable channel) are one frame each.
// saleae-spi (Time [s],Packet ID,MOSI,MISO): consecutive rows with the same Packet ID are one
//   frame, its Line the first row's. Rows without a Packet ID (no enable channel) are one
//   frame each.
// Values of both: hexadecimal ("0xC0", or several bytes as one token "0xC004C9BA71753000"),
//   its digits kept as written; decimal bytes (0 to 255, several separated by blanks); binary
//   ("0b11000000", left-padded with zeros to whole bytes); decimal and binary bytes become two
//   uppercase hexadecimal digits each in the frame. A decimal value above 255 stops the
//   input with a TInputError (its width is not written), and so does any other value that is
//   not empty and not a number: the ASCII radix; both messages say to export in hexadecimal.
// --frame-bytes N with saleae-table, saleae-spi and sigrok: each span, packet, and the run of
//   values outside them, is cut into frames of N bytes (2N hexadecimal digits); the Line of a
//   frame is the line of its first byte. A trailing partial frame (at the end of a span or
//   packet, or of the input) is ckInvalid with its digits as input, never dropped. Above
//   MaxFrameBytes it is a TInputError for these formats and binary; hex, csv and saleae-biss
//   ignore --frame-bytes.
// A row or line that cannot be read (fewer fields than the header, as the exports write every
//   column in every row; an empty value; a SPI analyzer `error` row; a sigrok line that is
//   not hex bytes; a line or record longer than MaxLineBytes)
//   joins the frame being built, which becomes ckInvalid with input: its digits so far, a
//   blank and the row as read (and a blank before digits read after it); it ends a frame
//   being cut by --frame-bytes. With no frame
//   being built it is a ckInvalid frame of its own. So frames come out in the order of their
//   Line, which never decreases.
// saleae-biss (Time[s],DATA,ERR-WARN,CRC, the BiSS analyzer's single-cycle export): each row
//   is a ckBissFields frame with Data = {DATA, ERR-WARN, CRC} and input the three fields as
//   written joined by commas. Hexadecimal ("0x"), binary ("0b") and decimal values are read;
//   another value stops the input (the ASCII radix). A value that is empty or too wide
//   (DATA above 64 bits, ERR-WARN above 8, CRC above 16) makes the row ckInvalid.
// sigrok (sigrok-cli annotation lines of the SPI decoder, one data line): "spi-1: C0 04 C9",
//   optionally after sample numbers ("20-284 spi-1: C0") and with the text in quotes after an
//   annotation class name at higher verbosity ('20-284 spi-1: MISO transfer: "C0 04"'). The
//   decoder instance of the first line is read; lines of other instances are ignored. A line
//   is one frame; with --frame-bytes the bytes of all lines are one stream cut into frames.
// binary: --frame-bytes N bytes per frame (required), each frame as uppercase hexadecimal
//   text, two digits a byte; Line is the frame's number. A trailing partial frame is
//   ckInvalid with its bytes as input.
// A frame that would be longer than MaxLineBytes (a span that never ends, say) is ckInvalid
//   with its start followed by "...".
//
// Recognising the format (--input auto) from the first lines (up to 16 non-blank lines in the
// first 64 KiB):
// 1. a NUL byte, another control character than TAB, LF, VT, FF or CR, DEL, or bytes that are
//    not UTF-8: binary (which then needs --frame-bytes);
// 2. the first non-blank line as a header: name, type and start_time: saleae-table; Time [s]
//    and Packet ID: saleae-spi; DATA, ERR-WARN and CRC: saleae-biss; the --column name
//    (default miso) among its fields: csv;
// 3. the first non-blank line shaped like sigrok-cli's annotation output: sigrok;
// 4. the first line that is not a '#' comment, and at least half of the sampled ones, made of
//    hexadecimal digits, blanks, "0x" prefixes and the separators : , ; . _ - : hex;
// 5. otherwise a TInputError: one that lists the header's columns when the first line has
//    several comma- or tab-separated fields, else one naming the formats tried; both say to
//    give --input.

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
