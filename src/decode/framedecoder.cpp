#include "decode/framedecoder.h"

#include "decode/displaytext.h"
#include "decode/frametext.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

constexpr std::int32_t MaxWindowLength = 64;

// The window's layout for every position length 1 to 64, sharing one CRC. Built once, on
// first use; read-only afterwards, so concurrent calls are safe.
const TFrameLayout& WindowLayout(std::int32_t positionLength) {
    static const std::array<std::unique_ptr<const TFrameLayout>, MaxWindowLength> layouts = [] {
        std::array<std::unique_ptr<const TFrameLayout>, MaxWindowLength> all;
        const auto crc = std::make_shared<const TBissCrc>(0x43);
        for (std::int32_t n = 1; n <= MaxWindowLength; ++n) {
            TFrameLayoutParams params;
            params.PositionBits = n;
            all[static_cast<std::size_t>(n - 1)] = std::make_unique<const TFrameLayout>(params, crc);
        }
        return all;
    }();
    const std::int32_t n = std::clamp(positionLength, std::int32_t{1}, MaxWindowLength);
    return *layouts[static_cast<std::size_t>(n - 1)];
}

} // namespace

TDecodedFrame DecodeFrame(std::u16string_view text, std::int32_t positionLength,
                          std::int32_t numerator, std::int32_t denominator,
                          std::u16string_view unit, TRegionalSeparators separators) {
    TDecodedFrame frame;

    // Text to frame bits. The window takes a 64-bit word: at most 16 significant digits.
    frame.CleanText.resize(text.size());
    frame.CleanText.resize(CleanFrameTextInto(text, frame.CleanText.data()));
    TFrameBits bits;
    if (!ParseFrameHex(frame.CleanText, bits) || bits.Length != 64) {
        frame.Outcome = TDecodeOutcome::doInvalidInput;
        return frame;
    }
    frame.Word = bits.Words[0];
    FormatBitsText(frame.Word, frame.BitsText);

    // Frame bits to fields.
    const TFrameFields fields = DecodeFrameBits(WindowLayout(positionLength), bits);
    frame.Outcome = fields.Outcome;
    if (fields.Outcome != TDecodeOutcome::doDecoded) {
        return frame;
    }
    frame.AckLength = fields.AckLength;
    frame.PositionRaw = fields.Position;
    frame.StatusBits = fields.StatusBits;
    frame.CrcReceived = static_cast<std::uint8_t>(fields.CrcReceived);
    frame.CrcNonInverted = static_cast<std::uint8_t>(fields.CrcNonInverted);
    frame.CrcCalculated = static_cast<std::uint8_t>(fields.CrcCalculated);
    frame.Truncated = fields.Truncated;
    frame.CrcOk = fields.CrcOk;

    const double factor = static_cast<double>(numerator) / static_cast<double>(denominator);
    frame.ScaledPosition = static_cast<double>(frame.PositionRaw) * factor;
    if (!std::isfinite(frame.ScaledPosition)) {
        throw std::domain_error("Cannot scale the position: " + std::to_string(numerator) +
                                " divided by a denominator of " + std::to_string(denominator) +
                                " is not a finite number");
    }

    // Fields to display texts.
    FormatAckText(frame.AckLength, frame.AckText);
    FormatCrcText(frame.CrcReceived, frame.CrcReceivedText);
    FormatCrcText(frame.CrcNonInverted, frame.CrcNonInvertedText);
    FormatCrcText(frame.CrcCalculated, frame.CrcCalculatedText);
    FormatStatusText(frame.StatusBits, frame.StatusText);
    FormatPositionText(frame.PositionRaw, frame.PositionText);
    FormatScaledText(frame.ScaledPosition, unit, separators, frame.ScaledText);
    return frame;
}
