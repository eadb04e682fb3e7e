#include "capture/control/controlframes.h"

bool SignalFrameBits(const TCaptureBatch& batch, const TCaptureFrame& frame, TFrameBits& bits) noexcept {
    if (frame.Kind != TCaptureKind::ckBits) {
        return false;
    }
    const std::size_t size = batch.Text.size();
    if (frame.InputOffset > size || frame.InputSize > size - frame.InputOffset) {
        return false;
    }
    const std::string_view text(batch.Text.data() + frame.InputOffset, frame.InputSize);
    // The digits as written, left-aligned: bit 0 is the top bit of the first digit. (The
    // window's reading of hexadecimal text, ParseFrameHex, right-aligns short frames in a
    // 64-bit word, which is not this text's meaning.)
    const std::int32_t count = frame.BitCount;
    return text.size() == static_cast<std::size_t>((count + 3) / 4) && ParseFrameBitsHex(text, count, bits);
}

bool AppendControlBits(const TCaptureBatch& batch, const TFrameLayout& layout, std::uint32_t source,
                       std::vector<TControlBits>& out) {
    if (batch.Timing.size() != batch.Frames.size() || batch.Frames.empty()) {
        return false;
    }
    out.reserve(out.size() + batch.Frames.size());
    TFrameBits bits;
    for (std::size_t i = 0; i < batch.Frames.size(); ++i) {
        const TCaptureFrame& frame = batch.Frames[i];
        if (SignalFrameBits(batch, frame, bits)) {
            const TFrameFields fields = DecodeFrameBits(layout, bits);
            out.push_back(ControlBitsOf(frame, batch.Timing[i], &bits, &fields, source));
        } else {
            out.push_back(ControlBitsOf(frame, batch.Timing[i], nullptr, nullptr, source));
        }
    }
    return true;
}
