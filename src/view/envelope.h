// The min/max envelope of a capture's values: a pyramid of blocks of 16, 256, 4096 ... frames
// holding the least and greatest value, the OR of the marks and the greatest step between
// consecutive frames of each block, so that any range of frames is summed up from at most a
// few dozen entries. A plot column then costs the same for ten frames or ten million.
#pragma once

#include "view/capturemodel.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// What a range of frames holds: the least and greatest value of its decoded frames (NaN
// when none decoded), the OR of their marks and the greatest step |v(j) - v(j-1)| between
// two decoded neighbours j-1, j with j in the range (0 when none).
struct TEnvelopeSpan {
    double Min = std::numeric_limits<double>::quiet_NaN();
    double Max = std::numeric_limits<double>::quiet_NaN();
    std::uint8_t Marks = 0;
    double MaxStep = 0.0;

    bool HasValue() const { return Min == Min; } // not NaN
};

class TEnvelope {
public:
    static constexpr std::size_t Fanout = 16;

    // Builds the pyramid over `store`, which must outlive the envelope and not change.
    void Build(const TCaptureStore& store);
    void Clear();
    std::size_t Size() const { return FStore != nullptr ? FStore->Size() : 0; }

    // The span of frames [first, last), clamped to the capture.
    TEnvelopeSpan Span(std::size_t first, std::size_t last) const;
    std::size_t MemoryBytes() const;

private:
    struct TLevel {
        std::size_t BlockFrames = 0;
        std::vector<double> Min;
        std::vector<double> Max;
        std::vector<double> MaxStep;
        std::vector<std::uint8_t> Marks;
    };
    void AddFrame(TEnvelopeSpan& span, std::size_t i) const;
    static void AddSpan(TEnvelopeSpan& span, const TLevel& level, std::size_t block);

    const TCaptureStore* FStore = nullptr;
    std::vector<TLevel> FLevels; // FLevels[0] has blocks of Fanout frames
};

// The marks of a span with fmJump added when its greatest step exceeds `jumpThreshold`
// (in count units; a threshold of 0 or less marks no jumps).
std::uint8_t SpanMarks(const TEnvelopeSpan& span, double jumpThreshold);
