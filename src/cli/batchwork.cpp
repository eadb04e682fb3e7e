#include "batchwork.h"

TBatchWork::TBatchWork(TRunMode mode, const TFrameLayout* layout,
                       const TRecordFormatter* formatter, const TScanner* scanner)
    : FMode(mode), FLayout(layout), FFormatter(formatter), FScanner(scanner) {}

void TBatchWork::Process(TBatchSlot& slot) const {
    slot.Output.Clear();
    slot.Summary = TSummary{};
    const TCaptureBatch& batch = slot.Batch;
    if (FMode == TRunMode::rmScan) {
        slot.ScanCounters.assign(FScanner->CounterCount(), 0);
        for (const TCaptureFrame& frame : batch.Frames) {
            FScanner->CountFrame(frame, FrameInput(batch, frame), slot.ScanCounters);
        }
        slot.Summary.Frames = batch.Frames.size();
        return;
    }
    if (FMode == TRunMode::rmSummary) {
        const bool isSigned = FLayout->Params().Signed;
        for (const TCaptureFrame& frame : batch.Frames) {
            slot.Summary.Add(DecodeCaptureFrame(*FLayout, frame, FrameInput(batch, frame)), isSigned);
        }
        return;
    }
    // Records: the exit status needs only the frames and those with a good CRC.
    TLineText lines;
    std::uint64_t good = 0;
    for (const TCaptureFrame& frame : batch.Frames) {
        const std::string_view input = FrameInput(batch, frame);
        const TDecodedRecord record = DecodeCaptureFrame(*FLayout, frame, input);
        good += record.Fields.Outcome == TDecodeOutcome::doDecoded && record.Fields.CrcOk ? 1 : 0;
        FFormatter->AppendRecord(slot.Output, frame, input, record, &lines);
    }
    slot.Summary.Frames = batch.Frames.size();
    slot.Summary.CrcOk = good;
}

void TRunTotals::Add(const TBatchSlot& slot, bool newInput) {
    Summary.Merge(slot.Summary, !newInput);
    if (!slot.ScanCounters.empty()) {
        ScanCounters.resize(slot.ScanCounters.size());
        for (std::size_t i = 0; i < ScanCounters.size(); ++i) {
            ScanCounters[i] += slot.ScanCounters[i];
        }
    }
}
