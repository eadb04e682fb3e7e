// A model of a BiSS-C master and slave on the two lines of a logic-analyzer capture: the clock
// MA (master to slave) and the data line SLO (slave to master), written from the protocol:
// - Idle: MA and SLO high. A frame: the master pulls MA low (f0) and sends N clocks, each a low
//   and a high phase of T/2; r(k) = f0 + T/2 + kT are the rising edges.
// - The slave puts bit j (1 to N-1) of the frame on SLO at r(j-1), seen by the master a line
//   delay d later; bit 1 is still the idle level, bit 2 the ACK (low) the slave answers the
//   second rising edge with. After the last bit the slave keeps SLO low for the timeout, then
//   returns it high (seen d later).
// - After the last clock the master leaves MA high (CDM 0) or, after the last high phase,
//   holds it low for the timeout, at least two clock periods (CDM 1), before returning it high.
// - CDS is the bit after the start bit (the 1 that ends the ACK's zeros).
// Options: edge jitter, glitches on MA (short pulses in the middle of clock phases or of the
// idle line), a capture window that starts or ends inside frames, a sample rate (every change
// moved to the next sample time), more channels with changes of their own.
//
// The line delay must leave SLO high again before the next frame's ACK: below the idle time
// plus 1.5 clock periods minus the timeout.
//
// The output is neutral: per channel its name, its level at the capture's start and the times
// it toggles (seconds from the capture's start), and the frames a decoder of the rules in
// src/cli/capture/signal/burstdecoder.h should find.
#pragma once

#include "framesupport.h"
#include "waveform.h"
#include "capture/signal/burstdecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

// One frame of the master's script.
struct TModelFrame {
    std::vector<bool> Bits;  // s0 ... s(N-1); N clocks. s0 is never sent (the idle level)
    int Cds = -1;            // -1: as in Bits; 0 or 1: the bit after the start bit set to it
    bool Cdm = false;
    double IdleBefore = 0.0; // MA high before f0, seconds; 0: the link's IdleTime
    bool Silent = false;     // no slave answers: SLO stays high (the frame reads all ones)
    // Glitches on MA at these times from f0, in clock periods (negative: in the idle before),
    // besides those of TLinkParams::GlitchRate; each is a pulse of GlitchWidth.
    std::vector<double> GlitchesAt;
};

struct TLinkParams {
    double ClockHz = 1e6;
    double LineDelay = 0.0;   // d, seconds
    double Jitter = 0.0;      // every edge moved by up to this much either way (uniform)
    double IdleTime = 0.0;    // between frames and before the first; 0: 12 periods
    double Timeout = 0.0;     // the slave's timeout and the CDM hold; 0: 4 periods
    double GlitchRate = 0.0;  // chance of a glitch in each clock phase
    int IdleGlitches = 0;     // glitches in the middle of each idle phase before a frame
    double GlitchWidth = 0.04; // in clock periods
    double SampleRate = 0.0;  // 0: exact times
    // The capture window in the model's time (f0 of the first frame is at the first idle's
    // end); times in the waveform are relative to CaptureStart.
    double CaptureStart = 0.0;
    double CaptureEnd = std::numeric_limits<double>::infinity(); // infinity: the idle after the last frame
    std::string ClockName = "MA";
    std::string DataName = "SLO";
    std::vector<std::string> ExtraChannels; // random changes of their own, after MA and SLO
    std::uint32_t Seed = 1;
};

// A link at `clockHz` whose line delay, jitter and idle phases are given in clock periods,
// sampled `samplesPerPeriod` times a period (0: exact times).
inline TLinkParams LinkInPeriods(double clockHz, double delayPeriods, double jitterPeriods, double glitchRate,
                                 double samplesPerPeriod, double idlePeriods) {
    TLinkParams link;
    link.ClockHz = clockHz;
    const double period = 1 / clockHz;
    link.LineDelay = delayPeriods * period;
    link.Jitter = jitterPeriods * period;
    link.GlitchRate = glitchRate;
    link.SampleRate = samplesPerPeriod * clockHz;
    link.IdleTime = idlePeriods * period;
    return link;
}

struct TModelCapture {
    TWaveform Wave;                      // channel 0 MA, 1 SLO, then the extra ones
    std::vector<TSignalFrame> Expected;  // Time relative to the capture's start
    std::uint64_t Glitches = 0;          // glitch pulses inside the capture window
};

// A BiSS frame as bits, s0 first (the frame's lengths as given, any number of clocks).
inline std::vector<bool> BitsOfFrame(const std::vector<bool>& bits, int cds) {
    std::vector<bool> out = bits;
    if (cds >= 0) {
        // The start bit is the 1 after the ACK's first 0 (from s2 on); CDS follows it.
        std::size_t i = 2;
        while (i < out.size() && out[i]) {
            ++i;
        }
        while (i < out.size() && !out[i]) {
            ++i;
        }
        if (i + 1 < out.size()) {
            out[i + 1] = cds != 0;
        }
    }
    return out;
}

inline TModelCapture RunLink(const TLinkParams& link, const std::vector<TModelFrame>& script) {
    const double period = 1.0 / link.ClockHz;
    const double half = period / 2;
    const double idle = link.IdleTime > 0 ? link.IdleTime : 12 * period;
    const double timeout = link.Timeout > 0 ? link.Timeout : 4 * period;
    const double d = link.LineDelay;
    std::mt19937 random(link.Seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    auto jitter = [&]() { return link.Jitter > 0 ? link.Jitter * unit(random) : 0.0; };

    // Toggles in the model's time; a glitch is a pair tagged with its number.
    struct TToggle {
        double Time;
        int Glitch; // -1: none
    };
    std::vector<TToggle> ma;
    std::vector<double> slo;
    int glitchCount = 0;
    auto glitch = [&](double middle) {
        const double width = link.GlitchWidth * period;
        ma.push_back({middle - width / 2, glitchCount});
        ma.push_back({middle + width / 2, glitchCount});
        ++glitchCount;
    };
    struct TFrameTimes {
        double F0, LastRise, LastMaEdge, Known, LastSample;
        std::vector<bool> Bits;
        bool Cdm;
        bool Silent;
    };
    std::vector<TFrameTimes> times;

    double t = 0.0;
    for (const TModelFrame& frame : script) {
        const double idleHere = frame.IdleBefore > 0 ? frame.IdleBefore : idle;
        for (int g = 0; g < link.IdleGlitches; ++g) {
            glitch(t + idleHere * (g + 1) / (link.IdleGlitches + 1));
        }
        t += idleHere;
        const std::vector<bool> bits =
            frame.Silent ? std::vector<bool>(frame.Bits.size(), true) : BitsOfFrame(frame.Bits, frame.Cds);
        const auto n = static_cast<int>(bits.size());
        const double f0 = t;
        for (const double at : frame.GlitchesAt) {
            glitch(f0 + at * period);
        }
        ma.push_back({f0 + jitter(), -1});
        std::vector<double> rises;
        for (int k = 0; k < n; ++k) {
            const double rise = f0 + half + k * period;
            if (chance(random) < link.GlitchRate) {
                glitch(rise - half / 2); // in the low phase
            }
            rises.push_back(rise + jitter());
            ma.push_back({rises.back(), -1});
            if (k + 1 < n) {
                if (chance(random) < link.GlitchRate) {
                    glitch(rise + half / 2); // in the high phase
                }
                ma.push_back({rise + half + jitter(), -1});
            }
        }
        const double lastRise = rises.back();
        double lastMaEdge = lastRise;
        if (frame.Cdm) {
            ma.push_back({lastRise + half + jitter(), -1});
            lastMaEdge = lastRise + half + std::max(timeout, 2 * period) + jitter();
            ma.push_back({lastMaEdge, -1});
        }
        // The slave: bit j from r(j-1) + d; low after the last bit until the timeout ends.
        bool level = true;
        for (int j = 1; j <= n && !frame.Silent; ++j) {
            const bool next = j < n ? bits[static_cast<std::size_t>(j)] : false;
            if (next != level) {
                slo.push_back(rises[static_cast<std::size_t>(j) - 1] + d + jitter());
                level = next;
            }
        }
        if (!level) {
            slo.push_back(std::max(lastRise + timeout, lastMaEdge) + d + jitter());
        }
        const double known = frame.Cdm ? lastRise + 1.5 * period : lastRise + period;
        const double lastSample = n >= 2 ? rises[static_cast<std::size_t>(n) - 2] + d + half : f0;
        times.push_back({f0, lastRise, lastMaEdge, known, lastSample, bits, frame.Cdm, frame.Silent});
        t = lastMaEdge;
    }
    const double modelEnd = t + idle;

    // Quantisation: a change is seen at the first sample at or after it; a glitch keeps at
    // least one sample.
    auto quantise = [&](double time) {
        return link.SampleRate > 0 ? std::ceil(time * link.SampleRate - 1e-9) / link.SampleRate : time;
    };
    std::sort(ma.begin(), ma.end(), [](const TToggle& a, const TToggle& b) { return a.Time < b.Time; });
    std::sort(slo.begin(), slo.end());
    for (std::size_t i = 0; i < ma.size(); ++i) {
        double q = quantise(ma[i].Time);
        if (i > 0 && q <= ma[i - 1].Time && link.SampleRate > 0) {
            q = ma[i - 1].Time + 1 / link.SampleRate;
        }
        ma[i].Time = q;
    }
    for (double& time : slo) {
        time = quantise(time);
    }
    // Two changes of SLO at the same sample cancel out.
    std::vector<double> sloKept;
    for (const double time : slo) {
        if (!sloKept.empty() && sloKept.back() == time) {
            sloKept.pop_back();
        } else {
            sloKept.push_back(time);
        }
    }

    const double start = link.CaptureStart;
    const double end = std::min(link.CaptureEnd, modelEnd);
    TModelCapture capture;
    TWaveform& wave = capture.Wave;
    wave.Names = {link.ClockName, link.DataName};
    wave.Initial = {1, 1};
    wave.Toggles.resize(2);
    wave.End = end - start;
    wave.SampleRate = link.SampleRate;
    for (const TToggle& toggle : ma) {
        if (toggle.Time <= start) {
            wave.Initial[0] ^= 1;
        } else if (toggle.Time <= end) {
            wave.Toggles[0].push_back(toggle.Time - start);
        }
    }
    {
        // Glitch pairs wholly inside the window.
        std::vector<int> seen(static_cast<std::size_t>(glitchCount), 0);
        for (const TToggle& toggle : ma) {
            if (toggle.Glitch >= 0 && toggle.Time > start && toggle.Time <= end) {
                ++seen[static_cast<std::size_t>(toggle.Glitch)];
            }
        }
        capture.Glitches = static_cast<std::uint64_t>(std::count(seen.begin(), seen.end(), 2));
    }
    for (const double time : sloKept) {
        if (time <= start) {
            wave.Initial[1] ^= 1;
        } else if (time <= end) {
            wave.Toggles[1].push_back(time - start);
        }
    }
    for (const std::string& name : link.ExtraChannels) {
        wave.Names.push_back(name);
        wave.Initial.push_back(static_cast<std::uint8_t>(random() & 1U));
        std::vector<double> toggles;
        for (double x = quantise(period * (0.3 + chance(random))); x < end - start;
             x = quantise(x + period * (0.1 + 3 * chance(random)))) {
            if (toggles.empty() || toggles.back() < x) {
                toggles.push_back(x);
            }
        }
        wave.Toggles.push_back(std::move(toggles));
    }

    // The frames the capture shows, by the rules of a frame's start and end.
    std::uint64_t burst = 0;
    for (const TFrameTimes& frame : times) {
        if (frame.LastMaEdge <= start || frame.F0 >= end) {
            continue; // outside the window
        }
        TSignalFrame expected;
        expected.Burst = ++burst;
        expected.Clocks = static_cast<std::int32_t>(frame.Bits.size());
        expected.ClockHz = link.ClockHz;
        const bool startSeen = frame.F0 - period > start;
        const bool endSeen = std::max(frame.Known, frame.LastSample) < end;
        if (!startSeen || !endSeen) {
            // Where the capture starts inside the frame, its first falling edge is not seen:
            // Time is then -1, the decoder's choice.
            expected.Outcome = TSignalOutcome::soCut;
            expected.Time = frame.F0 > start ? frame.F0 - start : -1.0;
        } else if (expected.Clocks > TFrameBits::MaxLength) {
            expected.Outcome = TSignalOutcome::soInvalid;
            expected.Time = frame.F0 - start;
            expected.Cdm = frame.Cdm ? 1 : 0;
        } else {
            expected.Time = frame.F0 - start;
            expected.Cdm = frame.Cdm ? 1 : 0;
            // The ACK is seen at r(1) + d; only frames clocked on after it show the delay.
            expected.LineDelay = frame.Silent || expected.Clocks < 3 ? 0.0 : d;
            TBitList list;
            list.PutBit(true);
            for (std::size_t j = 1; j < frame.Bits.size(); ++j) {
                list.PutBit(frame.Bits[j]);
            }
            expected.Bits = list.Packed();
        }
        capture.Expected.push_back(expected);
    }
    return capture;
}

// Bits of a TBitList (from the frame builder) as a script frame.
inline TModelFrame ScriptFrame(const TBitList& bits, bool cdm = false, int cds = -1) {
    TModelFrame frame;
    frame.Bits = bits.Bits;
    frame.Cdm = cdm;
    frame.Cds = cds;
    return frame;
}
