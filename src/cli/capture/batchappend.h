// Appending frames to a batch: the one way a frame and its input text enter a TCaptureBatch,
// and the pieces readers build on it (a queue of frames that are ready, an assembler of frames
// out of runs of hex digits, and a buffered writer for the fastest readers).
#pragma once

#include "capture/capture.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

// Appends one frame with its input text to `batch` and returns it, for a reader to add what
// its kind carries (Data, BitCount).
TCaptureFrame& AppendFrame(TCaptureBatch& batch, std::uint64_t line, TCaptureKind kind,
                           std::string_view input, const TFrameData& data = {});
// The same for an overlong text: an invalid frame holding its start and "...".
TCaptureFrame& AppendLongFrame(TCaptureBatch& batch, std::uint64_t line, std::string_view start);

// True while `batch` can take another frame under a frame and a text limit.
inline bool BatchHasRoom(const TCaptureBatch& batch, std::size_t limit, std::size_t textLimit) {
    return batch.Frames.size() < limit && batch.Text.size() < textLimit;
}

// Frames that are ready but not yet in a batch: a row of an export can complete several frames
// at once, more than a batch may still take.
class TFrameQueue {
public:
    void Push(std::uint64_t line, TCaptureKind kind, std::string_view input, const TFrameData& data = {}) {
        AppendFrame(FPending, line, kind, input, data);
    }
    void PushLong(std::uint64_t line, std::string_view start) { AppendLongFrame(FPending, line, start); }
    bool Empty() const { return FHead == FPending.Frames.size(); }
    // Moves frames into `batch` until it holds `limit` frames or `textLimit` bytes of text.
    void MoveTo(TCaptureBatch& batch, std::size_t limit, std::size_t textLimit);

private:
    TCaptureBatch FPending;
    std::size_t FHead = 0;
};

// Builds frames out of runs of hexadecimal digits: the values of a span or a packet (a group),
// or single rows, or, with a frame size (--frame-bytes), a stream cut into frames of that many
// bytes. A trailing partial frame is an invalid frame holding its digits, never dropped.
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
    // A row that cannot be read: it joins the frame being built and makes it invalid (input:
    // its digits so far, a blank and the row as read), or is an invalid frame of its own. It
    // ends a frame being cut by size.
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

// AppendFrame for readers that deliver millions of short frames: gathers frames and texts in
// small buffers of its own and moves them into the batch a few hundred at a time, with no call,
// no growth check and no zero-filling per frame.
class TBatchWriter {
public:
    TBatchWriter() : FFrames(new TCaptureFrame[FrameChunk]), FText(new char[TextChunk]) {}

    void Start(TCaptureBatch& batch) {
        FBatch = &batch;
        FCount = 0;
        FUsed = 0;
        FTextStart = batch.Text.size();
        FFramesBefore = batch.Frames.size();
    }
    // Frames and text in the batch, counting those not moved yet.
    std::size_t FrameCount() const { return FFramesBefore + FCount; }
    std::size_t TextSize() const { return FTextStart + FUsed; }

    void Add(std::uint64_t line, TCaptureKind kind, std::string_view input) {
        const std::size_t size = input.size();
        if (FCount == FrameChunk || FUsed + size > TextChunk) {
            Flush();
            if (size > TextChunk) {
                AppendFrame(*FBatch, line, kind, input);
                FTextStart = FBatch->Text.size();
                FFramesBefore = FBatch->Frames.size();
                return;
            }
        }
        TCaptureFrame& frame = FFrames[FCount++];
        frame.Line = line;
        frame.Kind = kind;
        frame.InputOffset = static_cast<std::uint32_t>(FTextStart + FUsed);
        frame.InputSize = static_cast<std::uint32_t>(size);
        CopyBytes(FText.get() + FUsed, input.data(), size);
        FUsed += size;
    }

    // Moves what was gathered into the batch.
    void Flush();

private:
    static constexpr std::size_t FrameChunk = 256;
    static constexpr std::size_t TextChunk = 16 * 1024;

    // A copy that needs no call for the usual lengths: two overlapping fixed-size copies.
    static void CopyBytes(char* out, const char* in, std::size_t size) {
        if (size >= 16 && size <= 32) {
            std::memcpy(out, in, 16);
            std::memcpy(out + size - 16, in + size - 16, 16);
        } else if (size >= 8 && size < 16) {
            std::memcpy(out, in, 8);
            std::memcpy(out + size - 8, in + size - 8, 8);
        } else if (size > 0) {
            std::memcpy(out, in, size);
        }
    }

    TCaptureBatch* FBatch = nullptr;
    std::unique_ptr<TCaptureFrame[]> FFrames;
    std::unique_ptr<char[]> FText;
    std::size_t FCount = 0;
    std::size_t FUsed = 0;
    std::size_t FTextStart = 0;
    std::size_t FFramesBefore = 0;
};
