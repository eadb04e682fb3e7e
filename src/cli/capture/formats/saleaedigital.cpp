// saleae-digital: a logic analyzer's digital CSV export ("Time [s],<channel>,..." and a row at
// every change), read as signals: the frames of the clock and data channels (see
// signal/saleaedigital.h for the format, signal/burstdecoder.h for the frames).
// Recognised by its header and rows of 0, 1 and X values.
#include "capture/inputformat.h"
#include "capture/signal/saleaedigital.h"
#include "capture/signal/signalreader.h"

namespace {

bool Recognise(const TDetectSample& sample, const TReaderOptions&) {
    return !sample.Binary && LooksLikeSaleaeDigital(sample.Bytes);
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions& options, bool) {
    std::unique_ptr<TLogicSource> logic = OpenSaleaeDigitalSource(*source);
    return std::make_unique<TSignalCaptureReader>("saleae-digital", std::move(source), std::move(logic), options);
}

} // namespace

extern const TInputFormatModule SaleaeDigitalFormat{
    .Info = {"saleae-digital", "Logic 2 digital CSV export of clock and data signals"},
    .Recognise = Recognise,
    .Open = Open,
    .ReadsChannels = true};
