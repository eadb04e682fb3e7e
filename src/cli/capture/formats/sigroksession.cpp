// sigrok-session: a session file of the sigrok tools (.sr, a zip archive of samples), read as
// signals: the frames of the clock and data probes (see signal/sigroksession.h for the format,
// signal/burstdecoder.h for the frames). Recognised by a zip archive holding the session's
// members; read from its file, as a zip archive is read out of order.
#include "capture/inputformat.h"
#include "capture/signal/signalreader.h"
#include "capture/signal/sigroksession.h"
#include "capture/textutil.h"

namespace {

bool Recognise(const TDetectSample& sample, const TReaderOptions&) { return LooksLikeSigrokSession(sample.Bytes); }

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource>, const TReaderOptions& options, bool) {
    if (options.Path.empty() || options.Path == "-") {
        throw TInputError(0, "a sigrok session is a zip archive, read from its file: give the file's name "
                             "instead of standard input");
    }
    std::unique_ptr<TLogicSource> logic = OpenSigrokSession(PathFromUtf8(options.Path));
    return std::make_unique<TSignalCaptureReader>("sigrok-session", nullptr, std::move(logic), options);
}

} // namespace

extern const TInputFormatModule SigrokSessionFormat{
    .Info = {"sigrok-session", "a sigrok or PulseView session (.sr) of clock and data signals"},
    .Recognise = Recognise,
    .Open = Open,
    .ReadsChannels = true};
