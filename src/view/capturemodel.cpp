#include "view/capturemodel.h"

#include "decode/digits.h"

#include <new>

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Whether `input` is the text of `bits` received bits as the signal readers write it: one
// upper-case digit per 4 bits. Only such texts are packed, so that unpacking gives them back.
bool PackableBits(std::string_view input, std::uint16_t bits) {
    if (bits == 0 || input.size() != (bits + 3U) / 4U) {
        return false;
    }
    return std::all_of(input.begin(), input.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    });
}

} // namespace

void TCaptureStore::Clear() {
    FValues.Clear();
    FRunFirst.Clear();
    FRunLine.Clear();
    FLastLine = 0;
    FFlags.Clear();
    FText.Clear();
    FTextEnds.Clear();
    FTextBases.clear();
    FClocks.Clear();
    FDelays.Clear();
    FBitCounts.Clear();
    FFields.Clear();
    FTimes.Clear();
    FHasTime = false;
    FTotals = TCaptureTotals{};
}

void TCaptureStore::Append(const TStoredFrame& frame, std::string_view input) {
    const std::size_t index = FValues.Size();
    const bool decoded = frame.Outcome == TFrameOutcome::foDecoded;
    const double value = decoded ? frame.Value : std::numeric_limits<double>::quiet_NaN();
    const TFrameSource source = frame.Source;
    // Received bits are packed when their text is what the signal readers write; any other
    // text is kept as it came.
    const bool packed = source == TFrameSource::fsBits && PackableBits(input, frame.BitCount);
    auto flags = static_cast<std::uint16_t>(static_cast<unsigned>(frame.Outcome) |
                                            (static_cast<unsigned>(source) << 2));
    if (decoded) {
        flags |= (frame.CrcOk ? FlagCrcOk : 0) | (frame.Error ? FlagError : 0) |
                 (frame.Warning ? FlagWarning : 0) | (frame.Truncated ? FlagTruncated : 0);
    }
    flags |= (frame.Cdm != 0 ? FlagCdm : 0) | (packed ? FlagPacked : 0);
    FValues.PushBack(value);
    if (index == 0 || frame.Line != FLastLine + 1) {
        FRunFirst.PushBack(index);
        FRunLine.PushBack(frame.Line);
    }
    FLastLine = frame.Line;
    FFlags.PushBack(flags);
    if ((index & ((std::size_t{1} << TextChunkBits) - 1)) == 0) {
        FTextBases.push_back(FText.Size());
    }
    if (packed) {
        // Two digits a byte, the first in the high half.
        for (std::size_t k = 0; k < input.size(); k += 2) {
            const int high = DigitValue(input[k]);
            const int low = k + 1 < input.size() ? DigitValue(input[k + 1]) : 0;
            const char byte = static_cast<char>((high << 4) | low);
            FText.Append(&byte, 1);
        }
    } else {
        FText.Append(input.data(), input.size());
    }
    const std::uint64_t relative = FText.Size() - FTextBases.back();
    if (relative > UINT32_MAX) {
        // The inputs of 65536 frames beyond 4 GiB: more than the view can hold anyway.
        throw std::bad_alloc();
    }
    FTextEnds.PushBack(static_cast<std::uint32_t>(relative));

    if (frame.Source == TFrameSource::fsFields && FFields.Size() < index) {
        while (FFields.Size() < index) {
            FFields.PushBack(TFrameData{});
        }
    }
    if (!FFields.Empty() || frame.Source == TFrameSource::fsFields) {
        FFields.PushBack(frame.Source == TFrameSource::fsFields ? frame.Fields : TFrameData{});
    }
    // Times come with every frame of a signal capture or with none.
    if (index == 0) {
        FHasTime = !std::isnan(frame.Time);
    }
    if (FHasTime) {
        const double time = std::isnan(frame.Time) ? (index > 0 ? FTimes[index - 1] : 0.0) : frame.Time;
        FTimes.PushBack(index > 0 ? std::max(time, FTimes[index - 1]) : time);
        FClocks.PushBack(frame.ClockHz);
        FDelays.PushBack(frame.LineDelay);
        FBitCounts.PushBack(source == TFrameSource::fsBits ? frame.BitCount : std::uint16_t{0});
    }

    TCaptureTotals& t = FTotals;
    ++t.Frames;
    switch (frame.Outcome) {
    case TFrameOutcome::foInvalidInput: ++t.InvalidInput; break;
    case TFrameOutcome::foNoStartBit: ++t.NoStartBit; break;
    case TFrameOutcome::foCut: ++t.Cut; break;
    case TFrameOutcome::foDecoded:
        ++t.Decoded;
        t.CrcOk += frame.CrcOk ? 1 : 0;
        t.CrcErrors += frame.CrcOk ? 0 : 1;
        t.Errors += frame.Error ? 1 : 0;
        t.Warnings += frame.Warning ? 1 : 0;
        if (std::isnan(t.Minimum) || value < t.Minimum) {
            t.Minimum = value;
        }
        if (std::isnan(t.Maximum) || value > t.Maximum) {
            t.Maximum = value;
        }
        break;
    }
}

std::uint8_t TCaptureStore::Marks(std::size_t i) const {
    const std::uint16_t flags = FFlags[i];
    if (static_cast<TFrameOutcome>(flags & 3U) != TFrameOutcome::foDecoded) {
        return fmInvalid;
    }
    std::uint8_t marks = 0;
    if ((flags & FlagCrcOk) == 0) {
        marks |= fmCrcError;
    }
    if ((flags & FlagError) != 0) {
        marks |= fmError;
    }
    if ((flags & FlagWarning) != 0) {
        marks |= fmWarning;
    }
    return marks;
}

std::uint64_t TCaptureStore::Line(std::size_t i) const {
    // The last run that starts at or before frame i.
    std::size_t lo = 0;
    std::size_t hi = FRunFirst.Size();
    while (hi - lo > 1) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (FRunFirst[mid] <= i) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return FRunLine[lo] + (i - FRunFirst[lo]);
}

std::string TCaptureStore::Input(std::size_t i) const {
    const std::uint64_t begin = i == 0 ? 0 : TextEnd(i - 1);
    const std::uint64_t end = TextEnd(i);
    std::string text(static_cast<std::size_t>(end - begin), '\0');
    FText.Read(static_cast<std::size_t>(begin), text.size(), text.data());
    if ((FFlags[i] & FlagPacked) == 0) {
        return text;
    }
    const std::size_t digits = (FBitCounts[i] + 3U) / 4U;
    std::string hex(digits, '0');
    for (std::size_t k = 0; k < digits; ++k) {
        const auto byte = static_cast<unsigned char>(text[k / 2]);
        hex[k] = UpperHexDigits[k % 2 == 0 ? byte >> 4 : byte & 0xFU];
    }
    return hex;
}

TFrameData TCaptureStore::Fields(std::size_t i) const {
    return i < FFields.Size() ? FFields[i] : TFrameData{};
}

std::size_t TCaptureStore::MemoryBytes() const {
    return FValues.MemoryBytes() + FRunFirst.MemoryBytes() + FRunLine.MemoryBytes() + FFlags.MemoryBytes() + FText.MemoryBytes() +
           FTextEnds.MemoryBytes() + FTextBases.capacity() * sizeof(std::uint64_t) + FFields.MemoryBytes() +
           FTimes.MemoryBytes() + FClocks.MemoryBytes() + FDelays.MemoryBytes() + FBitCounts.MemoryBytes();
}
