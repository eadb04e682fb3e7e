// The ordered batch pipeline: one thread reads batches of frames, worker threads decode and
// format them in any order, and the calling thread takes the results in input order. A fixed
// number of batches is in flight, so memory stays bounded whatever the input's size. What is
// made of a batch is opaque here (an output sink's TBatchResult).
#pragma once

#include "capture/capture.h"
#include "cli/sink.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// A batch of frames and what was made of it.
struct TBatchSlot {
    TCaptureBatch Batch;
    std::unique_ptr<TBatchResult> Result; // made by the process function, kept for the next batch
    std::uint64_t Sequence = 0;           // 0 for the first batch of the input
};

struct TPipelineSettings {
    // Worker threads. With 1 nothing runs on another thread: the calling thread reads,
    // processes and consumes each batch in turn.
    unsigned Threads = 1;
    // Frames per batch, at most: fewer where frames are long, so that a batch's text stays
    // near TargetBatchBytes.
    std::size_t BatchFrames = 4096;
    std::size_t TargetBatchBytes = 256 * 1024;
};

// The frames to ask the reader for next, after asking for `requested` and getting
// `lastFrames` frames of `lastTextBytes` bytes: as many frames of that length as fill
// `targetBytes`, at most twice as many as asked for before (batches start small, so that
// even the first batch of long lines stays small), between 1 and `maxFrames`.
inline constexpr std::size_t FirstBatchFrames = 16;
std::size_t NextBatchFrames(std::size_t maxFrames, std::size_t targetBytes, std::size_t requested,
                            std::size_t lastFrames, std::size_t lastTextBytes);

// A slot keeps its buffers for the next batch up to this size; larger ones (after a batch of
// long lines) are given back, so that memory does not stay at its peak in every slot.
inline constexpr std::size_t KeptSlotBytes = 1024 * 1024;
void ReleaseLargeBuffers(TBatchSlot& slot);

// Called on a worker thread, for batches in any order and several at a time.
using TProcessBatch = std::function<void(TBatchSlot&)>;
// Called on the calling thread for every batch, in input order.
using TConsumeBatch = std::function<void(TBatchSlot&)>;

// Batches in flight for a number of workers: each worker's, one being read, one being
// consumed, and one spare each for the reader to run ahead.
std::size_t PipelineSlotCount(unsigned threads);

// Reads `reader` to its end, processes every batch and consumes the results in input order.
// When the reader throws (TInputError: the input stops), the batches read before are still
// processed and consumed, then the reader's exception is rethrown. An exception of `process`
// stops the reading; the batches before the failed one are still processed and consumed, with
// any number of threads, then the exception is rethrown. An exception of `consume` stops
// everything and is rethrown once every thread has ended.
// Makes the result each slot keeps (on the calling thread, before anything is read).
using TNewBatchResult = std::function<std::unique_ptr<TBatchResult>()>;

void RunPipeline(TCaptureReader& reader, const TPipelineSettings& settings,
                 const TProcessBatch& process, const TConsumeBatch& consume,
                 const TNewBatchResult& newResult = nullptr);

// RunPipeline with `sink` processing the batches into results it made; `consume` hands the
// results to the sink in input order.
void RunSinkPipeline(TCaptureReader& reader, const TPipelineSettings& settings, TOutputSink& sink,
                     const TConsumeBatch& consume);
