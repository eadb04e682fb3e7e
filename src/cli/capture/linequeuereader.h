// A reader over the lines of a source it owns, whose lines complete frames through a queue: a
// line may complete none (a byte of a frame being cut) or several (a long run of bytes cut by
// --frame-bytes). The pulseview and hexdump readers are built on it.
#pragma once

#include "readers.h"

#include <algorithm>
#include <cstdint>
#include <memory>

class TLineQueueReader : public TCaptureReader {
public:
    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override {
        const std::size_t before = batch.Frames.size();
        const std::size_t limit = before + std::min(maxFrames, SIZE_MAX - before);
        const std::size_t textLimit = batch.Text.size() + MaxBatchTextBytes;
        for (;;) {
            FQueue.MoveTo(batch, limit, textLimit);
            const bool full = batch.Frames.size() >= limit || batch.Text.size() >= textLimit;
            if (full || FEnded) {
                break;
            }
            if (!ReadRow()) {
                FEnded = true; // before Finish: a TInputError thrown there is not thrown twice
                Finish();
                FAssembler.Finish();
            }
        }
        batch.BytesConsumed = FLines.BytesConsumed();
        return batch.Frames.size() > before;
    }

protected:
    TLineQueueReader(std::unique_ptr<TByteSource> source, std::uint32_t frameBytes)
        : FSource(std::move(source)), FLines(*FSource), FAssembler(FQueue, frameBytes) {}

    // Reads the next line, or a bounded part of the work one line stands for, into the
    // assembler; false at the end of the input.
    virtual bool ReadRow() = 0;
    // The end of the input, before the assembler delivers what it still holds.
    virtual void Finish() {}

    std::unique_ptr<TByteSource> FSource;
    TLineReader FLines;
    TFrameQueue FQueue;
    TFrameAssembler FAssembler;
    bool FEnded = false;
};

// The frame size check of the formats that cut by --frame-bytes: a frame's text must fit in
// MaxLineBytes.
inline void CheckFrameBytes(const TReaderOptions& options) {
    if (options.FrameBytes > MaxFrameBytes) {
        throw TInputError(0, "--frame-bytes " + std::to_string(options.FrameBytes) +
                                 " is more than a frame can hold; the most is " +
                                 std::to_string(MaxFrameBytes));
    }
}
