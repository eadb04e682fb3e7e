// Logic-analyzer captures as the signal readers see them: a few digital channels, of which two
// are chosen (the clock MA and the data line SLO), delivered as the changes of those two in time
// order. Each signal format (Saleae CSV and binary exports, sigrok sessions, VCD) is a
// TLogicSource; the burst decoder turns the changes into frames whatever the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The levels of the two chosen channels after a change: bit 0 the clock, bit 1 the data line.
inline constexpr std::uint8_t LogicClockBit = 0x01;
inline constexpr std::uint8_t LogicDataBit = 0x02;
// Set on an edge that begins a stretch without data (an `X` in a Saleae CSV export): the
// levels are unknown from Time until the next edge without this bit.
inline constexpr std::uint8_t LogicGapBit = 0x80;

struct TLogicEdge {
    double Time = 0.0;        // seconds from the capture's start
    std::uint8_t Levels = 0;  // after the change; see the bits above
};

class TLogicSource {
public:
    virtual ~TLogicSource() = default;

    // The channels in the file's own order: index i is what `--clock i` names (the Nth column
    // after the time, digital_N, the sigrok probe in bit N, the Nth `$var`). Known once the
    // source is open (its header read).
    virtual const std::vector<std::string>& ChannelNames() const = 0;
    // Chooses the channels to deliver, once, before the first Read.
    virtual void SelectChannels(std::size_t clock, std::size_t data) = 0;
    // The levels at the capture's start (time 0), valid after SelectChannels.
    virtual std::uint8_t InitialLevels() const = 0;
    // Seconds per sample where the format has a sample rate or a time resolution (sigrok's
    // samplerate, VCD's timescale); 0 where it has none (Saleae exports).
    virtual double SamplePeriod() const = 0;

    // Replaces `edges` with the next changes of the chosen channels (at least one), in time
    // order, times never decreasing; returns false at the end of the capture, with `edges`
    // empty. Memory stays bounded whatever the capture's size. Throws TInputError naming
    // where the input went wrong (line, byte offset or member), after delivering every change
    // before that point.
    virtual bool Read(std::vector<TLogicEdge>& edges) = 0;
    // The time the capture ends (its last sample or the export's end time); valid once Read
    // has returned false.
    virtual double EndTime() const = 0;
    // Bytes of the input consumed so far, for progress reports.
    virtual std::uint64_t BytesConsumed() const = 0;
};
