#include "cli/registersink.h"

#include "capture/control/controlframes.h"

#include <utility>

namespace {

// The control bits of one batch, made on a worker.
struct TControlResult final : TBatchResult {
    std::vector<TControlBits> Bits;
    void Release(std::size_t bytes) override {
        if (Bits.capacity() * sizeof(TControlBits) > bytes) {
            std::vector<TControlBits>().swap(Bits);
        }
        Bits.clear();
    }
};

} // namespace

std::string NoControlBitsMessage(std::string_view format) {
    return "--registers needs the CDM bit of every frame, which only signal captures carry "
           "(saleae-digital, saleae-binary, sigrok-session, vcd) and the CSV records "
           "corvane-decode writes for one (with the columns cdm and time); this input is " +
           std::string(format);
}

TRegisterSink::TRegisterSink(TOutputFormat format, const TFrameLayoutParams& layout, bool map,
                             const std::vector<std::string>& names)
    : FFormat(format), FLayout(layout), FWriteMap(map), FFormatter(format) {
    // Every name before the header, so that the table's source column fits them all.
    for (std::size_t i = 0; i < names.size(); ++i) {
        FFormatter.SetSourceName(static_cast<std::uint32_t>(i), names[i]);
    }
}

std::unique_ptr<TBatchResult> TRegisterSink::NewResult() const {
    return std::make_unique<TControlResult>();
}

void TRegisterSink::Process(const TCaptureBatch& batch, TBatchResult& result) const {
    auto& r = static_cast<TControlResult&>(result);
    r.Bits.clear();
    // Frames without timing carry no CDM bit; BeginInput refuses such inputs.
    if (batch.Timing.size() != batch.Frames.size()) {
        return;
    }
    r.Bits.reserve(batch.Frames.size());
    for (std::size_t i = 0; i < batch.Frames.size(); ++i) {
        const TCaptureFrame& frame = batch.Frames[i];
        const TFrameTiming& timing = batch.Timing[i];
        TControlBits bits = ControlBitsOf(frame, timing, nullptr, nullptr, 0);
        if (frame.Kind == TCaptureKind::ckBits && timing.Cds == TFrameTiming::CdsFromBits) {
            // The CDS bit is where the decode finds the start bit: the records' decode.
            bits.Cds = DecodeCaptureFrame(FLayout, frame, FrameInput(batch, frame)).Cds;
        }
        r.Bits.push_back(bits);
    }
}

void TRegisterSink::BeginInput(const TSinkInput& input, TSinkOutput& out) {
    if (!CarriesControlBits(*input.Reader)) {
        throw TInputError(0, NoControlBitsMessage(input.Reader->Format()));
    }
    // A new stream: nothing of the last input's control frames carries over.
    FDecoder.Reset();
    if (!FWriteMap && !FHeaderWritten) {
        out.Write(FFormatter.Header());
        FHeaderWritten = true;
    }
}

void TRegisterSink::Consume(const TCaptureBatch&, const TBatchResult& result, std::uint64_t,
                            const TSinkInput& input, TSinkOutput& out) {
    const auto& r = static_cast<const TControlResult&>(result);
    FDecoder.Feed(r.Bits, FAccesses);
    TakeAccesses(static_cast<std::uint32_t>(input.Index), out);
}

void TRegisterSink::EndInput(const TSinkInput& input, TSinkOutput& out) {
    FDecoder.Finish(FAccesses);
    TakeAccesses(static_cast<std::uint32_t>(input.Index), out);
}

void TRegisterSink::TakeAccesses(std::uint32_t source, TSinkOutput& out) {
    if (FAccesses.empty()) {
        return;
    }
    for (TRegisterAccess& access : FAccesses) {
        access.Source = source;
        FAllGood = FAllGood && AccessIsGood(access);
        if (FWriteMap) {
            FMap.Add(access);
        } else {
            FFormatter.AppendRecord(FText, access);
        }
    }
    FAccesses.clear();
    if (!FWriteMap) {
        out.Write(FText.View());
        FText.Clear();
    }
}

int TRegisterSink::Finish(std::uint64_t, TSinkOutput& out) {
    if (FWriteMap) {
        out.Write(FormatRegisterMap(FMap, FFormat));
    }
    return FAllGood ? 0 : 1;
}
