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
    const bool isSigned = FLayout->Params().Signed;
    const bool records = FMode == TRunMode::rmRecords;
    TLineText lines;
    for (const TCaptureFrame& frame : batch.Frames) {
        const std::string_view input = FrameInput(batch, frame);
        const TDecodedRecord record = DecodeCaptureFrame(*FLayout, frame, input);
        slot.Summary.Add(record, isSigned);
        if (records) {
            FFormatter->AppendRecord(slot.Output, frame, input, record, &lines);
        }
    }
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
