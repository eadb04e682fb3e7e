#include "capturemodel.h"

void TCaptureStore::Clear() {
    FValues.Clear();
    FRunFirst.Clear();
    FRunLine.Clear();
    FLastLine = 0;
    FFlags.Clear();
    FText.Clear();
    FTextEnds.Clear();
    FFields.Clear();
    FTimes.Clear();
    FHasTime = false;
    FTotals = TCaptureTotals{};
}

void TCaptureStore::Append(const TStoredFrame& frame, std::string_view input) {
    const std::size_t index = FValues.Size();
    const bool decoded = frame.Outcome == TFrameOutcome::foDecoded;
    const double value = decoded ? frame.Value : std::numeric_limits<double>::quiet_NaN();
    std::uint8_t flags = static_cast<std::uint8_t>(frame.Outcome) |
                         static_cast<std::uint8_t>(static_cast<unsigned>(frame.Source) << 2);
    if (decoded) {
        flags |= (frame.CrcOk ? FlagCrcOk : 0) | (frame.Error ? FlagError : 0) |
                 (frame.Warning ? FlagWarning : 0) | (frame.Truncated ? FlagTruncated : 0);
    }
    FValues.PushBack(value);
    if (index == 0 || frame.Line != FLastLine + 1) {
        FRunFirst.PushBack(index);
        FRunLine.PushBack(frame.Line);
    }
    FLastLine = frame.Line;
    FFlags.PushBack(flags);
    FText.Append(input.data(), input.size());
    FTextEnds.PushBack(FText.Size());

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
    const std::uint8_t flags = FFlags[i];
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
    const std::uint64_t begin = i == 0 ? 0 : FTextEnds[i - 1];
    const std::uint64_t end = FTextEnds[i];
    std::string text(static_cast<std::size_t>(end - begin), '\0');
    FText.Read(static_cast<std::size_t>(begin), text.size(), text.data());
    return text;
}

TFrameData TCaptureStore::Fields(std::size_t i) const {
    return i < FFields.Size() ? FFields[i] : TFrameData{};
}

std::size_t TCaptureStore::MemoryBytes() const {
    return FValues.MemoryBytes() + FRunFirst.MemoryBytes() + FRunLine.MemoryBytes() + FFlags.MemoryBytes() + FText.MemoryBytes() +
           FTextEnds.MemoryBytes() + FFields.MemoryBytes() + FTimes.MemoryBytes();
}
