// The burst decoder: see burstdecoder.h for the rules it follows.
//
// How it works: every change passes one small state machine. While a burst runs, its MA
// changes are held (at most MaxBurstEdges) and a deadline says when the level has stayed long
// enough for the burst to be over. Once it is, the held changes are cleaned of glitches and
// measured (median half-period, median period, CDM) in one go, and the burst joins a queue of
// frames that wait for SLO: the line delay and the sample points are only known once the burst
// is over, and the slave's bits arrive up to the line delay later. SLO changes are held from
// the oldest waiting frame's first clock on; a frame leaves the queue, in capture order, as
// soon as a change after its last sample point has arrived.

#include "capture/signal/burstdecoder.h"

#include "capture/capture.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

constexpr double Never = std::numeric_limits<double>::infinity();

// The median of `values` (reordered); the mean of the two middle values for an even count.
double Median(std::vector<double>& values) {
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    const double upper = values[middle];
    if (values.size() % 2 != 0) {
        return upper;
    }
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2;
}

// A rate to 4 significant digits in Hz, kHz or MHz. The unit is chosen after the rounding, so
// that a clock measured a hair under 1 MHz reads "1 MHz", not "1000 kHz".
std::string FormatHz(double hz) {
    char text[48];
    std::snprintf(text, sizeof text, "%.4g", hz);
    hz = std::strtod(text, nullptr);
    if (hz >= 1e6) {
        std::snprintf(text, sizeof text, "%.4g MHz", hz / 1e6);
    } else if (hz >= 1e3) {
        std::snprintf(text, sizeof text, "%.4g kHz", hz / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.4g Hz", hz);
    }
    return text;
}

void SetBit(TFrameBits& bits, std::int32_t index) {
    bits.Words[static_cast<std::size_t>(index) / 64] |= std::uint64_t{1} << (63 - index % 64);
}

} // namespace

std::string_view SignalOutcomeName(TSignalOutcome outcome) {
    switch (outcome) {
    case TSignalOutcome::soComplete:
        return "complete";
    case TSignalOutcome::soCut:
        return "cut";
    case TSignalOutcome::soInvalid:
        return "invalid";
    }
    return "invalid";
}

TBurstDecoder::TBurstDecoder(std::uint8_t initialLevels, double samplePeriod)
    : FSamplePeriod(samplePeriod > 0 && std::isfinite(samplePeriod) ? samplePeriod : 0.0),
      FMaHigh((initialLevels & LogicClockBit) != 0),
      FSloHigh((initialLevels & LogicDataBit) != 0) {
    // A capture that starts with MA low starts inside a burst: a cut one, whose end is not
    // known until MA rises (see EndBurst for how it joins what follows).
    FStartLow = !FMaHigh;
    FSloBaseHigh = FSloHigh;
    FBurstEdges.reserve(MaxBurstEdges);
}

void TBurstDecoder::Feed(std::span<const TLogicEdge> edges, std::vector<TSignalFrame>& frames) {
    for (const TLogicEdge& edge : edges) {
        Step(edge, frames);
    }
}

void TBurstDecoder::Step(const TLogicEdge& edge, std::vector<TSignalFrame>& frames) {
    const double t = edge.Time;
    if (FInBurst && t > FDeadline) {
        EndBurst(false);
    }
    if (FCount > 0) {
        Resolve(t, false, frames);
    }

    if ((edge.Levels & LogicGapBit) != 0) {
        if (!FInGap) {
            // Nothing is known from here to the gap's end: whatever it spans is cut.
            if (FInBurst) {
                EndBurst(true);
            }
            if (FStartLow) {
                EndStartCut();
            }
            Resolve(t, true, frames);
            FInGap = true;
        }
        return;
    }
    const bool ma = (edge.Levels & LogicClockBit) != 0;
    const bool slo = (edge.Levels & LogicDataBit) != 0;
    if (FInGap) {
        // The levels are known again; like a capture's start.
        FInGap = false;
        FMaHigh = ma;
        FSloHigh = slo;
        FStartLow = !ma;
        FStartLowTime = t;
        FHighSince = t;
        return;
    }

    if (slo != FSloHigh) {
        FSloHigh = slo;
        if ((FInBurst || FCount > 0) && !FSloOverflow) {
            FSlo.push_back({t, slo});
            if (FSlo.size() - FSloStart > MaxSloEdges) {
                DropSloOverflow();
            }
        }
    }
    if (ma == FMaHigh) {
        return;
    }
    FMaHigh = ma;
    if (FInBurst) {
        const double pulse = t - FLastMaEdge;
        FLastMaEdge = t;
        if (FBurstEdges.size() < MaxBurstEdges) {
            FBurstEdges.push_back({t, ma});
        } else {
            FBurstTooLong = true;
        }
        if (ma) {
            if (++FRawRises == 1) {
                FFirstRise = t;
            }
            FLastRise = t;
        }
        if (FMaxPulse > 0 && pulse < FMaxPulse / 4) {
            // The end of a glitch: the level before it goes on, as if the glitch had not been.
            FPhaseStart = FPrevPhaseStart;
        } else {
            FMaxPulse = std::max(FMaxPulse, t - FPhaseStart);
            FPrevPhaseStart = FPhaseStart;
            FPhaseStart = t;
            if (ma) {
                ++FPhaseRises;
            }
        }
        // A level held for longer than a clock period (twice the longest phase so far) ends
        // the burst; the first two clocks get more room, as their phases are all the decoder
        // has seen of the clock. Before the second rising edge a low level never ends it: a
        // glitch in the first low phase leaves nothing to measure the rest of it against.
        FDeadline = !ma && FPhaseRises < 2 ? Never : FPhaseStart + (FPhaseRises < 3 ? 4.0 : 2.0) * FMaxPulse;
    } else if (!ma) {
        StartBurst(t);
    } else {
        // The end of a low phase outside a burst: of CDM's, of a capture's or a gap's start.
        FHighSince = t;
    }
}

void TBurstDecoder::StartBurst(double time) {
    FInBurst = true;
    FBurstTooLong = false;
    FIdleBefore = time - FHighSince;
    FLastMaEdge = time;
    FPhaseStart = time;
    FPrevPhaseStart = time;
    FMaxPulse = 0.0;
    FDeadline = Never;
    FRawRises = 0;
    FPhaseRises = 0;
    FFirstRise = FLastRise = time;
    FBurstEdges.clear();
    FBurstEdges.push_back({time, false});
    if (FCount == 0) {
        // Nothing waits for SLO: hold it from here on.
        FSlo.clear();
        FSloStart = 0;
        FSloBaseHigh = FSloHigh;
        FSloOverflow = false;
    }
}

TBurstDecoder::TPending& TBurstDecoder::NewPending() {
    if (FCount == FQueue.size()) {
        std::rotate(FQueue.begin(), FQueue.begin() + static_cast<std::ptrdiff_t>(FHead), FQueue.end());
        FHead = 0;
        FQueue.emplace_back();
    }
    TPending& pending = FQueue[(FHead + FCount) % FQueue.size()];
    ++FCount;
    pending.Frame = TSignalFrame{};
    pending.Settled = false;
    pending.Period = 0.0;
    pending.AckEnd = 0.0;
    pending.DelayKnown = false;
    pending.WaitUntil = -Never;
    pending.Rises.clear();
    return pending;
}

void TBurstDecoder::EndStartCut() {
    FStartLow = false;
    TPending& pending = NewPending();
    pending.Frame.Burst = ++FBursts;
    pending.Frame.Time = FStartLowTime;
    pending.Frame.Outcome = TSignalOutcome::soCut;
    pending.Settled = true;
}

void TBurstDecoder::EndBurst(bool cut) {
    FInBurst = false;
    if (FMaHigh) {
        FHighSince = FLastMaEdge;
    }
    const double firstFall = FBurstEdges.front().Time;

    if (FBurstTooLong) {
        if (FStartLow) {
            EndStartCut();
        }
        TPending& pending = NewPending();
        pending.Frame.Burst = ++FBursts;
        pending.Frame.Time = firstFall;
        pending.Frame.Outcome = cut ? TSignalOutcome::soCut : TSignalOutcome::soInvalid;
        pending.Frame.Clocks = static_cast<std::int32_t>(std::min<std::int64_t>(FRawRises, INT32_MAX));
        pending.Frame.ClockHz = FRawRises > 1 ? static_cast<double>(FRawRises - 1) / (FLastRise - FFirstRise) : 0.0;
        pending.Frame.Cdm = cut || FMaHigh ? 0 : 1;
        pending.Settled = true;
        return;
    }

    // Glitches: pulses shorter than a quarter of the median half-period lose both edges.
    FPulses.clear();
    for (std::size_t i = 1; i < FBurstEdges.size(); ++i) {
        FPulses.push_back(FBurstEdges[i].Time - FBurstEdges[i - 1].Time);
    }
    std::uint64_t glitches = 0;
    FClean.clear();
    if (FPulses.empty()) {
        FClean = FBurstEdges;
    } else {
        const double threshold = Median(FPulses) / 4;
        for (const TMaEdge& edge : FBurstEdges) {
            if (!FClean.empty() && edge.Time - FClean.back().Time < threshold) {
                FClean.pop_back();
                ++glitches;
            } else {
                FClean.push_back(edge);
            }
        }
    }
    FCounters.Glitches += glitches;

    std::vector<double>& rises = FRises;
    rises.clear();
    for (const TMaEdge& edge : FClean) {
        if (edge.High) {
            rises.push_back(edge.Time);
        }
    }
    auto medianPeriod = [&rises, this]() {
        FPulses.clear();
        for (std::size_t i = 1; i < rises.size(); ++i) {
            FPulses.push_back(rises[i] - rises[i - 1]);
        }
        return FPulses.empty() ? 0.0 : Median(FPulses);
    };
    double period = medianPeriod();
    std::uint8_t cdm = FMaHigh ? 0 : 1;
    if (!cut && FMaHigh && rises.size() >= 3 && FClean.size() >= 2 &&
        FClean.back().Time - FClean[FClean.size() - 2].Time > period) {
        // The last low phase was longer than a clock period, split by a glitch the running
        // deadline could not see through: it was CDM's, and its rising edge is no clock.
        cdm = 1;
        rises.pop_back();
        period = medianPeriod();
    }
    const auto clocks = static_cast<std::int32_t>(rises.size());
    if (clocks < 2 && !cut) {
        // Nothing but glitches, or a lone low pulse (no slave answers one clock): a glitch on
        // the idle line, which goes on as if it had not been there.
        if (clocks == 1) {
            ++FCounters.Glitches;
        }
        if (FMaHigh) {
            FHighSince = firstFall - FIdleBefore;
        }
        return;
    }
    // (A clock of exactly 4 samples a period may measure a rounding error less.)
    if (FSamplePeriod > 0 && clocks >= 2 && period < 4 * FSamplePeriod * (1 - 1e-9)) {
        char at[32];
        std::snprintf(at, sizeof at, "%.9g", firstFall);
        throw TInputError(0, "the sample rate of " + FormatHz(1 / FSamplePeriod) + " is too low for the " +
                                 FormatHz(1 / period) + " clock found at " + at +
                                 " s: decoding needs at least 4 samples per clock period (" +
                                 FormatHz(4 / period) + " or more)");
    }

    // The first falling edge may have been a glitch's; the idle phase then lasted until the
    // first clean one.
    const double start = FClean.empty() ? firstFall : FClean.front().Time;
    const double idleBefore = FIdleBefore + (start - firstFall);
    const bool startUnseen = clocks < 2 || idleBefore <= period;
    double time = start;
    if (FStartLow) {
        if (startUnseen) {
            // MA rose after the capture's (or gap's) start and fell again within a clock
            // period: the same burst as the low start, cut once.
            cut = true;
            time = FStartLowTime;
            FStartLow = false;
        } else {
            EndStartCut();
        }
    } else if (startUnseen) {
        cut = true;
    }

    TPending& pending = NewPending();
    TSignalFrame& frame = pending.Frame;
    frame.Burst = ++FBursts;
    frame.Time = time;
    frame.Clocks = clocks;
    frame.ClockHz = period > 0 ? 1 / period : 0.0;
    if (cut) {
        frame.Outcome = TSignalOutcome::soCut;
        pending.Settled = true;
        return;
    }
    frame.Cdm = cdm;
    if (clocks > TFrameBits::MaxLength || FSloOverflow) {
        frame.Outcome = TSignalOutcome::soInvalid;
        pending.Settled = true;
        return;
    }
    pending.Period = period;
    pending.AckEnd = rises.back();
    pending.Rises.assign(rises.begin(), rises.end());
}

bool TBurstDecoder::SloLevelAt(double time, std::size_t& cursor) const {
    while (cursor < FSlo.size() && FSlo[cursor].Time <= time) {
        ++cursor;
    }
    return cursor == FSloStart ? FSloBaseHigh : FSlo[cursor - 1].High;
}

bool TBurstDecoder::TrySettle(TPending& pending, double known, bool final) {
    TSignalFrame& frame = pending.Frame;
    const std::vector<double>& rises = pending.Rises;
    auto cutFrame = [&]() {
        frame.Outcome = TSignalOutcome::soCut;
        frame.Cdm = 0;
        frame.LineDelay = 0.0;
        pending.Settled = true;
        return true;
    };
    // Every SLO change before `known` is held; one at `known` itself may still come.
    if (!pending.DelayKnown) {
        const double r1 = rises[1];
        if (r1 >= known) {
            return final ? cutFrame() : false;
        }
        std::size_t cursor = FSloStart;
        if (!SloLevelAt(r1, cursor)) {
            frame.LineDelay = 0.0;
            pending.DelayKnown = true;
        } else {
            for (; cursor < FSlo.size() && FSlo[cursor].Time < pending.AckEnd; ++cursor) {
                if (!FSlo[cursor].High) {
                    frame.LineDelay = FSlo[cursor].Time - r1;
                    pending.DelayKnown = true;
                    break;
                }
            }
            if (!pending.DelayKnown) {
                if (pending.AckEnd >= known) {
                    return final ? cutFrame() : false;
                }
                frame.LineDelay = 0.0; // no answer within the burst
                pending.DelayKnown = true;
            }
        }
    }
    const double offset = frame.LineDelay + pending.Period / 2;
    const auto clocks = frame.Clocks;
    pending.WaitUntil = rises[static_cast<std::size_t>(clocks) - 2] + offset;
    if (pending.WaitUntil >= known) {
        return final ? cutFrame() : false;
    }
    frame.Bits = TFrameBits{};
    frame.Bits.Length = clocks;
    SetBit(frame.Bits, 0);
    std::size_t cursor = FSloStart;
    for (std::int32_t j = 1; j < clocks; ++j) {
        if (SloLevelAt(rises[static_cast<std::size_t>(j) - 1] + offset, cursor)) {
            SetBit(frame.Bits, j);
        }
    }
    frame.Outcome = TSignalOutcome::soComplete;
    pending.Settled = true;
    return true;
}

void TBurstDecoder::Resolve(double known, bool final, std::vector<TSignalFrame>& frames) {
    bool moved = false;
    while (FCount > 0) {
        TPending& head = FQueue[FHead];
        if (!head.Settled && ((!final && head.WaitUntil >= known) || !TrySettle(head, known, final))) {
            break;
        }
        ++FCounters.Frames;
        if (head.Frame.Outcome == TSignalOutcome::soCut) {
            ++FCounters.Cut;
        } else if (head.Frame.Outcome == TSignalOutcome::soInvalid) {
            ++FCounters.Invalid;
        }
        frames.push_back(head.Frame);
        FHead = (FHead + 1) % FQueue.size();
        --FCount;
        moved = true;
    }
    if (moved) {
        TrimSlo();
    }
}

void TBurstDecoder::TrimSlo() {
    if (FCount == 0 && !FInBurst) {
        FSlo.clear();
        FSloStart = 0;
        FSloBaseHigh = FSloHigh;
        FSloOverflow = false;
        return;
    }
    // Held from the first falling edge of the oldest frame still waiting, or of the burst.
    const double need = FCount > 0 && !FQueue[FHead].Rises.empty() ? FQueue[FHead].Rises.front()
                                                                   : FBurstEdges.front().Time;
    while (FSloStart < FSlo.size() && FSlo[FSloStart].Time <= need) {
        FSloBaseHigh = FSlo[FSloStart].High;
        ++FSloStart;
    }
    if (FSloStart >= 4096 && FSloStart * 2 >= FSlo.size()) {
        FSlo.erase(FSlo.begin(), FSlo.begin() + static_cast<std::ptrdiff_t>(FSloStart));
        FSloStart = 0;
    }
}

void TBurstDecoder::DropSloOverflow() {
    // SLO changes far more often than any frame can use: the frames waiting for it, and the
    // burst in progress, cannot be decoded.
    for (std::size_t i = 0; i < FCount; ++i) {
        TPending& pending = FQueue[(FHead + i) % FQueue.size()];
        if (!pending.Settled) {
            pending.Frame.Outcome = TSignalOutcome::soInvalid;
            pending.Frame.LineDelay = 0.0;
            pending.Settled = true;
        }
    }
    FSloOverflow = true;
    FSlo.clear();
    FSloStart = 0;
}

void TBurstDecoder::Finish(double endTime, std::vector<TSignalFrame>& frames) {
    if (FInBurst) {
        EndBurst(!(endTime > FDeadline));
    }
    if (FStartLow) {
        EndStartCut();
    }
    // A sample point at the capture's last sample is still inside it.
    Resolve(std::nextafter(endTime, Never), true, frames);
}

// ---------------------------------------------------------------------------------------------

TSignalFrameReader::TSignalFrameReader(TLogicSource& source)
    : FSource(source), FDecoder(source.InitialLevels(), source.SamplePeriod()) {}

bool TSignalFrameReader::Read(std::vector<TSignalFrame>& frames) {
    frames.clear();
    if (FError) {
        // The fault that ended the frames delivered last.
        const std::exception_ptr error = FError;
        FError = nullptr;
        std::rethrow_exception(error);
    }
    while (frames.empty() && !FDone) {
        bool more = false;
        try {
            more = FSource.Read(FEdges);
        } catch (const TInputError&) {
            // The input went wrong after the changes read so far: the capture ends there.
            // The frames those changes complete come out first (the burst the fault cuts as a
            // cut one), the fault on the next call.
            FDone = true;
            FDecoder.Finish(FLastTime, frames);
            if (frames.empty()) {
                throw;
            }
            FError = std::current_exception();
            return true;
        }
        if (more) {
            FLastTime = FEdges.back().Time;
            FDecoder.Feed(FEdges, frames);
        } else {
            FDecoder.Finish(FSource.EndTime(), frames);
            FDone = true;
        }
    }
    return !frames.empty();
}

// ---------------------------------------------------------------------------------------------

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    a = Trimmed(a);
    b = Trimmed(b);
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string ChannelList(const std::vector<std::string>& names) {
    if (names.empty()) {
        return "the capture has no channels";
    }
    std::string list = "the channels found are";
    for (std::size_t i = 0; i < names.size(); ++i) {
        list += (i == 0 ? " " : ", ") + std::to_string(i) + " \"" + names[i] + "\"";
    }
    return list;
}

std::size_t FindChannel(const std::vector<std::string>& names, std::string_view option, const char* line,
                        std::initializer_list<std::string_view> defaults) {
    const std::string_view wanted = Trimmed(option);
    if (!wanted.empty()) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (SameName(names[i], wanted)) {
                return i;
            }
        }
        if (std::all_of(wanted.begin(), wanted.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
            wanted.size() <= 9) {
            const std::size_t index = std::stoul(std::string(wanted));
            if (index < names.size()) {
                return index;
            }
        }
        throw TChannelError("no channel \"" + std::string(wanted) + "\" for --" + line + ": " + ChannelList(names));
    }
    for (const std::string_view name : defaults) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (SameName(names[i], name)) {
                return i;
            }
        }
    }
    std::string tried;
    for (const std::string_view name : defaults) {
        tried += (tried.empty() ? "" : ", ") + std::string(name);
    }
    throw TChannelError(std::string("no channel named ") + tried + " for the " +
                        (std::string_view(line) == "clock" ? "clock" : "data line") + "; give --" + line +
                        " NAME or INDEX: " + ChannelList(names));
}

} // namespace

TChannelChoice ChooseChannels(const std::vector<std::string>& names, std::string_view clock, std::string_view data) {
    TChannelChoice choice;
    choice.Clock = FindChannel(names, clock, "clock", {"MA", "CLK", "CLOCK", "SCK", "SCLK"});
    choice.Data = FindChannel(names, data, "data", {"SLO", "SL", "DATA", "MISO", "SDO"});
    if (choice.Clock == choice.Data) {
        throw TChannelError("the clock and the data line are the same channel, " + std::to_string(choice.Clock) +
                            " \"" + names[choice.Clock] + "\": " + ChannelList(names));
    }
    return choice;
}
