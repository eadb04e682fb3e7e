// Signal captures through the registry of formats, as corvane-decode opens them: the master/
// slave model's waveform written in each format, opened with OpenCaptureReader (recognised and
// named), and the frames compared with what the model sent: bits, burst numbers, cut bursts,
// time, clock, line delay and CDM. Also sigrok-cli's conversions, the sample captures of
// tests/data/captures, the choice of channels and the recognition of every sample.
#include "capture/capture.h"
#include "logicwriters.h"
#include "signalsamples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

// ckBits text (hexadecimal, bit 0 the top bit of the first digit) as frame bits of `bitCount`
// bits.
TFrameBits FrameBitsOfText(std::string_view text, std::uint16_t bitCount) {
    TFrameBits bits;
    for (std::size_t k = 0; k < text.size() && k < 64; ++k) {
        const char c = text[k];
        const unsigned digit = c >= '0' && c <= '9' ? unsigned(c - '0')
                               : c >= 'A' && c <= 'F' ? unsigned(c - 'A' + 10)
                                                      : unsigned(c - 'a' + 10);
        bits.Words[k / 16] |= std::uint64_t{digit} << (60 - 4 * (k % 16));
    }
    bits.Length = bitCount;
    return bits;
}

std::string BitString(const TFrameBits& bits) {
    std::string text;
    for (std::int32_t i = 0; i < bits.Length; ++i) {
        text.push_back(bits.Bit(i) ? '1' : '0');
    }
    return text;
}

struct TReadSignalFrame {
    std::uint64_t Burst = 0;
    TCaptureKind Kind = TCaptureKind::ckBits;
    TFrameBits Bits;
    std::string Text;
    TFrameTiming Timing;
};

struct TReadSignal {
    std::string Format;
    std::vector<TReadSignalFrame> Frames;
    TSignalStats Stats;
    bool Failed = false; // a TInputError ended the reading
    std::string Message;
    std::uint64_t Line = 0;
};

std::string ReadFileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TReaderOptions SignalOptions(const fs::path& path, std::string format, std::string clock = "", std::string data = "") {
    TReaderOptions options;
    options.Format = std::move(format);
    options.Path = path.string();
    options.ClockChannel = std::move(clock);
    options.DataChannel = std::move(data);
    return options;
}

// Opens `options.Path` through the registry as corvane-decode does (its bytes as the source, a
// folder none) and reads every frame in batches of `maxFrames`, checking the batch contract:
// the frames of every batch that came back, then the TInputError of a later call, if any.
TReadSignal ReadThroughRegistry(const TReaderOptions& options, std::size_t maxFrames = 7) {
    std::error_code error;
    const std::string bytes = fs::is_directory(options.Path, error) ? std::string() : ReadFileBytes(options.Path);
    TMemoryByteSource source(bytes, 4096);
    TReadSignal read;
    try {
        const std::unique_ptr<TCaptureReader> reader = OpenCaptureReader(source, options);
        read.Format = std::string(reader->Format());
        EXPECT_EQ(reader->SourceSeparator(), '#');
        TCaptureBatch batch;
        for (;;) {
            batch.Clear();
            const bool more = reader->ReadBatch(batch, maxFrames);
            EXPECT_EQ(more, !batch.Frames.empty());
            EXPECT_LE(batch.Frames.size(), maxFrames);
            EXPECT_EQ(batch.Timing.size(), batch.Frames.size());
            for (std::size_t i = 0; i < batch.Frames.size() && i < batch.Timing.size(); ++i) {
                const TCaptureFrame& frame = batch.Frames[i];
                TReadSignalFrame got;
                got.Burst = frame.Line;
                got.Kind = frame.Kind;
                got.Text = std::string(batch.Input(frame));
                got.Timing = batch.Timing[i];
                if (frame.Kind == TCaptureKind::ckBits) {
                    EXPECT_EQ(got.Text.size(), (std::size_t{frame.BitCount} + 3) / 4) << "burst " << frame.Line;
                    got.Bits = FrameBitsOfText(got.Text, frame.BitCount);
                }
                read.Frames.push_back(got);
            }
            if (!more) {
                break;
            }
        }
        const TSignalStats* stats = reader->SignalStats();
        EXPECT_NE(stats, nullptr);
        if (stats != nullptr) {
            read.Stats = *stats;
        }
    } catch (const TInputError& fault) {
        read.Failed = true;
        read.Message = fault.what();
        read.Line = fault.Line();
    }
    return read;
}

struct TTolerance {
    double Time = 1e-12;
    double Delay = 1e-12;
    double ClockShare = 1e-9;
};

// What sampling and jitter allow; text formats write times to the nanosecond.
TTolerance ToleranceOf(const TLinkParams& link) {
    const double sample = link.SampleRate > 0 ? 1 / link.SampleRate : 0.0;
    const double written = 1e-9;
    TTolerance tolerance;
    tolerance.Time = link.Jitter + sample + written;
    tolerance.Delay = 2 * link.Jitter + 2 * sample + 2 * written;
    tolerance.ClockShare = (2 * link.Jitter + 2 * sample + 2 * written) * link.ClockHz + 1e-9;
    return tolerance;
}

const char* KindName(TCaptureKind kind) {
    switch (kind) {
    case TCaptureKind::ckBits:
        return "bits";
    case TCaptureKind::ckCut:
        return "cut";
    case TCaptureKind::ckInvalid:
        return "invalid";
    default:
        return "other";
    }
}

TCaptureKind KindOf(TSignalOutcome outcome) {
    return outcome == TSignalOutcome::soComplete ? TCaptureKind::ckBits
           : outcome == TSignalOutcome::soCut    ? TCaptureKind::ckCut
                                                 : TCaptureKind::ckInvalid;
}

void ExpectModelFrames(const TReadSignal& read, const TModelCapture& model, const TTolerance& tolerance) {
    EXPECT_FALSE(read.Failed) << read.Message;
    std::string both;
    for (const TReadSignalFrame& frame : read.Frames) {
        both += " " + std::to_string(frame.Burst) + ":" + KindName(frame.Kind) + "@" + std::to_string(frame.Timing.Time);
    }
    both += "\n  expected";
    for (const TSignalFrame& frame : model.Expected) {
        both += " " + std::to_string(frame.Burst) + ":" + KindName(KindOf(frame.Outcome)) + "@" + std::to_string(frame.Time);
    }
    ASSERT_EQ(read.Frames.size(), model.Expected.size()) << "read" << both;
    for (std::size_t i = 0; i < read.Frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const TReadSignalFrame& g = read.Frames[i];
        const TSignalFrame& w = model.Expected[i];
        EXPECT_EQ(g.Burst, w.Burst);
        EXPECT_STREQ(KindName(g.Kind), KindName(KindOf(w.Outcome)));
        if (w.Time >= 0) {
            EXPECT_NEAR(g.Timing.Time, w.Time, tolerance.Time);
        }
        if (w.Outcome != TSignalOutcome::soComplete) {
            continue;
        }
        EXPECT_EQ(BitString(g.Bits), BitString(w.Bits));
        EXPECT_EQ(int(g.Timing.Cdm), int(w.Cdm));
        EXPECT_NEAR(g.Timing.ClockHz, w.ClockHz, w.ClockHz * tolerance.ClockShare);
        EXPECT_NEAR(g.Timing.LineDelay, w.LineDelay, tolerance.Delay);
    }
    EXPECT_EQ(read.Stats.Glitches, model.Glitches);
    const auto cut = static_cast<std::uint64_t>(std::count_if(model.Expected.begin(), model.Expected.end(), [](const TSignalFrame& f) {
        return f.Outcome == TSignalOutcome::soCut;
    }));
    EXPECT_EQ(read.Stats.Cut, cut);
    EXPECT_NEAR(read.Stats.Duration, model.Wave.End, tolerance.Time);
}

fs::path TempDir(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() /
                         ("corvane-signalcaptures-" + name + "-" + std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void WriteText(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The signal formats as files: the name the registry knows, the path written, and whether the
// path given is a folder or one channel file of the binary export.
enum TSignalFile { sfCsv, sfBinaryFolder, sfBinaryFile, sfSession, sfVcd, sfCount };

struct TWritten {
    std::string Format;
    fs::path Path;
    bool ChannelsByIndex = false; // the binary export names its channels digital_N
};

TWritten WriteCapture(TSignalFile kind, const TWaveform& wave, const fs::path& dir) {
    switch (kind) {
    case sfCsv:
        WriteText(dir / "x.csv", WriteSaleaeDigitalCsv(wave));
        return {"saleae-digital", dir / "x.csv"};
    case sfBinaryFolder:
        WriteSaleaeBinaryFolder(wave, dir / "export", 1, 3);
        return {"saleae-binary", dir / "export", true};
    case sfBinaryFile:
        WriteSaleaeBinaryFolder(wave, dir / "export0", 0);
        return {"saleae-binary", dir / "export0" / "digital_1.bin", true};
    case sfSession:
        WriteSigrokSession(wave, dir / "x.sr", 1, 40000);
        return {"sigrok-session", dir / "x.sr"};
    default:
        WriteText(dir / "x.vcd", WriteVcd(wave));
        return {"vcd", dir / "x.vcd"};
    }
}

// ---- Round trips: model -> writer -> file -> registry -> frames ----

TFrameLayoutParams MultiTurnLayout() {
    TFrameLayoutParams layout;
    layout.MultiTurnBits = 12;
    layout.PositionBits = 24;
    return layout;
}

TFrameLayoutParams Crc16Layout() {
    TFrameLayoutParams layout;
    layout.PositionBits = 32;
    layout.StatusBits = 1;
    layout.CrcPolynomial = 0x190D9;
    layout.CrcInverted = false;
    return layout;
}

struct TRoundTrip {
    const char* Name;
    TFrameLayoutParams Layout;
    int Clocks;
    double ClockHz;
    double DelayPeriods;
    double JitterPeriods;
    double GlitchRate;
    double SamplesPerPeriod; // 0: exact times (no sigrok session then)
    int Frames;
    bool CutEnds = true;     // the capture starts and ends inside a burst
};

void PrintTo(const TRoundTrip& c, std::ostream* out) { *out << c.Name; }

class SignalCaptureRoundTrip : public testing::TestWithParam<TRoundTrip> {};

TEST_P(SignalCaptureRoundTrip, EveryFormatGivesTheModelsFrames) {
    const TRoundTrip& c = GetParam();
    TLinkParams link = LinkInPeriods(c.ClockHz, c.DelayPeriods, c.JitterPeriods, c.GlitchRate, c.SamplesPerPeriod, 20);
    const double period = 1 / c.ClockHz;
    link.Seed = static_cast<std::uint32_t>(c.Clocks * 31 + c.Frames);

    std::mt19937_64 random(static_cast<std::uint64_t>(c.Frames) * 977);
    std::vector<TModelFrame> script;
    for (int i = 0; i < c.Frames; ++i) {
        TFrameContent content;
        content.AckLength = 3 + i % 5; // s1 still idle, the ACK from s2 on
        content.AckOnes = 1;
        content.Cds = i % 2 == 1;
        content.Count = random();
        content.Status = static_cast<std::uint8_t>(i % 4);
        content.TotalBits = c.Clocks;
        TModelFrame frame = ScriptFrame(BuildFrame(c.Layout, content).Received, i % 3 == 1);
        script.push_back(frame);
    }
    const TModelCapture model = c.CutEnds ? RunLinkCutAtBothEnds(link, script, 7.3 * period) : RunLink(link, script);
    ASSERT_GE(model.Expected.size(), 3U);
    if (c.CutEnds) {
        ASSERT_EQ(model.Expected.front().Outcome, TSignalOutcome::soCut);
        ASSERT_EQ(model.Expected.back().Outcome, TSignalOutcome::soCut);
    }
    if (c.GlitchRate > 0) {
        ASSERT_GT(model.Glitches, 0U); // the case tests what it says
    }

    const fs::path dir = TempDir(c.Name);
    for (int kind = 0; kind < sfCount; ++kind) {
        if (kind == sfSession && link.SampleRate <= 0) {
            continue;
        }
        const TWritten written = WriteCapture(static_cast<TSignalFile>(kind), model.Wave, dir);
        const std::string clock = written.ChannelsByIndex ? "0" : "";
        const std::string data = written.ChannelsByIndex ? "1" : "";
        for (const std::string& format : {std::string("auto"), written.Format}) {
            SCOPED_TRACE(written.Path.filename().string() + " as " + format);
            const TReadSignal read = ReadThroughRegistry(SignalOptions(written.Path, format, clock, data));
            EXPECT_EQ(read.Format, written.Format);
            ExpectModelFrames(read, model, ToleranceOf(link));
        }
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Links, SignalCaptureRoundTrip,
    testing::Values(
        TRoundTrip{"Window2500kHzAt25MHz", TFrameLayoutParams{}, 64, 2.5e6, 0.375, 0.02, 0.0, 10, 12},
        TRoundTrip{"NoDelayExactTimes", TFrameLayoutParams{}, 64, 1e6, 0.0, 0.0, 0.0, 0, 10, false},
        TRoundTrip{"DelayOnePeriod", TFrameLayoutParams{}, 64, 1e6, 1.0, 0.0, 0.0, 16, 10},
        TRoundTrip{"DelaySeveralPeriods", TFrameLayoutParams{}, 64, 4e6, 3.7, 0.01, 0.0, 12, 10},
        TRoundTrip{"GlitchesAndJitter", MultiTurnLayout(), 53, 5e6, 0.6, 0.02, 0.05, 20, 12},
        TRoundTrip{"FourSamplesAPeriod", TFrameLayoutParams{}, 64, 2e6, 0.0, 0.0, 0.0, 4, 10},
        TRoundTrip{"OddSampleRate", MultiTurnLayout(), 55, 1.5e6, 0.8, 0.0, 0.03, 13.3, 10},
        TRoundTrip{"Crc16Long", Crc16Layout(), 120, 10e6, 2.2, 0.01, 0.0, 10, 6}),
    [](const testing::TestParamInfo<TRoundTrip>& info) { return std::string(info.param.Name); });

// ---- sigrok-cli: its session made from our VCD, and its VCD made from that session ----

TEST(SignalCaptures, SigrokCliConversionsGiveTheModelsFrames) {
    if (std::system("sigrok-cli --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "sigrok-cli is not installed (Debian package sigrok-cli, which ./build.sh test "
                        "installs): the conversion check is skipped";
    }
    TLinkParams link;
    link.ClockHz = 2.5e6;
    link.SampleRate = 25e6;
    link.LineDelay = 150e-9;
    link.Jitter = 8e-9;
    link.IdleTime = 24e-6;
    std::vector<TModelFrame> script;
    for (int i = 0; i < 8; ++i) {
        TFrameContent content;
        content.AckLength = 4;
        content.AckOnes = 1;
        content.Count = 0x123456 + 1000 * static_cast<std::uint64_t>(i);
        script.push_back(ScriptFrame(BuildFrame(TFrameLayoutParams{}, content).Received, i % 2 == 0));
    }
    script[3].GlitchesAt = {10.75};
    const TModelCapture model = RunLinkCutAtBothEnds(link, script, 5e-6);
    ASSERT_EQ(model.Glitches, 1U);

    const fs::path dir = TempDir("sigrokcli");
    WriteText(dir / "x.vcd", WriteVcd(model.Wave));
    const std::string vcdIn = (dir / "x.vcd").string();
    const std::string sr = (dir / "x.sr").string();
    const std::string vcdOut = (dir / "y.vcd").string();
    ASSERT_EQ(std::system(("sigrok-cli -I vcd -i '" + vcdIn + "' -o '" + sr + "' 2>/dev/null").c_str()), 0);
    ASSERT_EQ(std::system(("sigrok-cli -i '" + sr + "' -O vcd -o '" + vcdOut + "' 2>/dev/null").c_str()), 0);

    // sigrok-cli samples the VCD at its timescale (10 ns): times stay on the model's grid.
    for (const std::string& path : {sr, vcdOut}) {
        for (const std::string format : {"auto", path == sr ? "sigrok-session" : "vcd"}) {
            SCOPED_TRACE(path + " as " + format);
            const TReadSignal read = ReadThroughRegistry(SignalOptions(path, format));
            EXPECT_EQ(read.Format, path == sr ? "sigrok-session" : "vcd");
            ExpectModelFrames(read, model, ToleranceOf(link));
        }
    }
    fs::remove_all(dir);
}

// ---- The sample captures: the frames of the link in tests/support/signalsamples.h ----

struct TSampleFile {
    const char* Path; // under tests/data/captures
    const char* Format;
    const char* Clock = "";
    const char* Data = "";
};

const TSampleFile SampleFiles[] = {
    {"signal-biss.csv", "saleae-digital"},
    {"signal-biss-binary", "saleae-binary", "0", "1"},
    {"signal-biss-binary/digital_0.bin", "saleae-binary", "0", "1"},
    {"signal-biss.sr", "sigrok-session"},
    {"signal-biss.vcd", "vcd"},
};

TEST(SignalCaptures, SampleFilesDecodeWithCrcOkButTheFlippedFrames) {
    const TSignalSample sample = BuildSignalSample();
    ASSERT_EQ(sample.Capture.Expected.size(), sample.Frames.size());
    ASSERT_EQ(sample.Capture.Glitches, 2U);
    const TFrameLayout layout; // the window's default
    for (const TSampleFile& file : SampleFiles) {
        for (const std::string format : {"auto", file.Format}) {
            SCOPED_TRACE(std::string(file.Path) + " as " + format);
            const TReadSignal read =
                ReadThroughRegistry(SignalOptions(fs::path(CAPTURE_DATA_DIR) / file.Path, format, file.Clock, file.Data));
            EXPECT_EQ(read.Format, file.Format);
            ExpectModelFrames(read, sample.Capture, ToleranceOf(sample.Link));
            ASSERT_EQ(read.Frames.size(), sample.Frames.size());
            EXPECT_EQ(read.Frames.front().Kind, TCaptureKind::ckCut);
            EXPECT_EQ(read.Frames.back().Kind, TCaptureKind::ckCut);
            int crcErrors = 0;
            for (std::size_t i = 1; i + 1 < read.Frames.size(); ++i) {
                SCOPED_TRACE("burst " + std::to_string(read.Frames[i].Burst));
                const TSignalSampleFrame& sent = sample.Frames[i];
                ASSERT_EQ(read.Frames[i].Kind, TCaptureKind::ckBits);
                const TFrameFields fields = DecodeFrameBits(layout, read.Frames[i].Bits);
                ASSERT_EQ(fields.Outcome, TDecodeOutcome::doDecoded);
                EXPECT_EQ(fields.AckLength, SignalSampleAckLength);
                EXPECT_EQ(fields.CrcOk, !sent.Flipped);
                crcErrors += fields.CrcOk ? 0 : 1;
                if (!sent.Flipped) {
                    EXPECT_EQ(fields.Position, sent.Position);
                }
                EXPECT_EQ(fields.StatusBits, sent.Status);
                EXPECT_EQ(read.Frames[i].Bits.Bit(SignalSampleAckLength + 1), sent.Cds);
                EXPECT_EQ(read.Frames[i].Timing.Cdm != 0, sent.Cdm);
                EXPECT_NEAR(read.Frames[i].Timing.ClockHz, 2.5e6, 2.5e6 * 0.02);
                EXPECT_NEAR(read.Frames[i].Timing.LineDelay, 150e-9, 60e-9);
            }
            EXPECT_EQ(crcErrors, 2);
        }
    }
}

// ---- Choosing the channels through TReaderOptions ----

// The model's waveform with its channels in a new order and with new names: `order[i]` is the
// model's channel (0 MA, 1 SLO, 2... the extra ones) that becomes channel i.
TWaveform Rearranged(const TWaveform& wave, const std::vector<std::size_t>& order, const std::vector<std::string>& names) {
    TWaveform out = wave;
    out.Names = names;
    out.Initial.clear();
    out.Toggles.clear();
    for (const std::size_t from : order) {
        out.Initial.push_back(wave.Initial[from]);
        out.Toggles.push_back(wave.Toggles[from]);
    }
    return out;
}

struct TChannelCase {
    const char* Name;
    std::vector<std::string> Names; // channel 0 ... 3: an extra, SLO, an extra, MA
    std::string Clock;
    std::string Data;
    bool Found = true;
    std::string MessagePart = ""; // found in the TInputError
};

void PrintTo(const TChannelCase& c, std::ostream* out) { *out << c.Name; }

class SignalCaptureChannels : public testing::TestWithParam<TChannelCase> {};

TEST_P(SignalCaptureChannels, ChosenByOptionOrNameOrExplained) {
    const TChannelCase& c = GetParam();
    TLinkParams link;
    link.ClockHz = 1e6;
    link.SampleRate = 10e6;
    link.ExtraChannels = {"x", "y"};
    std::vector<TModelFrame> script;
    for (int i = 0; i < 4; ++i) {
        TFrameContent content;
        content.AckLength = 3;
        content.AckOnes = 1;
        content.Count = 0x2345 * static_cast<std::uint64_t>(i + 1);
        script.push_back(ScriptFrame(BuildFrame(TFrameLayoutParams{}, content).Received));
    }
    const TModelCapture model = RunLink(link, script);
    const TWaveform wave = Rearranged(model.Wave, {2, 1, 3, 0}, c.Names);
    const fs::path dir = TempDir(c.Name);
    for (const TSignalFile kind : {sfCsv, sfSession, sfVcd, sfBinaryFolder}) {
        const TWritten written = WriteCapture(kind, wave, dir);
        if (written.ChannelsByIndex && c.Found && std::string_view(c.Name) != "ByIndex") {
            continue; // the binary export's channels are digital_N: chosen by index only
        }
        SCOPED_TRACE(written.Path.filename().string());
        const TReaderOptions options = SignalOptions(written.Path, "auto", c.Clock, c.Data);
        if (c.Found) {
            ExpectModelFrames(ReadThroughRegistry(options), model, ToleranceOf(link));
            continue;
        }
        const TReadSignal read = ReadThroughRegistry(options);
        ASSERT_TRUE(read.Failed);
        EXPECT_NE(read.Message.find(c.MessagePart), std::string::npos) << read.Message;
        // The message lists every channel with its index.
        const std::vector<std::string> names =
            written.ChannelsByIndex ? std::vector<std::string>{"digital_0", "digital_1", "digital_2", "digital_3"}
                                    : c.Names;
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_NE(read.Message.find(std::to_string(i) + " \"" + names[i] + "\""), std::string::npos)
                << read.Message;
        }
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, SignalCaptureChannels,
    testing::Values(
        TChannelCase{"ByIndex", {"D0", "D1", "D2", "D3"}, "3", "1"},
        TChannelCase{"ByName", {"trig", "EncData", "aux", "EncClock"}, "encclock", " ENCDATA "},
        TChannelCase{"UsualNames", {"CS", "MISO", "MOSI", "SCLK"}, "", ""},
        TChannelCase{"UsualNamesMaSlo", {"CLK_EN", "slo", "MA_OUT", "ma"}, "", ""},
        TChannelCase{"NameBeforeIndex", {"1", "0", "2", "3"}, "3", "0"},
        TChannelCase{"NoUsualName", {"D0", "D1", "D2", "D3"}, "", "", false, "--clock"},
        TChannelCase{"NoSuchName", {"D0", "D1", "D2", "D3"}, "MA", "1", false, "no channel \"MA\""},
        TChannelCase{"IndexOutOfRange", {"D0", "D1", "D2", "D3"}, "3", "4", false, "no channel \"4\""},
        TChannelCase{"SameChannel", {"D0", "D1", "D2", "D3"}, "2", "2", false, "same channel"}),
    [](const testing::TestParamInfo<TChannelCase>& info) { return std::string(info.param.Name); });

// ---- Bad input: the frames before the fault, then a TInputError saying where ----

// Each format spoilt in the middle of an idle phase: every frame before the fault comes out
// whole, then the error names where the input went wrong.
TEST(SignalCaptures, FaultKeepsTheFramesBeforeIt) {
    TLinkParams link;
    link.ClockHz = 2.5e6;
    link.SampleRate = 25e6;
    link.LineDelay = 150e-9;
    link.IdleTime = 24e-6;
    std::vector<TModelFrame> script;
    for (int i = 0; i < 12; ++i) {
        TFrameContent content;
        content.AckLength = 4;
        content.AckOnes = 1;
        content.Count = 0x1000 + 77 * static_cast<std::uint64_t>(i);
        script.push_back(ScriptFrame(BuildFrame(TFrameLayoutParams{}, content).Received, i % 4 == 3));
    }
    const TModelCapture model = RunLink(link, script);
    ASSERT_EQ(model.Expected.size(), 12U);
    // Between frames 9 and 10 (burst numbers): the middle of the idle before burst 10.
    const double fault = model.Expected[9].Time - link.IdleTime / 2;
    const std::size_t before = 9;

    const fs::path dir = TempDir("fault");
    struct TSpoilt {
        std::string Name;
        fs::path Path;
        std::string Where; // in the message
        bool Lines = false; // the error carries the line
    };
    std::vector<TSpoilt> spoilt;
    {
        // A row whose value is neither 0, 1 nor X.
        std::string csv = WriteSaleaeDigitalCsv(model.Wave);
        std::size_t at = csv.find('\n') + 1;
        while (at < csv.size() && std::stod(csv.substr(at, csv.find(',', at) - at)) < fault) {
            at = csv.find('\n', at) + 1;
        }
        csv.insert(at, "0.5,7,1\n");
        WriteText(dir / "bad.csv", csv);
        spoilt.push_back({"csv", dir / "bad.csv", "", true});
    }
    {
        // A change of an identifier the header never declared, among the changes of the first
        // time after the fault (the reader holds a time's changes until the next time shows
        // they are complete, so those before it are all known).
        std::string vcd = WriteVcd(model.Wave);
        std::size_t at = vcd.find("$end\n", vcd.find("$dumpvars")) + 5;
        const double scale = 10e-9; // the 25 MHz grid in the writer's coarsest whole unit
        ASSERT_NE(vcd.find("$timescale 10 ns"), std::string::npos);
        while (at < vcd.size() && std::stod(vcd.substr(at + 1, vcd.find_first_of(" \n", at) - at - 1)) * scale < fault) {
            at = vcd.find('\n', at) + 1;
        }
        vcd.insert(vcd.find('\n', at) + 1, "1~\n");
        WriteText(dir / "bad.vcd", vcd);
        spoilt.push_back({"vcd", dir / "bad.vcd", "", true});
    }
    {
        // The data line's file of a binary export cut inside the first transition after the
        // fault.
        WriteSaleaeBinaryFolder(model.Wave, dir / "export", 0);
        const auto& toggles = model.Wave.Toggles[1];
        const auto first = static_cast<std::size_t>(std::upper_bound(toggles.begin(), toggles.end(), fault) - toggles.begin());
        const std::string file = ReadFileBytes(dir / "export" / "digital_1.bin");
        const std::size_t header = 8 + 4 + 4 + 4 + 8 + 8 + 8;
        WriteText(dir / "export" / "digital_1.bin", file.substr(0, header + 8 * first + 3));
        spoilt.push_back({"binary", dir / "export", "digital_1.bin: byte", false});
    }
    for (const TSpoilt& input : spoilt) {
        SCOPED_TRACE(input.Name);
        const TReadSignal read = ReadThroughRegistry(SignalOptions(input.Path, "auto", "0", "1"));
        EXPECT_TRUE(read.Failed);
        EXPECT_NE(read.Message.find(input.Where), std::string::npos) << read.Message;
        if (input.Lines) {
            EXPECT_GT(read.Line, 1U) << read.Message;
        }
        ASSERT_EQ(read.Frames.size(), before);
        for (std::size_t i = 0; i < before; ++i) {
            SCOPED_TRACE("burst " + std::to_string(i + 1));
            EXPECT_EQ(read.Frames[i].Burst, i + 1);
            ASSERT_EQ(read.Frames[i].Kind, TCaptureKind::ckBits);
            EXPECT_EQ(BitString(read.Frames[i].Bits), BitString(model.Expected[i].Bits));
            EXPECT_EQ(int(read.Frames[i].Timing.Cdm), int(model.Expected[i].Cdm));
        }
    }
    fs::remove_all(dir);
}

// ---- Recognition of every sample file ----

TEST(SignalCaptures, SamplesAreRecognisedAsTheirFormatAndNoOtherSampleIsClaimed) {
    for (const TSampleFile& file : SampleFiles) {
        SCOPED_TRACE(file.Path);
        const fs::path path = fs::path(CAPTURE_DATA_DIR) / file.Path;
        const std::string bytes = fs::is_directory(path) ? std::string() : ReadFileBytes(path);
        TMemoryByteSource source(bytes);
        const auto reader = OpenCaptureReader(source, SignalOptions(path, "auto", file.Clock, file.Data));
        EXPECT_EQ(reader->Format(), file.Format);
    }
    std::vector<std::string> signalFormats;
    for (const TSampleFile& file : SampleFiles) {
        signalFormats.emplace_back(file.Format);
    }
    int others = 0;
    for (const auto& entry : fs::directory_iterator(CAPTURE_DATA_DIR)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || entry.path().extension() == ".md" || name.rfind("signal-", 0) == 0) {
            continue;
        }
        SCOPED_TRACE(name);
        ++others;
        const std::string bytes = ReadFileBytes(entry.path());
        TMemoryByteSource source(bytes);
        try {
            const auto reader = OpenCaptureReader(source, SignalOptions(entry.path(), "auto"));
            EXPECT_EQ(std::find(signalFormats.begin(), signalFormats.end(), std::string(reader->Format())),
                      signalFormats.end())
                << "claimed by " << reader->Format();
            EXPECT_EQ(reader->SignalStats(), nullptr);
        } catch (const TInputError&) {
            // Some samples need an option (--frame-bytes) before they can be read; no signal
            // format took them.
        }
    }
    EXPECT_GT(others, 20);
}

} // namespace
