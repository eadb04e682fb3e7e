// The binary reader: a fixed number of raw bytes per frame, written as uppercase hexadecimal.
#include "readers.h"

#include <array>

namespace {

constexpr std::array<std::array<char, 2>, 256> MakeHexPairs() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> pairs{};
    for (std::size_t b = 0; b < 256; ++b) {
        pairs[b] = {digits[b >> 4], digits[b & 15]};
    }
    return pairs;
}
constexpr std::array<std::array<char, 2>, 256> HexPairs = MakeHexPairs();

class TBinaryReader final : public TCaptureReader {
public:
    TBinaryReader(std::unique_ptr<TByteSource> source, std::uint32_t frameBytes)
        : FSource(std::move(source)), FFrameBytes(frameBytes),
          FBuffer(new char[BlockBytes]) {}

    std::string_view Format() const override { return "binary"; }

    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override {
        const std::size_t before = batch.Frames.size();
        const std::size_t limit = before + std::min(maxFrames, SIZE_MAX - before);
        const std::size_t textLimit = batch.Text.size() + MaxBatchTextBytes;
        // A frame once begun is finished in this call: the caller may clear the batch after.
        while (FTaken > 0 || (batch.Frames.size() < limit && batch.Text.size() < textLimit)) {
            if (FBegin == FEnd) {
                if (FEof) {
                    break;
                }
                Fill();
                continue;
            }
            if (FTaken == 0) {
                FFrameStart = static_cast<std::uint32_t>(batch.Text.size());
            }
            // Append as much of the current frame as the buffer holds.
            const std::size_t take = std::min<std::size_t>(FFrameBytes - FTaken, FEnd - FBegin);
            const std::size_t at = batch.Text.size();
            batch.Text.resize(at + 2 * take);
            char* out = batch.Text.data() + at;
            for (std::size_t i = 0; i < take; ++i) {
                const auto& pair = HexPairs[static_cast<unsigned char>(FBuffer[FBegin + i])];
                out[2 * i] = pair[0];
                out[2 * i + 1] = pair[1];
            }
            FBegin += take;
            FTaken += take;
            FConsumed += take;
            if (FTaken == FFrameBytes) {
                PushFrame(batch, TCaptureKind::ckHex);
            }
        }
        if (FEof && FBegin == FEnd && FTaken > 0) {
            // A trailing partial frame: its bytes as an invalid frame, never dropped.
            PushFrame(batch, TCaptureKind::ckInvalid);
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

    void PushFrame(TCaptureBatch& batch, TCaptureKind kind) {
        TCaptureFrame& frame = batch.Frames.emplace_back();
        frame.Line = ++FFrameNumber;
        frame.Kind = kind;
        frame.InputOffset = FFrameStart;
        frame.InputSize = static_cast<std::uint32_t>(batch.Text.size() - FFrameStart);
        FTaken = 0;
    }

    std::unique_ptr<TByteSource> FSource;
    std::uint32_t FFrameBytes;
    std::unique_ptr<char[]> FBuffer;
    std::size_t FBegin = 0;
    std::size_t FEnd = 0;
    bool FEof = false;
    std::size_t FTaken = 0;          // bytes of the current frame appended so far
    std::uint32_t FFrameStart = 0;   // where the current frame's text starts in the batch
    std::uint64_t FFrameNumber = 0;
    std::uint64_t FConsumed = 0;
};

} // namespace

std::unique_ptr<TCaptureReader> MakeBinaryReader(std::unique_ptr<TByteSource> source,
                                                 const TReaderOptions& options) {
    if (options.FrameBytes == 0) {
        throw TInputError(0, "binary input needs the number of bytes per frame: give --frame-bytes N");
    }
    return std::make_unique<TBinaryReader>(std::move(source), options.FrameBytes);
}
