#include "capture/signal/signalreader.h"

#include "capture/batchappend.h"
#include "capture/textutil.h"

void SelectSignalChannels(TLogicSource& logic, const TReaderOptions& options) {
    try {
        const TChannelChoice choice = ChooseChannels(logic.ChannelNames(), options.ClockChannel, options.DataChannel);
        logic.SelectChannels(choice.Clock, choice.Data);
    } catch (const TChannelError& error) {
        throw TInputError(0, error.what());
    }
}

TSignalCaptureReader::TSignalCaptureReader(std::string_view format, std::unique_ptr<TByteSource> bytes,
                                           std::unique_ptr<TLogicSource> logic, const TReaderOptions& options)
    : FFormat(format), FBytes(std::move(bytes)), FLogic(std::move(logic)) {
    SelectSignalChannels(*FLogic, options);
    FFrames = std::make_unique<TSignalFrameReader>(*FLogic);
}

void TSignalCaptureReader::Append(TCaptureBatch& batch, const TSignalFrame& frame) {
    TFrameTiming timing;
    timing.Time = frame.Time;
    switch (frame.Outcome) {
    case TSignalOutcome::soComplete: {
        const std::int32_t bits = frame.Bits.Length;
        FText.clear();
        for (std::int32_t k = 0; 4 * k < bits; ++k) {
            const std::uint64_t word = frame.Bits.Words[static_cast<std::size_t>(k) / 16];
            FText.push_back(UpperHexDigits[(word >> (60 - 4 * (k % 16))) & 0xF]);
        }
        TCaptureFrame& added = AppendFrame(batch, frame.Burst, TCaptureKind::ckBits, FText);
        added.BitCount = static_cast<std::uint16_t>(bits);
        timing.ClockHz = frame.ClockHz;
        timing.LineDelay = frame.LineDelay;
        timing.Cdm = frame.Cdm;
        break;
    }
    case TSignalOutcome::soCut:
        AppendFrame(batch, frame.Burst, TCaptureKind::ckCut, {});
        break;
    case TSignalOutcome::soInvalid:
        AppendFrame(batch, frame.Burst, TCaptureKind::ckInvalid,
                    std::to_string(frame.Clocks) + " clocks: more than a frame can hold");
        break;
    }
    batch.Timing.push_back(timing);
}

bool TSignalCaptureReader::ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) {
    const std::size_t before = batch.Frames.size();
    const std::size_t limit = before + std::min(maxFrames, SIZE_MAX - before);
    const std::size_t textLimit = batch.Text.size() + MaxBatchTextBytes;
    // A batch of other frames gains timing for each from here on.
    batch.Timing.resize(batch.Frames.size());
    if (FError) {
        const std::exception_ptr error = FError;
        FError = nullptr;
        std::rethrow_exception(error);
    }
    while (BatchHasRoom(batch, limit, textLimit)) {
        if (FNext == FPending.size()) {
            bool more = false;
            try {
                more = !FEnded && FFrames->Read(FPending);
            } catch (const TInputError&) {
                // The frames of this batch come back first, the fault on the next call.
                FEnded = true;
                FPending.clear();
                FNext = 0;
                if (batch.Frames.size() == before) {
                    throw;
                }
                FError = std::current_exception();
                break;
            }
            if (!more) {
                FEnded = true;
                FPending.clear();
                FNext = 0;
                break;
            }
            FNext = 0;
        }
        Append(batch, FPending[FNext++]);
    }
    const TBurstCounters& counters = FFrames->Counters();
    FStats.Glitches = counters.Glitches;
    FStats.Cut = counters.Cut;
    if (FEnded) {
        FStats.Duration = FLogic->EndTime();
    }
    batch.BytesConsumed = FLogic->BytesConsumed();
    return batch.Frames.size() > before;
}
