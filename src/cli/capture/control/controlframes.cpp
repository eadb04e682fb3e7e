#include "control/controlframes.h"

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
    if (count > TFrameBits::MaxLength || text.size() != static_cast<std::size_t>((count + 3) / 4)) {
        return false;
    }
    bits = TFrameBits{};
    for (std::size_t j = 0; j < text.size(); ++j) {
        const char c = text[j];
        std::uint64_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint64_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint64_t>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint64_t>(c - 'a' + 10);
        } else {
            return false;
        }
        bits.Words[j / 16] |= digit << (60 - 4 * (j % 16));
    }
    // Bits after the last one are zero in a well-formed text; cleared whatever they hold, so
    // that TFrameBits' rule (nothing at or beyond Length) holds.
    const std::int32_t spare = static_cast<std::int32_t>(4 * text.size()) - count;
    if (spare > 0) {
        const auto last = (static_cast<std::size_t>(count) - 1) / 64;
        const auto keep = static_cast<unsigned>(count % 64);
        if (keep != 0) {
            bits.Words[last] &= ~std::uint64_t{0} << (64 - keep);
        }
    }
    bits.Length = count;
    return true;
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
