// A TLogicSource over a TWaveform held in memory, for tests of what reads logic sources: the
// chosen channels' toggles merged into changes in time order, handed out a few at a time.
// Optional gaps (start, end) stand for stretches without data, as an `X` in a Saleae CSV: one
// change with LogicGapBit at the gap's start, the levels at its end, nothing in between.
#pragma once

#include "capture/signal/logicsource.h"
#include "waveformmodel.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class TWaveformSource final : public TLogicSource {
public:
    explicit TWaveformSource(TWaveform wave, std::vector<std::pair<double, double>> gaps = {},
                             std::size_t chunkEdges = 4096)
        : FWave(std::move(wave)), FGaps(std::move(gaps)), FChunk(std::max<std::size_t>(chunkEdges, 1)) {}

    const std::vector<std::string>& ChannelNames() const override { return FWave.Names; }

    void SelectChannels(std::size_t clock, std::size_t data) override {
        FInitial = static_cast<std::uint8_t>((FWave.Initial[clock] != 0 ? LogicClockBit : 0) |
                                             (FWave.Initial[data] != 0 ? LogicDataBit : 0));
        // Merge the two channels' toggles; toggles at the same time become one change.
        const std::vector<double>& a = FWave.Toggles[clock];
        const std::vector<double>& b = FWave.Toggles[data];
        std::uint8_t levels = FInitial;
        std::size_t i = 0;
        std::size_t j = 0;
        std::vector<TLogicEdge> merged;
        while (i < a.size() || j < b.size()) {
            const double t = std::min(i < a.size() ? a[i] : b[j], j < b.size() ? b[j] : a[i]);
            if (i < a.size() && a[i] == t) {
                levels ^= LogicClockBit;
                ++i;
            }
            if (j < b.size() && b[j] == t) {
                levels ^= LogicDataBit;
                ++j;
            }
            merged.push_back({t, levels});
        }
        // Gaps: the changes inside dropped, one marked change at the start, the levels at
        // the end.
        std::uint8_t current = FInitial;
        std::size_t next = 0;
        for (const auto& [gapStart, gapEnd] : FGaps) {
            for (; next < merged.size() && merged[next].Time < gapStart; ++next) {
                FEdges.push_back(merged[next]);
                current = merged[next].Levels;
            }
            FEdges.push_back({gapStart, static_cast<std::uint8_t>(current | LogicGapBit)});
            for (; next < merged.size() && merged[next].Time <= gapEnd; ++next) {
                current = merged[next].Levels;
            }
            FEdges.push_back({gapEnd, current});
        }
        FEdges.insert(FEdges.end(), merged.begin() + static_cast<std::ptrdiff_t>(next), merged.end());
    }

    std::uint8_t InitialLevels() const override { return FInitial; }
    double SamplePeriod() const override { return FWave.SampleRate > 0 ? 1 / FWave.SampleRate : 0.0; }

    bool Read(std::vector<TLogicEdge>& edges) override {
        edges.clear();
        const std::size_t n = std::min(FChunk, FEdges.size() - FOffset);
        edges.assign(FEdges.begin() + static_cast<std::ptrdiff_t>(FOffset),
                     FEdges.begin() + static_cast<std::ptrdiff_t>(FOffset + n));
        FOffset += n;
        return n > 0;
    }
    double EndTime() const override { return FWave.End; }
    std::uint64_t BytesConsumed() const override { return FOffset * sizeof(TLogicEdge); }

    const std::vector<TLogicEdge>& Edges() const { return FEdges; }

private:
    TWaveform FWave;
    std::vector<std::pair<double, double>> FGaps;
    std::size_t FChunk;
    std::uint8_t FInitial = 0;
    std::vector<TLogicEdge> FEdges;
    std::size_t FOffset = 0;
};

// Decodes a whole waveform (channel 0 the clock, 1 the data line unless chosen otherwise).
struct TDecodedCapture {
    std::vector<TSignalFrame> Frames;
    TBurstCounters Counters;
};

inline TDecodedCapture DecodeWaveform(const TWaveform& wave, std::vector<std::pair<double, double>> gaps = {},
                                      std::size_t chunkEdges = 4096, std::size_t clock = 0, std::size_t data = 1) {
    TWaveformSource source(wave, std::move(gaps), chunkEdges);
    source.SelectChannels(clock, data);
    TSignalFrameReader reader(source);
    TDecodedCapture decoded;
    std::vector<TSignalFrame> frames;
    while (reader.Read(frames)) {
        decoded.Frames.insert(decoded.Frames.end(), frames.begin(), frames.end());
    }
    decoded.Counters = reader.Counters();
    return decoded;
}
