// What corvane-decode does with each batch of frames (decode, count, format: on any thread)
// and how the results of the batches add up (in input order, on one thread).
#pragma once

#include "options.h"
#include "pipeline.h"
#include "records.h"
#include "scan.h"
#include "summary.h"

#include <optional>

class TBatchWork {
public:
    // `layout` and `formatter` for records and summary runs, `scanner` for --scan; all must
    // outlive the work and are only read, from every worker at once.
    TBatchWork(TRunMode mode, const TFrameLayout* layout, const TRecordFormatter* formatter,
               const TScanner* scanner);

    // Decodes the batch's frames: for --summary into its summary; for records into its
    // output text, counting only the frames and those with a good CRC (all the exit status
    // needs); for --scan counts them under every candidate layout.
    void Process(TBatchSlot& slot) const;

private:
    TRunMode FMode;
    const TFrameLayout* FLayout;
    const TRecordFormatter* FFormatter;
    const TScanner* FScanner;
};

// The results of the batches of every input, merged in input order.
struct TRunTotals {
    TSummary Summary;
    std::vector<std::uint64_t> ScanCounters;

    // Adds a batch's results. `newInput`: the batch is the first of an input other than the
    // first one (the largest jump does not span two captures).
    void Add(const TBatchSlot& slot, bool newInput);
};
