#include "view/envelope.h"

#include <algorithm>
#include <cmath>

namespace {

void Widen(TEnvelopeSpan& span, double min, double max) {
    if (std::isnan(min)) {
        return;
    }
    if (std::isnan(span.Min) || min < span.Min) {
        span.Min = min;
    }
    if (std::isnan(span.Max) || max > span.Max) {
        span.Max = max;
    }
}

} // namespace

void TEnvelope::Clear() {
    FStore = nullptr;
    FLevels.clear();
}

void TEnvelope::AddFrame(TEnvelopeSpan& span, std::size_t i) const {
    const double v = FStore->Value(i);
    Widen(span, v, v);
    span.Marks |= FStore->Marks(i);
    if (i > 0) {
        const double step = std::fabs(v - FStore->Value(i - 1));
        if (step > span.MaxStep) { // false for NaN
            span.MaxStep = step;
        }
    }
}

void TEnvelope::AddSpan(TEnvelopeSpan& span, const TLevel& level, std::size_t block) {
    Widen(span, level.Min[block], level.Max[block]);
    span.Marks |= level.Marks[block];
    span.MaxStep = std::max(span.MaxStep, level.MaxStep[block]);
}

void TEnvelope::Build(const TCaptureStore& store) {
    FStore = &store;
    FLevels.clear();
    const std::size_t n = store.Size();
    std::size_t blockFrames = Fanout;
    std::size_t below = n; // entries of the level below (frames for the first level)
    while (below > 1) {
        TLevel level;
        level.BlockFrames = blockFrames;
        const std::size_t blocks = (below + Fanout - 1) / Fanout;
        level.Min.resize(blocks);
        level.Max.resize(blocks);
        level.MaxStep.resize(blocks);
        level.Marks.resize(blocks);
        for (std::size_t b = 0; b < blocks; ++b) {
            TEnvelopeSpan span;
            const std::size_t first = b * Fanout;
            const std::size_t last = std::min(first + Fanout, below);
            for (std::size_t j = first; j < last; ++j) {
                if (FLevels.empty()) {
                    AddFrame(span, j);
                } else {
                    AddSpan(span, FLevels.back(), j);
                }
            }
            level.Min[b] = span.Min;
            level.Max[b] = span.Max;
            level.MaxStep[b] = span.MaxStep;
            level.Marks[b] = span.Marks;
        }
        FLevels.push_back(std::move(level));
        below = blocks;
        blockFrames *= Fanout;
    }
}

TEnvelopeSpan TEnvelope::Span(std::size_t first, std::size_t last) const {
    TEnvelopeSpan span;
    if (FStore == nullptr) {
        return span;
    }
    last = std::min(last, FStore->Size());
    std::size_t i = first;
    while (i < last) {
        // The largest block that starts at i and ends within the range.
        std::size_t level = 0;
        std::size_t size = 1;
        while (level < FLevels.size() && i % FLevels[level].BlockFrames == 0 &&
               last - i >= FLevels[level].BlockFrames) {
            size = FLevels[level].BlockFrames;
            ++level;
        }
        if (level == 0) {
            AddFrame(span, i);
        } else {
            AddSpan(span, FLevels[level - 1], i / size);
        }
        i += size;
    }
    return span;
}

std::size_t TEnvelope::MemoryBytes() const {
    std::size_t bytes = 0;
    for (const TLevel& level : FLevels) {
        bytes += level.Min.size() * (3 * sizeof(double) + 1);
    }
    return bytes;
}

std::uint8_t SpanMarks(const TEnvelopeSpan& span, double jumpThreshold) {
    std::uint8_t marks = span.Marks;
    if (jumpThreshold > 0 && span.MaxStep > jumpThreshold) {
        marks |= fmJump;
    }
    return marks;
}
