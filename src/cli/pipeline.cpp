#include "cli/pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Reads a batch into `slot` after clearing it, as many frames as `sizer` says; returns
// whether more may follow. An exception of the reader is stored in `error`, the frames read
// before it stay in the batch.
class TBatchReader {
public:
    TBatchReader(TCaptureReader& reader, const TPipelineSettings& settings)
        : FReader(reader), FMaxFrames(std::max<std::size_t>(settings.BatchFrames, 1)),
          FTargetBytes(settings.TargetBatchBytes),
          FFrames(std::min(FirstBatchFrames, FMaxFrames)) {}

    bool ReadInto(TBatchSlot& slot, std::exception_ptr& error) {
        slot.Batch.Clear();
        bool more = false;
        try {
            // A reader that appends nothing yet says "more" would never end: that is the end.
            more = FReader.ReadBatch(slot.Batch, FFrames) && !slot.Batch.Frames.empty();
        } catch (...) {
            error = std::current_exception();
        }
        FFrames = NextBatchFrames(FMaxFrames, FTargetBytes, FFrames, slot.Batch.Frames.size(),
                                  slot.Batch.Text.size());
        return more;
    }

private:
    TCaptureReader& FReader;
    std::size_t FMaxFrames;
    std::size_t FTargetBytes;
    std::size_t FFrames;
};

void RunOnCallingThread(TCaptureReader& reader, const TPipelineSettings& settings,
                        const TProcessBatch& process, const TConsumeBatch& consume,
                        const TNewBatchResult& newResult) {
    TBatchReader batches(reader, settings);
    TBatchSlot slot;
    if (newResult) {
        slot.Result = newResult();
    }
    std::exception_ptr error;
    for (std::uint64_t sequence = 0;; ++sequence) {
        const bool more = batches.ReadInto(slot, error);
        if (!slot.Batch.Frames.empty()) {
            slot.Sequence = sequence;
            process(slot);
            consume(slot);
            ReleaseLargeBuffers(slot);
        }
        if (!more) {
            break;
        }
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

class TThreadedPipeline {
public:
    TThreadedPipeline(TCaptureReader& reader, const TPipelineSettings& settings,
                      const TProcessBatch& process, const TConsumeBatch& consume,
                      const TNewBatchResult& newResult)
        : FBatches(reader, settings), FProcess(process), FConsume(consume) {
        const std::size_t count = PipelineSlotCount(settings.Threads);
        for (std::size_t i = 0; i < count; ++i) {
            FSlots.push_back(std::make_unique<TBatchSlot>());
            if (newResult) {
                FSlots.back()->Result = newResult();
            }
            FFree.push_back(FSlots.back().get());
        }
        FDone.assign(count, nullptr);
        FWorkerCount = settings.Threads;
    }

    void Run() {
        std::vector<std::thread> threads;
        std::exception_ptr consumeError;
        try {
            threads.emplace_back([this] { ReadLoop(); });
            for (unsigned i = 0; i < FWorkerCount; ++i) {
                threads.emplace_back([this] { WorkLoop(); });
            }
            ConsumeLoop();
        } catch (...) {
            consumeError = std::current_exception();
        }
        {
            std::lock_guard lock(FMutex);
            FStop = true;
        }
        FFreeReady.notify_all();
        FWorkReady.notify_all();
        for (std::thread& thread : threads) {
            thread.join();
        }
        if (consumeError) {
            std::rethrow_exception(consumeError);
        }
        if (FWorkerError) {
            std::rethrow_exception(FWorkerError);
        }
        if (FReaderError) {
            std::rethrow_exception(FReaderError);
        }
    }

private:
    void ReadLoop() {
        for (;;) {
            TBatchSlot* slot = nullptr;
            {
                std::unique_lock lock(FMutex);
                FFreeReady.wait(lock, [this] { return FStop || Failed() || !FFree.empty(); });
                if (FStop || Failed()) {
                    break;
                }
                slot = FFree.back();
                FFree.pop_back();
            }
            std::exception_ptr error;
            const bool more = FBatches.ReadInto(*slot, error);
            {
                std::lock_guard lock(FMutex);
                if (slot->Batch.Frames.empty()) {
                    FFree.push_back(slot);
                } else {
                    slot->Sequence = FBatchesRead++;
                    FWork.push_back(slot);
                }
                FReaderError = error;
                FReaderDone = !more;
            }
            FWorkReady.notify_one();
            if (!more) {
                break;
            }
        }
        {
            std::lock_guard lock(FMutex);
            FReaderDone = true;
        }
        FWorkReady.notify_all();
        FDoneReady.notify_all();
    }

    void WorkLoop() {
        for (;;) {
            TBatchSlot* slot = nullptr;
            {
                std::unique_lock lock(FMutex);
                FWorkReady.wait(lock, [this] { return FStop || !FWork.empty() || FReaderDone; });
                if (FStop || FWork.empty()) {
                    return;
                }
                slot = FWork.front();
                FWork.pop_front();
                // Nothing after a failed batch is consumed.
                if (slot->Sequence > FFailedSequence) {
                    FFree.push_back(slot);
                    continue;
                }
            }
            try {
                FProcess(*slot);
            } catch (...) {
                // The batches before this one are still processed and consumed; the
                // earliest failure is the one reported.
                {
                    std::lock_guard lock(FMutex);
                    if (slot->Sequence < FFailedSequence) {
                        FFailedSequence = slot->Sequence;
                        FWorkerError = std::current_exception();
                    }
                    FFree.push_back(slot);
                }
                FDoneReady.notify_all();
                FFreeReady.notify_all();
                FWorkReady.notify_all();
                continue;
            }
            {
                std::lock_guard lock(FMutex);
                FDone[slot->Sequence % FDone.size()] = slot;
            }
            FDoneReady.notify_one();
        }
    }

    void ConsumeLoop() {
        for (std::uint64_t next = 0;; ++next) {
            TBatchSlot* slot = nullptr;
            {
                std::unique_lock lock(FMutex);
                TBatchSlot*& done = FDone[next % FDone.size()];
                FDoneReady.wait(lock, [&] {
                    return FStop || next >= FFailedSequence ||
                           (done != nullptr && done->Sequence == next) ||
                           (FReaderDone && next == FBatchesRead);
                });
                if (FStop || next >= FFailedSequence || done == nullptr || done->Sequence != next) {
                    return;
                }
                slot = done;
                done = nullptr;
            }
            FConsume(*slot);
            ReleaseLargeBuffers(*slot);
            {
                std::lock_guard lock(FMutex);
                FFree.push_back(slot);
            }
            FFreeReady.notify_one();
        }
    }

    TBatchReader FBatches;
    const TProcessBatch& FProcess;
    const TConsumeBatch& FConsume;
    unsigned FWorkerCount = 1;

    std::vector<std::unique_ptr<TBatchSlot>> FSlots;
    std::mutex FMutex;
    std::condition_variable FFreeReady; // a slot is free for the reader
    std::condition_variable FWorkReady; // a batch waits for a worker, or the reader ended
    std::condition_variable FDoneReady; // a batch is processed, or the reader ended
    std::vector<TBatchSlot*> FFree;
    std::deque<TBatchSlot*> FWork;
    std::vector<TBatchSlot*> FDone; // by Sequence modulo its size: fewer slots than that exist
    std::uint64_t FBatchesRead = 0;
    bool FReaderDone = false;
    bool FStop = false;
    std::exception_ptr FReaderError;
    // The earliest batch whose processing threw, and its exception.
    std::uint64_t FFailedSequence = std::numeric_limits<std::uint64_t>::max();
    std::exception_ptr FWorkerError;

    bool Failed() const { return FWorkerError != nullptr; }
};

} // namespace

std::size_t PipelineSlotCount(unsigned threads) { return 2 * std::size_t{threads} + 2; }

std::size_t NextBatchFrames(std::size_t maxFrames, std::size_t targetBytes, std::size_t requested,
                            std::size_t lastFrames, std::size_t lastTextBytes) {
    std::size_t frames = 2 * requested;
    if (lastFrames > 0 && lastTextBytes > 0) {
        // Frames of the last batch's average length that fill the target.
        const double perFrame = static_cast<double>(lastTextBytes) / static_cast<double>(lastFrames);
        frames = std::min(frames, static_cast<std::size_t>(static_cast<double>(targetBytes) / perFrame));
    }
    return std::clamp<std::size_t>(frames, 1, maxFrames);
}

void ReleaseLargeBuffers(TBatchSlot& slot) {
    if (slot.Batch.Text.capacity() > KeptSlotBytes) {
        std::string().swap(slot.Batch.Text);
    }
    if (slot.Result) {
        slot.Result->Release(KeptSlotBytes);
    }
}

void RunSinkPipeline(TCaptureReader& reader, const TPipelineSettings& settings, TOutputSink& sink,
                     const TConsumeBatch& consume) {
    RunPipeline(
        reader, settings, [&sink](TBatchSlot& slot) { sink.Process(slot.Batch, *slot.Result); },
        consume, [&sink] { return sink.NewResult(); });
}

void RunPipeline(TCaptureReader& reader, const TPipelineSettings& settings,
                 const TProcessBatch& process, const TConsumeBatch& consume,
                 const TNewBatchResult& newResult) {
    if (settings.Threads <= 1) {
        RunOnCallingThread(reader, settings, process, consume, newResult);
        return;
    }
    TThreadedPipeline(reader, settings, process, consume, newResult).Run();
}
