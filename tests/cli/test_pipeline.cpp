// The ordered pipeline driven by a reader of made-up batches: every frame once, in input order
// whatever the number of threads, never more batches alive than its slots, and faults of the
// reader, the workers or the consumer end the run without losing what came before.
#include "frames.h"
#include "cli/pipeline.h"
#include "cli/records.h"
#include "cli/summary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

namespace {

// Delivers `frames` frames, their line numbers as text, and throws TInputError at frame
// `failAt` (0: never). Counts the batches read and not yet consumed.
class TCountingReader : public TCaptureReader {
public:
    TCountingReader(std::uint64_t frames, std::uint64_t failAt) : FFrames(frames), FFailAt(failAt) {}
    std::string_view Format() const override { return "hex"; }
    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override {
        for (std::size_t i = 0; i < maxFrames && FNext <= FFrames; ++i, ++FNext) {
            if (FNext == FFailAt) {
                throw TInputError(FNext, "broken");
            }
            AddFrame(batch, FNext, std::to_string(FNext));
        }
        if (!batch.Frames.empty()) {
            Alive.fetch_add(1);
        }
        return !batch.Frames.empty();
    }
    std::atomic<int> Alive{0};

private:
    std::uint64_t FFrames;
    std::uint64_t FFailAt;
    std::uint64_t FNext = 1;
};

// A batch's lines, as text.
struct TTextResult final : TBatchResult {
    std::string Text;
};

struct TRunResult {
    std::string Output;
    int MostAlive = 0;
    std::string Error;
};

TRunResult RunCounting(std::uint64_t frames, unsigned threads, std::size_t batchFrames,
               std::uint64_t failAt = 0, int throwInProcessAt = -1, int throwInConsumeAt = -1) {
    TCountingReader reader(frames, failAt);
    TRunResult result;
    std::uint64_t consumed = 0;
    const TProcessBatch process = [&](TBatchSlot& slot) {
        if (static_cast<int>(slot.Sequence) == throwInProcessAt) {
            throw std::runtime_error("process");
        }
        // Uneven work, so that later batches often finish first.
        std::this_thread::sleep_for(std::chrono::microseconds((slot.Sequence * 7919) % 300));
        if (!slot.Result) {
            slot.Result = std::make_unique<TTextResult>();
        }
        std::string& text = static_cast<TTextResult&>(*slot.Result).Text;
        text.clear();
        for (const TCaptureFrame& frame : slot.Batch.Frames) {
            text += FrameInput(slot.Batch, frame);
            text += '\n';
        }
    };
    const TConsumeBatch consume = [&](TBatchSlot& slot) {
        EXPECT_EQ(slot.Sequence, consumed++);
        if (static_cast<int>(slot.Sequence) == throwInConsumeAt) {
            throw std::runtime_error("consume");
        }
        result.MostAlive = std::max(result.MostAlive, reader.Alive.load());
        result.Output += static_cast<const TTextResult&>(*slot.Result).Text;
        reader.Alive.fetch_sub(1);
    };
    TPipelineSettings settings;
    settings.Threads = threads;
    settings.BatchFrames = batchFrames;
    try {
        RunPipeline(reader, settings, process, consume);
    } catch (const std::exception& e) {
        result.Error = e.what();
    }
    return result;
}

std::string Lines(std::uint64_t first, std::uint64_t last) {
    std::string text;
    for (std::uint64_t i = first; i <= last; ++i) {
        text += std::to_string(i) + "\n";
    }
    return text;
}

TEST(Pipeline, InputOrderAndBoundedBatchesForAnyThreadCount) {
    struct TCase {
        std::uint64_t Frames;
        unsigned Threads;
        std::size_t BatchFrames;
    };
    const TCase cases[] = {{0, 1, 16}, {0, 3, 16},  {1, 4, 16},  {1000, 1, 7},
                           {1000, 2, 7}, {5000, 4, 13}, {777, 8, 1}, {100, 2, 1000}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Frames << " frames, " << c.Threads << " threads");
        const TRunResult result = RunCounting(c.Frames, c.Threads, c.BatchFrames);
        EXPECT_EQ(result.Error, "");
        EXPECT_EQ(result.Output, c.Frames == 0 ? "" : Lines(1, c.Frames));
        EXPECT_LE(result.MostAlive, static_cast<int>(PipelineSlotCount(c.Threads)));
    }
}

TEST(Pipeline, BatchesStartSmallAndHoldTheTargetBytes) {
    struct TCase {
        std::size_t Requested, LastFrames, LastBytes, Expected;
    };
    // At most 4096 frames, 256 KiB of text.
    const TCase cases[] = {
        {16, 16, 16 * 17, 32},         // short lines: twice as many each time...
        {4096, 4096, 4096 * 17, 4096}, // ...up to the most
        {16, 16, 16 * 65000, 4},       // long lines: what fills the target
        {4, 4, 4 * 65000, 4},
        {4096, 129, 8 << 20, 4},       // lines turn long: at once down
        {16, 0, 0, 32},                // nothing read: no length known
        {1, 1, 10 << 20, 1},           // never below one frame
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(NextBatchFrames(4096, 256 * 1024, c.Requested, c.LastFrames, c.LastBytes), c.Expected)
            << c.Requested << " " << c.LastFrames << " " << c.LastBytes;
    }
}

TEST(Pipeline, FaultsEndTheRunAfterWhatCameBefore) {
    for (const unsigned threads : {1U, 3U}) {
        SCOPED_TRACE(threads);
        // The reader's fault: every frame before it is still written, then the fault surfaces.
        TRunResult result = RunCounting(1000, threads, 10, 555);
        EXPECT_EQ(result.Error, "broken");
        EXPECT_EQ(result.Output, Lines(1, 554)); // the batch's frames before the fault too
        // A fault while processing or consuming ends the run without hanging; the batches
        // before a failed one (10 frames each) are all written, whichever thread ran them.
        result = RunCounting(100000, threads, 10, 0, 5);
        EXPECT_EQ(result.Error, "process");
        EXPECT_EQ(result.Output, Lines(1, 50));
        result = RunCounting(100000, threads, 10, 0, -1, 3);
        EXPECT_EQ(result.Error, "consume");
        EXPECT_EQ(result.Output, Lines(1, 30));
    }
}

TEST(Pipeline, RecordsAndSummaryDoNotDependOnThreads) {
    const TFrameLayout layout;
    std::mt19937_64 random(7);
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i) {
        texts.push_back(MakeFrameHex(layout, 2 + static_cast<std::int32_t>(random() % 20), random(),
                                     3, random() % 4 == 0 ? 1 : 0, 64));
    }
    class TTextReader : public TCaptureReader {
    public:
        explicit TTextReader(const std::vector<std::string>& texts) : FTexts(texts) {}
        std::string_view Format() const override { return "hex"; }
        bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override {
            for (std::size_t i = 0; i < maxFrames && FNext < FTexts.size(); ++i, ++FNext) {
                AddFrame(batch, FNext + 1, FTexts[FNext]);
            }
            return !batch.Frames.empty();
        }

    private:
        const std::vector<std::string>& FTexts;
        std::size_t FNext = 0;
    };
    std::string first;
    std::string firstSummary;
    for (const unsigned threads : {1U, 2U, 5U}) {
        TPipelineSettings settings;
        settings.Threads = threads;
        settings.BatchFrames = 64;
        // The same frames through the records sink and the summary sink.
        auto run = [&](TOutputSink& sink) {
            TTextReader reader(texts);
            TStringSinkOutput out;
            const TSinkInput input{"x", &reader, 0};
            sink.BeginInput(input, out);
            RunSinkPipeline(reader, settings, sink, [&](TBatchSlot& slot) {
                sink.Consume(slot.Batch, *slot.Result, slot.Sequence, input, out);
            });
            sink.EndInput(input, out);
            sink.Finish(texts.size(), out);
            return out.Text;
        };
        TRecordSink records(TOutputFormat::ofCsv, layout.Params(), {});
        const std::string output = run(records);
        TSummarySink summarySink(TOutputFormat::ofJsonl, layout.Params(), {});
        const std::string summary = run(summarySink);
        if (threads == 1) {
            first = output;
            firstSummary = summary;
            EXPECT_EQ(summarySink.Summary().Frames, texts.size());
        } else {
            EXPECT_EQ(output, first) << threads;
            EXPECT_EQ(summary, firstSummary) << threads;
        }
    }
}

} // namespace
