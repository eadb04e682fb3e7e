// The burst decoder: the changes of the clock MA and the data line SLO of a BiSS-C link, as a
// TLogicSource delivers them, turned into one frame per burst of MA clocks.
//
// The link as the decoder reads it:
// - Idle is MA high; a capture that starts with MA high starts idle. A frame starts at the
//   falling MA edge f0 that ends an idle phase, MA high for longer than a clock period. Its
//   rising MA edges are r(0) ... r(N-1); T is the median of the burst's clock periods (rising
//   edge to rising edge).
// - The slave answers the second rising edge r(1) with the ACK (SLO low). The line delay d is
//   the time from r(1) to SLO's first falling edge after it, 0 when SLO is already low at
//   r(1). The ACK is looked for until the burst's last rising edge r(N-1), the last moment
//   the slave's answer can still carry a bit (after it the slave's timeout pulls SLO low); a
//   slave that does not answer within it leaves d at 0 and the frame as SLO shows it (all
//   ones, no start bit).
// - The frame has N bits: bit 0 is 1 (the idle level) and bit j, 1 to N-1, is SLO's level at
//   r(j-1) + d + T/2, the middle of the bit the slave put out at r(j-1). With no line delay
//   these are the bits an SPI port clocked by MA reads on its rising edges.
// - The burst ends at its last rising edge: then MA stays high (CDM 0) or, after the last
//   clock's high phase, stays low (CDM 1, the inverse of MA during the slave's timeout; the
//   rising edge that ends that low phase is no clock), in either case for longer than about a
//   clock period. While the burst runs, "a clock period" is taken as twice its longest high or
//   low phase so far (four times during the first two clocks, whose phases say little yet),
//   pulses shorter than a quarter of that phase looked through as glitches, so that a glitch
//   never ends a burst early.
// - A high or low MA pulse shorter than a quarter of the burst's median half-period (the median
//   of all its high and low phases as captured) is a glitch: both its edges are dropped and
//   the pulse counted. A burst that is one clock long after that (a lone low pulse on an idle
//   line) cannot carry an answer and is counted as a glitch too; the idle phase goes on.
//   Before its second rising edge a burst never ends on a low level, so that a glitch in its
//   first low phase cannot end it early.
// - The low phase after the last clock is read as CDM also when a glitch split it.
//
// Outcomes:
// - sfCut: the capture does not hold the whole frame: MA is low at the capture's start or at
//   the end of a gap (LogicGapBit), or was high for no longer than T before f0 since the
//   capture's start, a gap's end or the previous burst (so the frame may have started
//   earlier); the capture or a gap starts before MA has shown the burst's end, or before the
//   last sample point (the ACK window's end when the slave has not answered yet) has passed.
//   A cut frame is never decoded: its bits are empty, its Cdm 0; ClockHz is set when known.
// - sfInvalid: more than TFrameBits::MaxLength clocks, or more MA changes than MaxBurstEdges
//   (then Clocks counts the rising edges as captured, glitches included, and no glitch is
//   counted), or more SLO changes than MaxSloEdges to hold while frames wait for their sample
//   points (SLO toggling far faster than the clock). No bits.
// - sfComplete: Bits holds the N bits.
//
// Undersampling: for a source with a sample period, a burst whose T spans fewer than 4 samples
// stops the decoding with a TInputError naming the sample rate and the clock found.
//
// Memory stays constant whatever the capture's size: the decoder holds the MA changes of the
// burst in progress and the SLO changes since the oldest frame still waiting for its sample
// points, both capped. Frames come out in capture order, each once its last sample point has
// passed.
#pragma once

#include "decode/frametext.h"
#include "capture/signal/logicsource.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

enum class TSignalOutcome : std::uint8_t {
    soComplete, // every bit read
    soCut,      // the capture (its start, its end or a gap) cuts the frame
    soInvalid,  // too long, or a line changing too often to decode
};

// "complete", "cut", "invalid".
std::string_view SignalOutcomeName(TSignalOutcome outcome);

struct TSignalFrame {
    std::uint64_t Burst = 0;   // its number from 1 in capture order, cut and invalid ones counted
    double Time = 0.0;         // seconds from the capture's start to its first falling MA edge
    TSignalOutcome Outcome = TSignalOutcome::soComplete;
    std::uint8_t Cdm = 0;      // the master's control bit: 1 when MA stayed low after the burst
    std::int32_t Clocks = 0;   // N, the rising MA edges that are clocks
    double ClockHz = 0.0;      // 1/T; 0 when not known (a cut burst of fewer than two clocks)
    double LineDelay = 0.0;    // d, seconds
    TFrameBits Bits;           // soComplete: Length = N, bit 0 is s0; otherwise empty
};

struct TBurstCounters {
    std::uint64_t Frames = 0;   // frames delivered, whatever their outcome
    std::uint64_t Cut = 0;      // of them, soCut
    std::uint64_t Invalid = 0;  // of them, soInvalid
    std::uint64_t Glitches = 0; // MA pulses ignored as glitches
};

class TBurstDecoder {
public:
    // The most MA changes one burst may hold (a 256-clock burst has 512, the rest is room for
    // glitches), and the most SLO changes held for frames waiting for their sample points.
    static constexpr std::size_t MaxBurstEdges = 2048;
    static constexpr std::size_t MaxSloEdges = 65536;

    // `initialLevels` as TLogicSource::InitialLevels gives them; `samplePeriod` in seconds, 0
    // when the source has none.
    explicit TBurstDecoder(std::uint8_t initialLevels, double samplePeriod = 0.0);

    // Takes the next changes, in time order, and appends the frames they complete to `frames`.
    // Throws TInputError for an undersampled burst.
    void Feed(std::span<const TLogicEdge> edges, std::vector<TSignalFrame>& frames);
    // The capture ended at `endTime`: appends the frames still held (cut where the capture
    // ends too early for them). Feed may not be called after it.
    void Finish(double endTime, std::vector<TSignalFrame>& frames);

    const TBurstCounters& Counters() const { return FCounters; }

private:
    struct TMaEdge {
        double Time;
        bool High; // the level after the change
    };
    struct TSloEdge {
        double Time;
        bool High;
    };
    // A finished burst waiting for SLO to pass its sample points (or already settled).
    struct TPending {
        TSignalFrame Frame;
        bool Settled = false;     // Frame is final
        double Period = 0.0;      // T
        double AckEnd = 0.0;      // the end of the window the ACK is looked for in
        bool DelayKnown = false;
        double WaitUntil = 0.0;   // nothing to settle before SLO has passed this time
        std::vector<double> Rises; // r(0) ... r(N-1)
    };

    void Step(const TLogicEdge& edge, std::vector<TSignalFrame>& frames);
    void StartBurst(double time);
    // The burst in progress ended; `cut` when the capture or a gap cut it.
    void EndBurst(bool cut);
    void EndStartCut(); // settles a low start (capture or gap) as its own cut frame
    TPending& NewPending();
    // Settles the frames at the head of the queue that the SLO changes before `known` decide
    // (`final`: none will come, so the rest are cut) and moves them to `frames`.
    void Resolve(double known, bool final, std::vector<TSignalFrame>& frames);
    bool TrySettle(TPending& pending, double known, bool final);
    void TrimSlo();
    bool SloLevelAt(double time, std::size_t& cursor) const;
    void DropSloOverflow();

    double FSamplePeriod;
    TBurstCounters FCounters;
    std::uint64_t FBursts = 0;

    // MA.
    bool FMaHigh;
    bool FInGap = false;
    double FHighSince = 0.0;   // when MA last went high outside a burst
    bool FStartLow = false;    // MA has been low since the capture's start or a gap's end
    double FStartLowTime = 0.0;
    bool FInBurst = false;
    bool FBurstTooLong = false;
    double FIdleBefore = 0.0;  // how long MA was high before the burst's f0
    double FLastMaEdge = 0.0;
    // The running view of the clock that decides when the burst is over: the current level's
    // start, glitches (pulses under a quarter of the longest phase) looked through.
    double FPhaseStart = 0.0;
    double FPrevPhaseStart = 0.0;
    std::int64_t FPhaseRises = 0;
    double FFirstRise = 0.0;
    double FLastRise = 0.0;
    double FMaxPulse = 0.0;
    double FDeadline = 0.0;    // the burst has ended once time passes this
    std::int64_t FRawRises = 0;
    std::vector<TMaEdge> FBurstEdges;
    std::vector<double> FPulses;   // scratch of EndBurst
    std::vector<TMaEdge> FClean;   // scratch of EndBurst
    std::vector<double> FRises;    // scratch of EndBurst

    // SLO.
    bool FSloHigh;
    bool FSloOverflow = false;
    bool FSloBaseHigh = true;       // SLO's level before FSlo[FSloStart]
    std::vector<TSloEdge> FSlo;     // held while a burst runs or frames wait
    std::size_t FSloStart = 0;

    // Frames in capture order: [FHead, FHead + FCount) of a ring of reused slots.
    std::vector<TPending> FQueue;
    std::size_t FHead = 0;
    std::size_t FCount = 0;
};

// Reads a whole TLogicSource (channels already selected) through a burst decoder, a few frames
// at a time.
class TSignalFrameReader {
public:
    explicit TSignalFrameReader(TLogicSource& source);
    // Replaces `frames` with the next frames, at least one unless the capture is exhausted;
    // returns false when none was left. Throws TInputError as the source and the decoder do;
    // when the source fails, the capture is taken to end at its last change: the frames that
    // completes (and the burst it cuts, as cut) come first, the TInputError on the next call.
    bool Read(std::vector<TSignalFrame>& frames);
    const TBurstCounters& Counters() const { return FDecoder.Counters(); }

private:
    TLogicSource& FSource;
    TBurstDecoder FDecoder;
    std::vector<TLogicEdge> FEdges;
    double FLastTime = 0.0;
    std::exception_ptr FError;
    bool FDone = false;
};

// ---------------------------------------------------------------------------------------------
// Choosing the two channels. `clock` and `data` are the --clock and --data options (empty when
// not given): a channel name, case-insensitive, or else a 0-based index. Without an option the
// channel is found by name, case-insensitive, in this order: clock MA, CLK, CLOCK, SCK, SCLK;
// data SLO, SL, DATA, MISO, SDO. Names are compared without surrounding blanks.
struct TChannelChoice {
    std::size_t Clock = 0;
    std::size_t Data = 0;
};

// What ChooseChannels cannot resolve; its message lists the channels found.
class TChannelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws TChannelError when a channel is not found, an index is out of range, or both options
// name the same channel.
TChannelChoice ChooseChannels(const std::vector<std::string>& names, std::string_view clock,
                              std::string_view data);
