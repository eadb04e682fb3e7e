// The readers behind OpenCaptureReader, and what they share. Internal to corvane_capture.
#pragma once

#include "capture.h"
#include "linereader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Each factory reads what the format needs from the start of `source` (the header) and throws
// TInputError when it does not fit. The reader owns `source`.
std::unique_ptr<TCaptureReader> MakeHexReader(std::unique_ptr<TByteSource> source);
std::unique_ptr<TCaptureReader> MakeCsvReader(std::unique_ptr<TByteSource> source,
                                              const TReaderOptions& options);
std::unique_ptr<TCaptureReader> MakeSaleaeTableReader(std::unique_ptr<TByteSource> source,
                                                      const TReaderOptions& options);
std::unique_ptr<TCaptureReader> MakeSaleaeSpiReader(std::unique_ptr<TByteSource> source,
                                                    const TReaderOptions& options);
std::unique_ptr<TCaptureReader> MakeSaleaeBissReader(std::unique_ptr<TByteSource> source);
std::unique_ptr<TCaptureReader> MakeSigrokReader(std::unique_ptr<TByteSource> source,
                                                 const TReaderOptions& options);
std::unique_ptr<TCaptureReader> MakeBinaryReader(std::unique_ptr<TByteSource> source,
                                                 const TReaderOptions& options);

// How much of an input its format is recognised from: this many non-blank lines (after a
// byte order mark), at most this many bytes.
inline constexpr std::size_t DetectSampleLines = 16;
inline constexpr std::size_t DetectSampleBytes = 64 * 1024;

// The format of the sample at the start of an input (see capture.h); throws TInputError when
// nothing fits. `complete` tells that the sample is the whole input.
std::string_view DetectInputFormat(std::string_view sample, bool complete, const TReaderOptions& options);

// Reads a sigrok-cli annotation line ("20-284 spi-1: C0 04") into its decoder instance and the
// hexadecimal digits of its text; false when it is no such line or its text is not hexadecimal
// words.
bool ParseSigrokAnnotation(std::string_view line, std::string_view& instance, std::string& digits);

// The column the options ask for: Column, or "miso".
std::string_view WantedColumn(const TReaderOptions& options);

// Appends one frame with its input text to a batch.
void AppendFrame(TCaptureBatch& batch, std::uint64_t line, TCaptureKind kind, std::string_view input,
                 const TFrameData& data = {});
// The same for an overlong text: its start and "...".
void AppendLongFrame(TCaptureBatch& batch, std::uint64_t line, std::string_view start);

// Frames that are ready but not yet in a batch: a row of an export can complete several frames
// at once, more than a batch may still take.
class TFrameQueue {
public:
    void Push(std::uint64_t line, TCaptureKind kind, std::string_view input, const TFrameData& data = {});
    void PushLong(std::uint64_t line, std::string_view start);
    bool Empty() const { return FHead == FFrames.size(); }
    // Moves frames into `batch` until it holds `limit` frames or `textLimit` bytes of text.
    void MoveTo(TCaptureBatch& batch, std::size_t limit, std::size_t textLimit);

private:
    std::vector<TCaptureFrame> FFrames;
    std::string FText;
    std::size_t FHead = 0;
};

// Builds frames out of runs of hexadecimal digits: the values of a span or a packet (a group),
// or single rows, or, with a frame size, a stream cut into frames (see capture.h).
class TFrameAssembler {
public:
    TFrameAssembler(TFrameQueue& queue, std::uint32_t frameBytes)
        : FQueue(queue), FFrameDigits(std::size_t{2} * frameBytes) {}

    // Starts a group at `line`, ending any open one.
    void Open(std::uint64_t line);
    // Ends the open group, if any: its frame, or the rest of a cut one, is delivered.
    void Close();
    bool IsOpen() const { return FOpen; }
    // The digits of one row. Outside a group, without a frame size, the row is a frame.
    void AddDigits(std::string_view digits, std::uint64_t line);
    // A row that cannot be read: it joins the frame being built and makes it invalid, or is
    // an invalid frame of its own.
    void AddUnreadable(std::string_view text, std::uint64_t line);
    // The same for a row longer than MaxLineBytes, of which `start` was kept.
    void AddLongUnreadable(std::string_view start, std::uint64_t line);
    // The end of the input.
    void Finish() { Close(); FlushPartial(); }

private:
    void Append(std::string_view text);
    void FlushPartial();
    void Deliver();

    TFrameQueue& FQueue;
    std::size_t FFrameDigits; // 0: no frame size
    bool FOpen = false;
    bool FPending = false; // a frame is being built
    bool FInvalid = false;
    bool FTooLong = false;
    std::uint64_t FLine = 0;
    std::string FText;
};

// How a value of a logic analyzer's export reads as bytes.
enum class TValueRead {
    vrDigits,    // hexadecimal digits appended
    vrEmpty,     // no value
    vrNotNumber, // a value in another radix (ASCII)
    vrTooWide,   // a decimal value above 255
};

// Appends the bytes of an SPI data value ("0xC0", "0xC004C9BA", "192", "192 4", "0b11000000")
// to `digits` as hexadecimal digits.
TValueRead ReadByteValue(std::string_view value, std::string& digits);

// Reads one number in hexadecimal ("0x"), binary ("0b") or decimal. Returns vrDigits on
// success (the name is shared; no digits are written), vrEmpty, vrNotNumber, or vrTooWide when
// it exceeds 64 bits.
TValueRead ReadNumber(std::string_view value, std::uint64_t& number);

// The message of a value in the ASCII radix, or another radix that carries no number.
TInputError NotNumberError(std::uint64_t line, std::string_view value);
