// The link behind the signal sample captures of tests/data/captures (signal-biss.*): a BiSS-C
// master and slave as the window's default encoder sees them, run through the master/slave
// model. make_signal_samples writes the files from it; the tests rebuild it to know every frame
// the files must give.
//
// - Frames: 64 clocks of the window's layout (26 position bits, nE and nW, CRC-6 0x43 sent
//   inverted), an ACK of 13 bits, zeros after the CRC while the slave's timeout runs.
// - The clock: 2.5 MHz, a frame every 50 us, sampled at 25 MHz; a line delay of 150 ns, edge
//   jitter of up to 8 ns, two glitches on MA.
// - The master sends CDM 1 on every fifth frame, the slave sets CDS on every third.
// - The position climbs 37 counts a frame and jumps once; a few frames have one bit flipped on
//   the line, so that their CRC fails; one frame carries a warning (nW low).
// - The capture starts inside the first burst and ends inside the last one: both are cut.
#pragma once

#include "framesupport.h"
#include "waveformmodel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

struct TSignalSampleFrame {
    std::uint64_t Position = 0; // as sent
    std::uint8_t Status = 3;    // nE nW
    bool Cdm = false;
    bool Cds = false;
    bool Flipped = false;       // one bit flipped on the line: the CRC fails
};

struct TSignalSample {
    TLinkParams Link;
    std::vector<TSignalSampleFrame> Frames; // one per burst of the capture, cut ones included
    TModelCapture Capture;                  // Capture.Expected[i] is Frames[i]'s burst
};

// Sets the capture window of `link` to start `into` seconds after the first frame's falling
// MA edge and end `into` seconds after the last one's (on the sample grid where there is one),
// so that the first and the last burst are cut, and runs the link.
inline TModelCapture RunLinkCutAtBothEnds(TLinkParams& link, const std::vector<TModelFrame>& script, double into) {
    const double period = 1 / link.ClockHz;
    const double firstIdle = !script.empty() && script.front().IdleBefore > 0 ? script.front().IdleBefore
                             : link.IdleTime > 0                               ? link.IdleTime
                                                                               : 12 * period;
    const auto onGrid = [&](double time) {
        return link.SampleRate > 0 ? std::round(time * link.SampleRate) / link.SampleRate : time;
    };
    link.CaptureStart = onGrid(firstIdle + into);
    link.CaptureEnd = std::numeric_limits<double>::infinity();
    const TModelCapture whole = RunLink(link, script);
    link.CaptureEnd = onGrid(link.CaptureStart + whole.Expected.back().Time + into);
    // A sampled capture's last sample lies one sample before its end: a change at the end
    // itself is not in it. The end moves on by a sample until no change falls on it.
    for (;;) {
        TModelCapture capture = RunLink(link, script);
        const bool onEnd = link.SampleRate > 0 && std::any_of(capture.Wave.Toggles.begin(), capture.Wave.Toggles.end(),
                                                             [&](const std::vector<double>& toggles) {
                                                                 return !toggles.empty() &&
                                                                        std::fabs(toggles.back() - capture.Wave.End) <
                                                                            0.5 / link.SampleRate;
                                                             });
        if (!onEnd) {
            return capture;
        }
        link.CaptureEnd += 1 / link.SampleRate;
    }
}

inline constexpr int SignalSampleFrames = 32;
inline constexpr int SignalSampleAckLength = 13;

inline TSignalSample BuildSignalSample() {
    TSignalSample sample;
    TLinkParams& link = sample.Link;
    link.ClockHz = 2.5e6;
    link.SampleRate = 25e6;
    link.LineDelay = 150e-9;
    link.Jitter = 8e-9;
    const double period = 1 / link.ClockHz;
    // 64 clocks take 25.6 us: the idle makes up the 50 us a frame.
    link.IdleTime = 50e-6 - 64 * period;
    link.Timeout = 8 * period;
    link.Seed = 20240613;

    const TFrameLayoutParams layout; // the window's default
    std::vector<TModelFrame> script;
    std::uint64_t position = 0x0A3F00;
    for (int i = 0; i < SignalSampleFrames; ++i) {
        TSignalSampleFrame frame;
        position += i == 19 ? 0x1000000 : 37; // one jump
        frame.Position = position & 0x3FFFFFF;
        frame.Status = i == 17 ? 2 : 3;
        frame.Cdm = i % 5 == 2;
        frame.Cds = i % 3 == 1;
        frame.Flipped = i == 9 || i == 26;
        TFrameContent content;
        content.AckLength = SignalSampleAckLength;
        content.AckOnes = 1;
        content.Cds = frame.Cds;
        content.Count = frame.Position;
        content.Status = frame.Status;
        content.TotalBits = 64;
        TBuiltFrame built = BuildFrame(layout, content);
        if (frame.Flipped) {
            // A position bit in the middle of the frame, changed on its way to the master.
            const std::size_t bit = SignalSampleAckLength + 2 + 13;
            built.Received.Bits[bit] = !built.Received.Bits[bit];
        }
        script.push_back(ScriptFrame(built.Received, frame.Cdm));
        // Two glitches, pulses of one sample: in the high phase of clock 20 of frame 6, and
        // in the middle of the idle before frame 22.
        if (i == 6) {
            script.back().GlitchesAt = {20.75};
        } else if (i == 22) {
            script.back().GlitchesAt = {-30.0};
        }
        sample.Frames.push_back(frame);
    }

    // The window: from 10 us after the first frame's falling edge to 10 us after the last one's.
    sample.Capture = RunLinkCutAtBothEnds(link, script, 10e-6);
    return sample;
}
