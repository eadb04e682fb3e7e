// binary: raw bytes, --frame-bytes N bytes per frame (required), each frame written as
// uppercase hexadecimal text, two digits a byte; a frame's line is its number. A trailing
// partial frame is an invalid frame with its bytes as input, never dropped.
// Recognised by a byte no text export holds in the sample: NUL and the other control
// characters but TAB, LF, VT, FF and CR, DEL, or bytes that do not form UTF-8.
#include "capture/inputformat.h"
#include "capture/readerbase.h"

namespace {

class TBinaryReader final : public TCaptureReader {
public:
    TBinaryReader(std::unique_ptr<TByteSource> source, std::uint32_t frameBytes)
        : FSource(std::move(source)), FFrameBytes(frameBytes), FBuffer(new char[BlockBytes]) {
        FFrame.reserve(std::size_t{2} * frameBytes);
    }

    std::string_view Format() const override { return "binary"; }

    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override {
        const std::size_t before = batch.Frames.size();
        const std::size_t limit = before + std::min(maxFrames, SIZE_MAX - before);
        const std::size_t textLimit = batch.Text.size() + MaxBatchTextBytes;
        while (BatchHasRoom(batch, limit, textLimit)) {
            if (FBegin == FEnd) {
                if (FEof || (batch.Frames.size() > before && !FSource->DataWaiting())) {
                    break; // the end, or a live input that is quiet: hand on what was read
                }
                Fill();
                continue;
            }
            // Take as much of the current frame as the buffer holds, as hex digits.
            const std::size_t take = std::min<std::size_t>(FFrameBytes - FFrame.size() / 2, FEnd - FBegin);
            for (std::size_t i = 0; i < take; ++i) {
                const auto& pair = HexPairs[static_cast<unsigned char>(FBuffer[FBegin + i])];
                FFrame.append(pair.data(), 2);
            }
            FBegin += take;
            FConsumed += take;
            if (FFrame.size() == std::size_t{2} * FFrameBytes) {
                AppendFrame(batch, ++FFrameNumber, TCaptureKind::ckHex, FFrame);
                FFrame.clear();
            }
        }
        if (FEof && FBegin == FEnd && !FFrame.empty() && BatchHasRoom(batch, limit, textLimit)) {
            // A trailing partial frame: its bytes as an invalid frame, never dropped.
            AppendFrame(batch, ++FFrameNumber, TCaptureKind::ckInvalid, FFrame);
            FFrame.clear();
        }
        batch.BytesConsumed = FConsumed;
        return batch.Frames.size() > before;
    }

private:
    static constexpr std::size_t BlockBytes = std::size_t{1} << 20;

    void Fill() {
        FBegin = 0;
        FEnd = FSource->Read(FBuffer.get(), BlockBytes);
        FEof = FEnd == 0;
    }

    std::unique_ptr<TByteSource> FSource;
    std::uint32_t FFrameBytes;
    std::unique_ptr<char[]> FBuffer;
    std::size_t FBegin = 0;
    std::size_t FEnd = 0;
    bool FEof = false;
    std::string FFrame; // the digits of the frame being read
    std::uint64_t FFrameNumber = 0;
    std::uint64_t FConsumed = 0;
};

bool Recognise(const TDetectSample& sample, const TReaderOptions&) { return sample.Binary; }

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions& options,
                                     bool recognised) {
    if (options.FrameBytes == 0) {
        throw TInputError(0, recognised ? "the input looks like raw bytes (binary): give --frame-bytes N, the "
                                          "number of bytes per frame, or --input with the format it is in"
                                        : "binary input needs the number of bytes per frame: give --frame-bytes N");
    }
    return std::make_unique<TBinaryReader>(std::move(source), options.FrameBytes);
}

} // namespace

extern const TInputFormatModule BinaryFormat{
    .Info = {"binary", "raw bytes, cut into frames by --frame-bytes"},
    .Recognise = Recognise,
    .Open = Open,
    .CutsFrames = true};
