// Signal captures as capture readers: the frames that the burst decoder recovers from the
// chosen clock (MA) and data (SLO) channels of a logic analyzer's capture.
#pragma once

#include "capture/capture.h"
#include "capture/signal/burstdecoder.h"
#include "capture/signal/logicsource.h"

#include <cstddef>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Chooses the channels of `logic` by the options (--clock, --data; by the usual names
// otherwise) and selects them; throws TInputError with the channels found when that fails.
void SelectSignalChannels(TLogicSource& logic, const TReaderOptions& options);

// The frames of a signal capture, each numbered by its burst (the record's source is
// "name#burst"): a complete burst is a ckBits frame (its N bits as hexadecimal text, bit 0 the
// top bit of the first digit, zeros after the last bit), a cut one ckCut, one too long to
// decode ckInvalid; every frame has its TFrameTiming in the batch. A fault of the input
// (TInputError) comes from the call after the one that handed on the frames before it.
class TSignalCaptureReader final : public TCaptureReader {
public:
    // `bytes` is the input the logic source reads from, kept alive with it (may be nullptr
    // for sources that open their files themselves).
    TSignalCaptureReader(std::string_view format, std::unique_ptr<TByteSource> bytes,
                         std::unique_ptr<TLogicSource> logic, const TReaderOptions& options);

    std::string_view Format() const override { return FFormat; }
    char SourceSeparator() const override { return '#'; }
    const TSignalStats* SignalStats() const override { return &FStats; }
    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override;

private:
    void Append(TCaptureBatch& batch, const TSignalFrame& frame);

    std::string_view FFormat;
    std::unique_ptr<TByteSource> FBytes;
    std::unique_ptr<TLogicSource> FLogic;
    std::unique_ptr<TSignalFrameReader> FFrames;
    std::vector<TSignalFrame> FPending;
    std::size_t FNext = 0;
    bool FEnded = false;
    std::exception_ptr FError; // a fault held back while the frames before it are handed on
    TSignalStats FStats;
    std::string FText;
};
