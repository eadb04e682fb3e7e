// The burst decoder against the model of a BiSS master and slave: the model's frames turned
// into MA and SLO changes, decoded back, and compared with what the model sent; and the
// channel chooser.

#include "capture/signal/burstdecoder.h"

#include "capture/capture.h"
#include "framesupport.h"
#include "waveformmodel.h"
#include "waveformsource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

TFrameLayoutParams WindowLayout() { return TFrameLayoutParams{}; }

TFrameLayoutParams MultiTurnLayout() {
    TFrameLayoutParams layout;
    layout.MultiTurnBits = 12;
    layout.PositionBits = 24;
    layout.StatusBits = 2;
    layout.CrcPolynomial = 0x43;
    return layout;
}

TFrameLayoutParams Crc16Layout() {
    TFrameLayoutParams layout;
    layout.PositionBits = 32;
    layout.StatusBits = 1;
    layout.CrcPolynomial = 0x190D9; // x^16 + x^15 + x^12 + x^7 + x^6 + x^4 + x^3 + 1
    layout.CrcInverted = false;
    return layout;
}

// A BiSS frame: s1 still idle, the ACK from s2 on, `ackLength` bits before the start bit.
TBuiltFrame BissFrame(const TFrameLayoutParams& layout, std::uint64_t count, int clocks, int ackLength = 3,
                      bool cds = false) {
    TFrameContent content;
    content.AckLength = ackLength;
    content.AckOnes = 1;
    content.Cds = cds;
    content.Count = count;
    content.Status = 3;
    content.TotalBits = clocks;
    return BuildFrame(layout, content);
}

std::string BitText(const TFrameBits& bits) {
    std::string text;
    for (std::int32_t i = 0; i < bits.Length; ++i) {
        text += bits.Bit(i) ? '1' : '0';
    }
    return text;
}

struct TTolerance {
    double Time = 1e-12;
    double Delay = 1e-12;
    double ClockShare = 1e-9;
};

TTolerance ToleranceOf(const TLinkParams& link) {
    const double sample = link.SampleRate > 0 ? 1 / link.SampleRate : 0.0;
    TTolerance tolerance;
    tolerance.Time = link.Jitter + sample + 1e-12;
    tolerance.Delay = 2 * link.Jitter + 2 * sample + 1e-12;
    tolerance.ClockShare = (2 * link.Jitter + 2 * sample) * link.ClockHz + 1e-9;
    return tolerance;
}

void ExpectFrames(const std::vector<TSignalFrame>& got, const std::vector<TSignalFrame>& want,
                  const TTolerance& tolerance) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const TSignalFrame& g = got[i];
        const TSignalFrame& w = want[i];
        EXPECT_EQ(g.Burst, w.Burst);
        EXPECT_EQ(SignalOutcomeName(g.Outcome), SignalOutcomeName(w.Outcome));
        if (w.Time >= 0) {
            EXPECT_NEAR(g.Time, w.Time, tolerance.Time);
        }
        if (w.Outcome == TSignalOutcome::soCut) {
            EXPECT_EQ(g.Bits.Length, 0);
            continue;
        }
        EXPECT_EQ(g.Clocks, w.Clocks);
        EXPECT_EQ(int(g.Cdm), int(w.Cdm));
        EXPECT_NEAR(g.ClockHz, w.ClockHz, w.ClockHz * tolerance.ClockShare);
        if (w.Outcome == TSignalOutcome::soComplete) {
            EXPECT_NEAR(g.LineDelay, w.LineDelay, tolerance.Delay);
            EXPECT_EQ(BitText(g.Bits), BitText(w.Bits));
        }
    }
}

// ---- Round trips over layouts, clock rates, line delays, jitter, glitches, CDM, sampling ----

struct TRoundTrip {
    const char* Name;
    TFrameLayoutParams Layout;
    int Clocks;
    double ClockHz;
    double DelayPeriods;   // d in clock periods
    double JitterPeriods;  // in clock periods
    double GlitchRate;
    double SamplesPerPeriod; // 0: exact times
    int Frames;
    double IdlePeriods = 16;
    double TimeoutPeriods = 4;
};

void PrintTo(const TRoundTrip& c, std::ostream* out) { *out << c.Name; }

class BurstRoundTrip : public testing::TestWithParam<TRoundTrip> {};

TEST_P(BurstRoundTrip, DecodesWhatTheModelSent) {
    const TRoundTrip& c = GetParam();
    TLinkParams link = LinkInPeriods(c.ClockHz, c.DelayPeriods, c.JitterPeriods, c.GlitchRate, c.SamplesPerPeriod,
                                     c.IdlePeriods);
    const double period = 1 / c.ClockHz;
    link.Timeout = c.TimeoutPeriods * period;
    link.Seed = static_cast<std::uint32_t>(c.Clocks * 7 + c.Frames);

    std::mt19937_64 random(c.Frames);
    std::vector<TModelFrame> script;
    std::vector<std::uint64_t> counts;
    for (int i = 0; i < c.Frames; ++i) {
        counts.push_back(random());
        const TBuiltFrame built = BissFrame(c.Layout, counts.back(), c.Clocks, 3 + i % 4);
        script.push_back(ScriptFrame(built.Received, i % 3 == 1, i % 2));
    }
    const TModelCapture capture = RunLink(link, script);
    const TDecodedCapture decoded = DecodeWaveform(capture.Wave);

    ExpectFrames(decoded.Frames, capture.Expected, ToleranceOf(link));
    EXPECT_EQ(decoded.Counters.Glitches, capture.Glitches);
    EXPECT_EQ(decoded.Counters.Frames, static_cast<std::uint64_t>(c.Frames));
    EXPECT_EQ(decoded.Counters.Cut, 0U);
    if (c.GlitchRate > 0) {
        EXPECT_GT(capture.Glitches, 0U); // the case tests what it says
    }

    // The recovered bits decode with the layout, CRC good, count as sent.
    const TFrameLayout layout(c.Layout);
    const int valueBits = c.Layout.MultiTurnBits + c.Layout.PositionBits;
    const std::uint64_t mask = valueBits == 64 ? ~0ULL : (1ULL << valueBits) - 1;
    for (std::size_t i = 0; i < decoded.Frames.size() && i < counts.size(); ++i) {
        const TFrameFields fields = DecodeFrameBits(layout, decoded.Frames[i].Bits);
        EXPECT_EQ(fields.Outcome, TDecodeOutcome::doDecoded) << "frame " << i;
        EXPECT_TRUE(fields.CrcOk) << "frame " << i;
        EXPECT_EQ(fields.Count, counts[i] & mask) << "frame " << i;
        EXPECT_EQ(fields.AckLength, 3 + static_cast<int>(i) % 4) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, BurstRoundTrip,
    testing::Values(
        TRoundTrip{"Window1MHz", WindowLayout(), 64, 1e6, 0.0, 0.0, 0.0, 0, 40},
        TRoundTrip{"WindowFractionDelay", WindowLayout(), 64, 2.5e6, 0.3, 0.0, 0.0, 0, 40},
        TRoundTrip{"DelayAlmostHalf", WindowLayout(), 64, 1e6, 0.45, 0.0, 0.0, 0, 20},
        TRoundTrip{"DelayOnePeriod", WindowLayout(), 64, 1e6, 1.0, 0.0, 0.0, 0, 20},
        TRoundTrip{"DelaySeveralPeriods", WindowLayout(), 64, 4e6, 3.7, 0.0, 0.0, 0, 40},
        TRoundTrip{"DelayElevenPeriods", WindowLayout(), 64, 1e6, 11.2, 0.0, 0.0, 0, 20},
        // The next burst starts before the last sample point of the one before.
        TRoundTrip{"DelayLongerThanIdle", WindowLayout(), 64, 1e6, 8.8, 0.0, 0.0, 0, 20, 8, 0.5},
        TRoundTrip{"Jitter10MHz", WindowLayout(), 64, 10e6, 1.5, 0.06, 0.0, 0, 60},
        TRoundTrip{"Glitches", WindowLayout(), 64, 1e6, 0.7, 0.0, 0.08, 0, 60},
        TRoundTrip{"GlitchesAndJitter", MultiTurnLayout(), 53, 5e6, 2.2, 0.04, 0.05, 0, 60},
        TRoundTrip{"MultiTurnOddLength", MultiTurnLayout(), 55, 3e6, 0.2, 0.0, 0.0, 0, 30},
        TRoundTrip{"Crc16Long", Crc16Layout(), 256, 1e6, 2.0, 0.02, 0.0, 0, 10},
        TRoundTrip{"Sampled8PerPeriod", WindowLayout(), 64, 1e6, 1.25, 0.0, 0.0, 8, 30},
        TRoundTrip{"Sampled4PerPeriod", WindowLayout(), 64, 2e6, 0.0, 0.0, 0.0, 4, 30},
        TRoundTrip{"SampledOddRateGlitches", MultiTurnLayout(), 53, 1.5e6, 0.6, 0.0, 0.05, 13.3, 40}),
    [](const testing::TestParamInfo<TRoundTrip>& info) { return std::string(info.param.Name); });

// Frames of bit lists of any length, and the same capture read in pieces of every size.
TEST(BurstDecoder, BitListsOfAnyLengthInAnyChunking) {
    std::vector<TModelFrame> script;
    for (const int length : {2, 3, 5, 17, 64, 100, 255, 256}) {
        TModelFrame frame;
        frame.Bits = {true, true};
        for (int i = 2; i < length; ++i) {
            frame.Bits.push_back(i == 2 ? false : ((i * 7919) % 5) < 2);
        }
        frame.Cdm = length % 2 == 1;
        script.push_back(frame);
    }
    TLinkParams link;
    link.ClockHz = 2e6;
    link.LineDelay = 0.2e-6;
    const TModelCapture capture = RunLink(link, script);
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{4096}}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        const TDecodedCapture decoded = DecodeWaveform(capture.Wave, {}, chunk);
        ExpectFrames(decoded.Frames, capture.Expected, ToleranceOf(link));
    }
}

// ---- Cuts at both ends, too long bursts, gaps ----

struct TCutCase {
    const char* Name;
    double StartPeriods; // the capture window in clock periods of the model's time
    double EndPeriods;   // < 0: to the end
    int WantComplete;
    int WantCut;
};

void PrintTo(const TCutCase& c, std::ostream* out) { *out << c.Name; }

class BurstCut : public testing::TestWithParam<TCutCase> {};

// Four 64-clock frames at 1 MHz (times in periods), 20 periods of idle before each, the second
// with CDM: f0 at 20, 103.5, 191.5, 275; last rising edges 63.5 later; the second's CDM hold
// from 167.5 to 171.5; the capture's end at 358.5.
TEST_P(BurstCut, CapturesCutInsideFrames) {
    const TCutCase& c = GetParam();
    std::vector<TModelFrame> script;
    std::mt19937_64 random(5);
    for (int i = 0; i < 4; ++i) {
        script.push_back(ScriptFrame(BissFrame(WindowLayout(), random(), 64).Received, i == 1));
    }
    TLinkParams link;
    link.ClockHz = 1e6;
    link.LineDelay = 0.4e-6;
    link.IdleTime = 20e-6;
    link.CaptureStart = c.StartPeriods * 1e-6;
    if (c.EndPeriods >= 0) {
        link.CaptureEnd = c.EndPeriods * 1e-6;
    }
    const TModelCapture capture = RunLink(link, script);
    int complete = 0;
    int cut = 0;
    for (const TSignalFrame& frame : capture.Expected) {
        complete += frame.Outcome == TSignalOutcome::soComplete;
        cut += frame.Outcome == TSignalOutcome::soCut;
    }
    // The model's reading of the window is what the case is about.
    ASSERT_EQ(complete, c.WantComplete);
    ASSERT_EQ(cut, c.WantCut);
    const TDecodedCapture decoded = DecodeWaveform(capture.Wave);
    ExpectFrames(decoded.Frames, capture.Expected, ToleranceOf(link));
    EXPECT_EQ(decoded.Counters.Cut, static_cast<std::uint64_t>(c.WantCut));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, BurstCut,
    testing::Values(TCutCase{"Whole", 0, -1, 4, 0},
                    TCutCase{"StartsInLowPhase", 30.25, -1, 3, 1},
                    TCutCase{"StartsInHighPhase", 30.75, -1, 3, 1},
                    TCutCase{"StartsInFirstLowPhase", 20.2, -1, 3, 1},
                    TCutCase{"StartsInCdmHold", 169.5, -1, 2, 1},
                    TCutCase{"StartsJustBeforeFrame", 19.5, -1, 3, 1},
                    TCutCase{"StartsInIdle", 90, -1, 3, 0},
                    TCutCase{"EndsInClocks", 0, 60, 0, 1},
                    TCutCase{"EndsJustAfterLastClock", 0, 20 + 63.5 + 0.6, 0, 1},
                    TCutCase{"EndsInCdmHold", 0, 168.2, 1, 1},
                    TCutCase{"EndsLateInCdmHold", 0, 169.5, 2, 0},
                    TCutCase{"EndsInIdle", 0, 182, 2, 0},
                    TCutCase{"CutAtBothEnds", 50.2, 220, 1, 2}),
    [](const testing::TestParamInfo<TCutCase>& info) { return std::string(info.param.Name); });

TEST(BurstDecoder, TooLongBurstIsInvalidAndTheNextDecodes) {
    std::vector<TModelFrame> script;
    TModelFrame longFrame;
    longFrame.Bits.assign(300, false);
    longFrame.Bits[0] = longFrame.Bits[1] = true;
    script.push_back(longFrame);
    script.push_back(ScriptFrame(BissFrame(WindowLayout(), 12345, 64).Received));
    TModelFrame veryLong = longFrame;
    veryLong.Bits.assign(1500, true); // beyond the held changes
    script.push_back(veryLong);
    script.push_back(ScriptFrame(BissFrame(WindowLayout(), 678, 64).Received, true));
    TLinkParams link;
    const TModelCapture capture = RunLink(link, script);
    ASSERT_EQ(capture.Expected.size(), 4U);
    EXPECT_EQ(capture.Expected[0].Outcome, TSignalOutcome::soInvalid);
    const TDecodedCapture decoded = DecodeWaveform(capture.Wave);
    ExpectFrames(decoded.Frames, capture.Expected, ToleranceOf(link));
    EXPECT_EQ(decoded.Counters.Invalid, 2U);
}

TEST(BurstDecoder, GapsCutTheBurstsTheySpan) {
    std::vector<TModelFrame> script;
    std::mt19937_64 random(9);
    for (int i = 0; i < 5; ++i) {
        script.push_back(ScriptFrame(BissFrame(WindowLayout(), random(), 64).Received));
    }
    TLinkParams link;
    link.ClockHz = 1e6;
    link.IdleTime = 20e-6;
    link.LineDelay = 6e-6; // frame k's last sample point is 6 periods after its last clock
    const TModelCapture capture = RunLink(link, script);
    // Frame k: f0 = 20 + 83.5k us, last rising edge 63.5 us later, last sample point 6.5 us
    // after that.
    const std::vector<std::pair<double, double>> gaps = {
        {50.1e-6, 51.7e-6},  // inside frame 0's clocks, MA high at the gap's end
        {175e-6, 180e-6},    // in the idle after frame 1 has settled
        {252.5e-6, 260e-6},  // after frame 2's burst has ended, before its last sample point
        {300.2e-6, 300.7e-6}, // inside frame 3's clocks, MA low at the gap's end
    };
    const TDecodedCapture decoded = DecodeWaveform(capture.Wave, gaps);
    std::vector<TSignalFrame> want = capture.Expected;
    ASSERT_EQ(want.size(), 5U);
    for (const int k : {0, 2, 3}) {
        want[static_cast<std::size_t>(k)].Outcome = TSignalOutcome::soCut;
    }
    // A gap ending with MA low inside a burst starts a cut burst of its own.
    TSignalFrame tail;
    tail.Outcome = TSignalOutcome::soCut;
    tail.Time = -1;
    want.insert(want.begin() + 4, tail);
    // ... and so does the rest of frame 0 after its gap: MA high at the gap's end, but only
    // for part of a clock period before it falls.
    want.insert(want.begin() + 1, tail);
    for (std::size_t i = 0; i < want.size(); ++i) {
        want[i].Burst = i + 1;
    }
    ExpectFrames(decoded.Frames, want, ToleranceOf(link));
}

// ---- Glitches where the clock says least, slaves that do not answer ----

TEST(BurstDecoder, GlitchesInFirstPhaseIdleAndCdmHold) {
    TLinkParams link;
    link.ClockHz = 1e6;
    link.IdleGlitches = 2;
    link.IdleTime = 20e-6;
    std::vector<TModelFrame> script;
    for (int i = 0; i < 3; ++i) {
        script.push_back(ScriptFrame(BissFrame(WindowLayout(), 1000U + static_cast<unsigned>(i), 64).Received, true));
    }
    TModelCapture capture = RunLink(link, script);
    // Glitches added by hand: one in the first low phase of frame 0 (f0 at 20 us, first rising
    // edge at 20.5 us), and four in frame 1's CDM hold (from 172 to 176 us) that split it into
    // lows shorter than a clock period each: only the cleaned burst shows CDM.
    auto addPulse = [&](double from, double to) {
        std::vector<double>& ma = capture.Wave.Toggles[0];
        ma.push_back(from);
        ma.push_back(to);
        std::sort(ma.begin(), ma.end());
    };
    addPulse(20.2e-6, 20.23e-6);
    const double hold = 172e-6;
    addPulse(hold + 0.9e-6, hold + 0.95e-6);
    addPulse(hold + 1.8e-6, hold + 1.83e-6);
    addPulse(hold + 2.7e-6, hold + 2.72e-6);
    addPulse(hold + 3.5e-6, hold + 3.54e-6);
    const TDecodedCapture decoded = DecodeWaveform(capture.Wave);
    ExpectFrames(decoded.Frames, capture.Expected, ToleranceOf(link));
    EXPECT_EQ(decoded.Counters.Glitches, capture.Glitches + 5);
    EXPECT_EQ(capture.Glitches, 6U);
}

// A pulse shorter than a quarter of the median half-period is a glitch; a longer one is a
// clock, even a short one.
TEST(BurstDecoder, GlitchThresholdIsAQuarterOfTheHalfPeriod) {
    struct TCase {
        double WidthPeriods;
        std::uint64_t Glitches;
        std::int32_t Clocks;
    };
    for (const TCase& c : {TCase{0.115, 1, 64}, TCase{0.135, 0, 65}}) {
        SCOPED_TRACE("width " + std::to_string(c.WidthPeriods));
        TLinkParams link;
        link.ClockHz = 1e6;
        link.IdleTime = 20e-6;
        const TModelCapture capture = RunLink(link, {ScriptFrame(BissFrame(WindowLayout(), 4242, 64).Received)});
        TWaveform wave = capture.Wave;
        // A low pulse in the middle of the high phase after the 30th rising edge (20.5 + 30 us).
        const double middle = 50.75e-6;
        wave.Toggles[0].push_back(middle - c.WidthPeriods * 0.5e-6);
        wave.Toggles[0].push_back(middle + c.WidthPeriods * 0.5e-6);
        std::sort(wave.Toggles[0].begin(), wave.Toggles[0].end());
        const TDecodedCapture decoded = DecodeWaveform(wave);
        ASSERT_EQ(decoded.Frames.size(), 1U);
        EXPECT_EQ(decoded.Counters.Glitches, c.Glitches);
        EXPECT_EQ(decoded.Frames[0].Clocks, c.Clocks);
        if (c.Glitches == 1) {
            EXPECT_EQ(BitText(decoded.Frames[0].Bits), BitText(capture.Expected[0].Bits));
        }
    }
}

// Glitches in every phase of the first clocks, where the decoder knows least of the clock:
// the burst goes on to its end.
TEST(BurstDecoder, GlitchesInEveryPhaseOfTheFirstClocks) {
    TLinkParams link;
    link.ClockHz = 1e6;
    link.IdleTime = 20e-6;
    const TModelCapture capture = RunLink(link, {ScriptFrame(BissFrame(WindowLayout(), 31337, 64).Received, true),
                                                 ScriptFrame(BissFrame(WindowLayout(), 4711, 64).Received)});
    TWaveform wave = capture.Wave;
    // f0 at 20 us: phases of half a period from there; a 0.04 us pulse in the middle of each
    // of the first six.
    for (int phase = 0; phase < 6; ++phase) {
        const double middle = 20.25e-6 + phase * 0.5e-6;
        wave.Toggles[0].push_back(middle - 0.02e-6);
        wave.Toggles[0].push_back(middle + 0.02e-6);
    }
    std::sort(wave.Toggles[0].begin(), wave.Toggles[0].end());
    const TDecodedCapture decoded = DecodeWaveform(wave);
    ExpectFrames(decoded.Frames, capture.Expected, ToleranceOf(link));
    EXPECT_EQ(decoded.Counters.Glitches, 6U);
}

TEST(BurstDecoder, SilentSlaveReadsAllOnes) {
    TModelFrame silent;
    silent.Bits.assign(40, true);
    silent.Silent = true;
    TLinkParams link;
    link.LineDelay = 0.3e-6;
    const TModelCapture capture =
        RunLink(link, {silent, ScriptFrame(BissFrame(WindowLayout(), 77, 64).Received), silent});
    const TDecodedCapture decoded = DecodeWaveform(capture.Wave);
    ExpectFrames(decoded.Frames, capture.Expected, ToleranceOf(link));
    ASSERT_EQ(decoded.Frames.size(), 3U);
    EXPECT_EQ(DecodeFrameBits(TFrameLayout(), decoded.Frames[0].Bits).Outcome, TDecodeOutcome::doNoStartBit);
}

// A data line toggling far faster than the clock cannot be held: the frame is invalid, and
// the decoder recovers for the next one.
TEST(BurstDecoder, NoisyDataLineIsInvalidThenRecovers) {
    TLinkParams link;
    link.ClockHz = 1e6;
    link.IdleTime = 20e-6;
    TModelCapture capture = RunLink(link, {ScriptFrame(BissFrame(WindowLayout(), 1, 64).Received),
                                           ScriptFrame(BissFrame(WindowLayout(), 2, 64).Received)});
    std::vector<double>& slo = capture.Wave.Toggles[1];
    std::vector<double> noisy;
    for (const double t : slo) {
        if (t < 20e-6 || t > 90e-6) {
            noisy.push_back(t);
        }
    }
    std::vector<double> merged;
    for (int i = 0; i < 100000; ++i) {
        merged.push_back(25e-6 + i * 0.5e-9);
    }
    // Keep the level after the noise as it was: an even number of toggles.
    slo.clear();
    for (const double t : noisy) {
        if (t < 20e-6) {
            slo.push_back(t);
        }
    }
    slo.insert(slo.end(), merged.begin(), merged.end());
    for (const double t : noisy) {
        if (t > 90e-6) {
            slo.push_back(t);
        }
    }
    const TDecodedCapture decoded = DecodeWaveform(capture.Wave);
    ASSERT_EQ(decoded.Frames.size(), 2U);
    EXPECT_EQ(decoded.Frames[0].Outcome, TSignalOutcome::soInvalid);
    EXPECT_EQ(decoded.Frames[0].Bits.Length, 0);
    EXPECT_EQ(decoded.Frames[1].Outcome, TSignalOutcome::soComplete);
    EXPECT_EQ(BitText(decoded.Frames[1].Bits), BitText(capture.Expected[1].Bits));
}

TEST(BurstDecoder, UndersampledCaptureStops) {
    // The rates as the message names them: 4 significant digits, the unit chosen after the
    // rounding, so that a clock measured a hair off a round rate reads as that rate.
    struct TCase {
        double ClockHz;
        double SampleRate;
        const char* Rate;
        const char* Clock;
        const char* Needed;
    };
    const TCase cases[] = {
        {2e6, 6e6, "sample rate of 6 MHz", "2 MHz clock", "(8 MHz or more)"},     // 3 samples a period
        {1e6, 2e6, "sample rate of 2 MHz", "1 MHz clock", "(4 MHz or more)"},     // 2 samples a period
        {1e6, 3e6, "sample rate of 3 MHz", "1 MHz clock", "(4 MHz or more)"},
        {250e3, 500e3, "sample rate of 500 kHz", "250 kHz clock", "(1 MHz or more)"},
        {1e3, 2e3, "sample rate of 2 kHz", "1 kHz clock", "(4 kHz or more)"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Clock);
        TLinkParams link;
        link.ClockHz = c.ClockHz;
        link.SampleRate = c.SampleRate;
        const TModelCapture capture = RunLink(link, {ScriptFrame(BissFrame(WindowLayout(), 1, 64).Received)});
        try {
            DecodeWaveform(capture.Wave);
            ADD_FAILURE() << "no error";
        } catch (const TInputError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.Rate), std::string::npos) << message;
            EXPECT_NE(message.find(c.Clock), std::string::npos) << message;
            EXPECT_NE(message.find(c.Needed), std::string::npos) << message;
        }
    }
}

TEST(BurstDecoder, ChosenChannelsAmongOthers) {
    TLinkParams link;
    link.ExtraChannels = {"D2", "D3"};
    link.LineDelay = 1.5e-6;
    const TModelCapture capture = RunLink(link, {ScriptFrame(BissFrame(MultiTurnLayout(), 99, 55).Received)});
    // The same capture with the channels in another order.
    TWaveform shuffled;
    for (const std::size_t i : {std::size_t{2}, std::size_t{1}, std::size_t{3}, std::size_t{0}}) {
        shuffled.Names.push_back(capture.Wave.Names[i]);
        shuffled.Initial.push_back(capture.Wave.Initial[i]);
        shuffled.Toggles.push_back(capture.Wave.Toggles[i]);
    }
    shuffled.End = capture.Wave.End;
    const TChannelChoice choice = ChooseChannels(shuffled.Names, "", "");
    EXPECT_EQ(choice.Clock, 3U);
    EXPECT_EQ(choice.Data, 1U);
    const TDecodedCapture decoded = DecodeWaveform(shuffled, {}, 4096, choice.Clock, choice.Data);
    ExpectFrames(decoded.Frames, capture.Expected, ToleranceOf(link));
}

// ---- The channel chooser ----

struct TChooserCase {
    std::vector<std::string> Names;
    const char* Clock;
    const char* Data;
    int WantClock; // -1: an error whose message holds Error
    int WantData;
    const char* Error;
};

// The channels' names and the options, as a user would give them.
void PrintTo(const TChooserCase& c, std::ostream* out) {
    *out << (c.Names.empty() ? "no channels" : "channels");
    for (const std::string& name : c.Names) {
        *out << " '" << name << "'";
    }
    if (*c.Clock != '\0') {
        *out << " --clock " << c.Clock;
    }
    if (*c.Data != '\0') {
        *out << " --data " << c.Data;
    }
}

class ChannelChooser : public testing::TestWithParam<TChooserCase> {};

TEST_P(ChannelChooser, PicksOrExplains) {
    const TChooserCase& c = GetParam();
    if (c.WantClock < 0) {
        try {
            ChooseChannels(c.Names, c.Clock, c.Data);
            FAIL() << "no error";
        } catch (const TChannelError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.Error), std::string::npos) << message;
            for (const std::string& name : c.Names) {
                EXPECT_NE(message.find("\"" + name + "\""), std::string::npos) << message;
            }
        }
        return;
    }
    const TChannelChoice choice = ChooseChannels(c.Names, c.Clock, c.Data);
    EXPECT_EQ(choice.Clock, static_cast<std::size_t>(c.WantClock));
    EXPECT_EQ(choice.Data, static_cast<std::size_t>(c.WantData));
}

INSTANTIATE_TEST_SUITE_P(
    Names, ChannelChooser,
    testing::Values(TChooserCase{{"MA", "SLO"}, "", "", 0, 1, ""},
                    TChooserCase{{"slo", " ma "}, "", "", 1, 0, ""},
                    TChooserCase{{"SCLK", "CLK", "MISO", "Data"}, "", "", 1, 3, ""},
                    TChooserCase{{"D0", "D1", "Sck", "SDO"}, "", "", 2, 3, ""},
                    TChooserCase{{"Clock", "SL", "SLO"}, "", "", 0, 2, ""},
                    TChooserCase{{"D0", "D1", "D2"}, "2", "0", 2, 0, ""},
                    TChooserCase{{"D0", "D1", "D2"}, "d1", "D2", 1, 2, ""},
                    TChooserCase{{"1", "0"}, "0", "1", 1, 0, ""},       // a name before an index
                    TChooserCase{{"MA", "X"}, "", "1", 0, 1, ""},
                    TChooserCase{{"D0", "D1"}, "", "", -1, -1, "MA, CLK, CLOCK, SCK, SCLK"},
                    TChooserCase{{"MA", "D1"}, "", "", -1, -1, "SLO, SL, DATA, MISO, SDO"},
                    TChooserCase{{"D0", "D1"}, "7", "0", -1, -1, "no channel \"7\" for --clock"},
                    TChooserCase{{"D0", "D1"}, "0", "clk", -1, -1, "no channel \"clk\" for --data"},
                    TChooserCase{{"MA", "SLO"}, "", "ma", -1, -1, "same channel"},
                    TChooserCase{{}, "", "", -1, -1, "no channels"}));

} // namespace
