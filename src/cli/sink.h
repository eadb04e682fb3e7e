// What a run makes of the frames it reads: an output sink. The records, the summary and the
// layout scan are sinks; the ordered pipeline and the program know them only through this
// interface. A sink decodes each batch into a result of its own on a worker thread (any order,
// several at once), then takes the results in input order on the calling thread, where it
// writes its output and merges what it counts.
#pragma once

#include "capture/capture.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// What a sink made of one batch. The pipeline keeps one per slot and hands it back for the
// next batch, so that a sink can reuse its buffers. Results are written by different workers
// at once, record after record: each takes whole cache lines of its own, so that two workers
// never write the same line (false sharing halved the speed of two workers).
class alignas(64) TBatchResult {
public:
    virtual ~TBatchResult() = default;
    // Gives back the memory beyond `bytes` (after a batch of long lines, say), so that memory
    // does not stay at its peak in every slot.
    virtual void Release(std::size_t /*bytes*/) {}
};

// Where a sink writes: standard output, and messages for standard error (the caller puts the
// program's name before them).
class TSinkOutput {
public:
    virtual ~TSinkOutput() = default;
    virtual void Write(std::string_view text) = 0;
    virtual void Message(std::string_view text) = 0;
};

// The input being read, as a sink sees it when it starts and ends.
struct TSinkInput {
    std::string_view Name;            // as given; "-" for standard input
    const TCaptureReader* Reader = nullptr;
    std::size_t Index = 0;            // 0 for the first input of the run
};

class TOutputSink {
public:
    virtual ~TOutputSink() = default;

    // A result to process batches into; one per batch in flight.
    virtual std::unique_ptr<TBatchResult> NewResult() const = 0;
    // On a worker thread: replaces `result` with what the sink makes of `batch`. Reads only
    // what the sink's calling-thread functions left, never changes the sink.
    virtual void Process(const TCaptureBatch& batch, TBatchResult& result) const = 0;

    // On the calling thread, in input order. BeginInput comes once the input's reader is open,
    // before its first batch; it may throw TInputError when the input cannot join the run.
    virtual void BeginInput(const TSinkInput& input, TSinkOutput& out) = 0;
    // A batch's result; `sequence` is 0 for the first batch of the input.
    virtual void Consume(const TCaptureBatch& batch, const TBatchResult& result,
                         std::uint64_t sequence, const TSinkInput& input, TSinkOutput& out) = 0;
    // After the last batch of an input that was read to its end.
    virtual void EndInput(const TSinkInput& /*input*/, TSinkOutput& /*out*/) {}
    // After the last input: writes what the sink writes at the end and returns the exit
    // status: 0 when every frame decoded with a good CRC (the scan: a layout passed every
    // frame), 1 otherwise. `frames`: the frames read, cut bursts of signal captures left out.
    virtual int Finish(std::uint64_t frames, TSinkOutput& out) = 0;
};

// Output kept in strings: for tests and benchmarks.
class TStringSinkOutput final : public TSinkOutput {
public:
    void Write(std::string_view text) override { Text += text; }
    void Message(std::string_view text) override {
        Messages += text;
        Messages += '\n';
    }
    std::string Text;
    std::string Messages;
};

// Feeds `batches` of one input to `sink` on the calling thread, as the pipeline does: for
// tests and benchmarks. `index` is the input's place in the run.
template <class TBatches>
void FeedSink(TOutputSink& sink, const TBatches& batches, const TCaptureReader& reader,
              TSinkOutput& out, std::size_t index = 0, std::string_view name = "-") {
    const TSinkInput input{name, &reader, index};
    sink.BeginInput(input, out);
    const std::unique_ptr<TBatchResult> result = sink.NewResult();
    std::uint64_t sequence = 0;
    for (const TCaptureBatch& batch : batches) {
        sink.Process(batch, *result);
        sink.Consume(batch, *result, sequence++, input, out);
    }
    sink.EndInput(input, out);
}
