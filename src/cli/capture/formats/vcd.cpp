// vcd: a Value Change Dump (IEEE 1364) as logic analyzer software writes it, read as signals:
// the frames of the clock and data wires (see signal/vcd.h for the format, signal/burstdecoder.h
// for the frames). Recognised by its $-keywords.
#include "capture/inputformat.h"
#include "capture/signal/signalreader.h"
#include "capture/signal/vcd.h"

namespace {

bool Recognise(const TDetectSample& sample, const TReaderOptions&) {
    return !sample.Binary && LooksLikeVcd(sample.Bytes);
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions& options, bool) {
    std::unique_ptr<TLogicSource> logic = OpenVcdSource(*source);
    return std::make_unique<TSignalCaptureReader>("vcd", std::move(source), std::move(logic), options);
}

} // namespace

extern const TInputFormatModule VcdFormat{
    .Info = {"vcd", "a Value Change Dump of clock and data signals"},
    .Recognise = Recognise,
    .Open = Open,
    .ReadsChannels = true};
