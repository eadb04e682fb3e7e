// Register traffic through real capture files: a master's script of reads, writes, sequential
// accesses and commands to two slaves, carried by the CDM and CDS bits of position frames,
// written as a logic-analyzer capture in every signal format, read back by the capture library
// and decoded: the records equal the script, the register map equals the slaves'. Damage on
// the way (a flipped reply bit, a capture that starts or ends inside a control frame, a
// control frame aborted by 14 zeros) comes back reported as such. Also the taking of the
// control bits out of a batch, and the register sample captures.
#include "capture/control/controlframes.h"
#include "controltest.h"
#include "capture/control/registermap.h"
#include "controlwaveform.h"
#include "capture/signal/saleaebinary.h"

#include "tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace controlmodel;
using namespace controlwaveform;

// ---- Control bits out of a batch ----

// A batch as a signal reader builds it: frames with their text and timing.
struct TBatchBuilder {
    TCaptureBatch Batch;
    void Add(TCaptureKind kind, const std::string& text, std::uint16_t bitCount, std::uint8_t cdm) {
        TCaptureFrame frame;
        frame.Line = Batch.Frames.size() + 1;
        frame.Kind = kind;
        frame.InputOffset = static_cast<std::uint32_t>(Batch.Text.size());
        frame.InputSize = static_cast<std::uint32_t>(text.size());
        frame.BitCount = bitCount;
        Batch.Text += text;
        Batch.Frames.push_back(frame);
        TFrameTiming timing;
        timing.Time = 1e-3 * static_cast<double>(Batch.Frames.size());
        timing.Cdm = cdm;
        Batch.Timing.push_back(timing);
    }
};

TEST(ControlFrames, CdsIsTheBitAfterTheStartBitAndCdmComesFromTheTiming) {
    struct TCase {
        const char* What;
        TCaptureKind Kind;
        std::string Text;
        std::uint16_t Bits;
        std::uint8_t Cdm;
        int WantCdm;
        int WantCds;
    };
    // 1 1 0 | 1 c ... : s2 ends the ACK, s3 is the start bit, s4 the CDS bit.
    const TCase cases[] = {
        {"short frame, CDS 1", TCaptureKind::ckBits, "D8", 5, 1, 1, 1},          // 11011 000
        {"short frame, CDS 0", TCaptureKind::ckBits, "D0", 5, 0, 0, 0},          // 11010 000
        {"longer ACK", TCaptureKind::ckBits, "E3C", 12, 0, 0, 1},                // 1110 0011 1100
        {"ends on its start bit", TCaptureKind::ckBits, "D", 4, 1, 1, -1},       // 1101
        {"no start bit", TCaptureKind::ckBits, "FFF0", 16, 1, 1, -1},
        {"text shorter than its bits", TCaptureKind::ckBits, "D8", 12, 1, 1, -1},
        {"not hexadecimal", TCaptureKind::ckBits, "DX", 8, 1, 1, -1},
        // A 39-bit frame as the readers write it: 10 digits, left-aligned (read as the window
        // reads text, right-aligned in 64 bits, its start bit would move 24 bits on).
        {"39-bit frame", TCaptureKind::ckBits, "C9A0000000", 39, 1, 1, 0},       // 1100 1001 1010
        {"cut burst", TCaptureKind::ckCut, "", 0, 0, -1, -1},
        {"too many clocks", TCaptureKind::ckInvalid, "300 clocks", 0, 0, -1, -1},
    };
    TBatchBuilder builder;
    for (const TCase& c : cases) {
        builder.Add(c.Kind, c.Text, c.Bits, c.Cdm);
    }
    std::vector<TControlBits> out(1); // appended to, not replaced
    ASSERT_TRUE(AppendControlBits(builder.Batch, TFrameLayout(), 9, out));
    ASSERT_EQ(out.size(), std::size(cases) + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].What);
        const TControlBits& bits = out[i + 1];
        EXPECT_EQ(bits.Frame, i + 1);
        EXPECT_DOUBLE_EQ(bits.Time, builder.Batch.Timing[i].Time);
        EXPECT_EQ(bits.Source, 9U);
        EXPECT_EQ(int(bits.Cdm), cases[i].WantCdm);
        EXPECT_EQ(int(bits.Cds), cases[i].WantCds);
    }
}

TEST(ControlFrames, SignalFrameBitsAreLeftAlignedAndCutToTheirCount) {
    TBatchBuilder builder;
    builder.Add(TCaptureKind::ckBits, "C9A000000F", 37, 0); // the last digit's low 3 bits beyond 37
    builder.Add(TCaptureKind::ckBits, std::string(64, 'F'), 256, 0);
    builder.Add(TCaptureKind::ckBits, std::string(65, 'F'), 260, 0);
    TFrameBits bits;
    ASSERT_TRUE(SignalFrameBits(builder.Batch, builder.Batch.Frames[0], bits));
    EXPECT_EQ(bits.Length, 37);
    EXPECT_EQ(bits.Words[0], 0xC9A0000000ULL << 24 | (0x8ULL << 24));
    ASSERT_TRUE(SignalFrameBits(builder.Batch, builder.Batch.Frames[1], bits));
    EXPECT_EQ(bits.Length, 256);
    EXPECT_EQ(bits.Words[3], ~std::uint64_t{0});
    EXPECT_FALSE(SignalFrameBits(builder.Batch, builder.Batch.Frames[2], bits));
    // A frame whose text lies outside the batch's text is refused, not read.
    TCaptureFrame outside = builder.Batch.Frames[0];
    outside.InputOffset = static_cast<std::uint32_t>(builder.Batch.Text.size());
    EXPECT_FALSE(SignalFrameBits(builder.Batch, outside, bits));
}

TEST(ControlFrames, BatchWithoutTimingIsNoSignalCapture) {
    TBatchBuilder builder;
    builder.Add(TCaptureKind::ckBits, "D8", 5, 1);
    builder.Batch.Timing.clear();
    std::vector<TControlBits> out;
    EXPECT_FALSE(AppendControlBits(builder.Batch, TFrameLayout(), 0, out));
    EXPECT_TRUE(out.empty());
}

// ---- Round trips through the signal formats ----

constexpr TSignalFormat AllFormats[] = {TSignalFormat::sfSaleaeDigital, TSignalFormat::sfSaleaeBinary,
                                        TSignalFormat::sfSigrokSession, TSignalFormat::sfVcd};

fs::path TempFolder(const std::string& name) { return MakeTempDir("control-" + name); }

// Removes its folder when the test is done with it.
struct TFolder {
    explicit TFolder(const std::string& name) : Path(TempFolder(name)) {}
    ~TFolder() {
        std::error_code error;
        fs::remove_all(Path, error);
    }
    fs::path Path;
};

// Slaves 0 and 3 with known register contents; frames numbered from 1 as the bursts are.
TBus TwoSlaves(int lag, bool coversCts) {
    TBus bus;
    bus.MasterCrcCoversCts = coversCts;
    bus.FirstFrame = 1;
    for (const int id : {0, 3}) {
        TSlave& slave = bus.AddSlave(id, lag);
        for (int a = 0; a < 128; ++a) {
            slave.Registers[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(a * 11 + id * 29 + 3);
        }
    }
    return bus;
}

std::vector<TStep> MixedScript() {
    return {Read(0, 0x44, 4),                 // a serial number, sequentially
            Write(3, 0x10, {0xA5, 0x00}),     // sequential write
            Command(0x09, 2),                 // slaves 0 and 3
            Read(3, 0x10, 2),                 // the write read back
            Write(0, 0x7F, {0x12, 0x34}),     // the address wraps from 127 to 0
            Read(0, 0x00),
            Command(0x00, 1)};                // every slave
}

// A script's run as a capture written in `format` and read back.
struct TTrip {
    TModelCapture Model;
    TCaptureControl Read;
};

TTrip RoundTrip(const TRun& run, TSignalFormat format, const TFolder& folder, TLinkParams link = ControlLink()) {
    TTrip trip;
    trip.Model = RunLink(link, PositionFrames(run.Frames, TFrameLayoutParams{}, 77));
    const fs::path path = WriteCapture(trip.Model.Wave, format, folder.Path, "control");
    trip.Read = ReadCaptureControl(path, TFrameLayoutParams{}, 4, 100);
    EXPECT_EQ(trip.Read.Format, FormatName(format));
    return trip;
}

std::string CaseName(TSignalFormat format) {
    std::string name = FormatName(format);
    std::erase(name, '-');
    return name;
}

// Accesses `got` against the master's records `want` (frames shifted by `frameShift`), times
// against the model's frames (`frameTimes`, by burst).
void ExpectRecords(const std::vector<TRegisterAccess>& got, const std::vector<TExpected>& want,
                   std::int64_t frameShift, const std::vector<TSignalFrame>& frameTimes, int lag,
                   TCtsCoverage coverage) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("access " + std::to_string(i));
        const TRegisterAccess& g = got[i];
        const TExpected& w = want[i];
        const std::uint64_t burst = static_cast<std::uint64_t>(static_cast<std::int64_t>(w.Frame) + 1 + frameShift);
        EXPECT_EQ(g.Frame, burst);
        ASSERT_LE(burst, frameTimes.size());
        // Within a sample: the model moves an edge to the next sample time.
        EXPECT_NEAR(g.Time, frameTimes[burst - 1].Time, 1 / ControlLink().SampleRate + 1e-9);
        EXPECT_EQ(g.Source, 4U);
        ExpectAccessAsScripted(g, w, lag, coverage);
    }
}

struct TFormatLag {
    TSignalFormat Format;
    int Lag;
};

void PrintTo(const TFormatLag& p, std::ostream* out) {
    *out << FormatName(p.Format) << ", lag " << p.Lag;
}

class ControlCapture : public ::testing::TestWithParam<TFormatLag> {};

TEST_P(ControlCapture, RecordsEqualTheScriptAndTheMapEqualsTheSlaves) {
    const TFormatLag p = GetParam();
    const bool coversCts = p.Lag % 2 == 1;
    TBus bus = TwoSlaves(p.Lag, coversCts);
    const TRun run = bus.Run(MixedScript());
    const TFolder folder("trip");
    const TTrip trip = RoundTrip(run, p.Format, folder);

    // Every frame came through with its bits, and its position decodes.
    const std::vector<TControlBits>& bits = trip.Read.Bits;
    ASSERT_EQ(bits.size(), run.Frames.size());
    EXPECT_EQ(trip.Read.Cut, 0U);
    EXPECT_EQ(trip.Read.Decoded, run.Frames.size());
    for (std::size_t f = 0; f < bits.size(); ++f) {
        ASSERT_EQ(bits[f].Frame, f + 1);
        ASSERT_EQ(bits[f].Cdm, run.Frames[f].Cdm) << "frame " << f;
        ASSERT_EQ(bits[f].Cds, run.Frames[f].Cds) << "frame " << f;
    }

    ExpectRecords(trip.Read.Accesses, run.Expected, 0, trip.Model.Expected, p.Lag,
                  coversCts ? TCtsCoverage::ccCovered : TCtsCoverage::ccNotCovered);

    TRegisterMap map;
    for (const TRegisterAccess& a : trip.Read.Accesses) {
        map.Add(a);
    }
    int seen = 0;
    for (const TSlave& slave : bus.Slaves) {
        EXPECT_TRUE(map.SlaveSeen(slave.Id));
        for (int address = 0; address < 128; ++address) {
            const TRegisterEntry& e = map.Entry(slave.Id, address);
            if (e.Seen) {
                ++seen;
                ASSERT_TRUE(e.HasValue);
                EXPECT_EQ(e.Value, slave.Registers[static_cast<std::size_t>(address)])
                    << "slave " << slave.Id << " address " << address;
                EXPECT_EQ(e.CrcErrors, 0U);
            }
        }
    }
    // 0x44-0x47, 0x7F, 0x00 of slave 0; 0x10, 0x11 of slave 3.
    EXPECT_EQ(seen, 8);
    EXPECT_EQ(map.Entry(3, 0x10).Value, 0xA5);
    EXPECT_EQ(map.Entry(3, 0x11).Reads, 1U);
    EXPECT_EQ(map.Entry(3, 0x11).Writes, 1U);
    EXPECT_EQ(map.Entry(0, 0x00).Value, 0x34);
    EXPECT_FALSE(map.SlaveSeen(1));
}

std::vector<TFormatLag> FormatsAndLags() {
    std::vector<TFormatLag> cases;
    for (const TSignalFormat format : AllFormats) {
        for (int lag = 0; lag <= 3; ++lag) {
            cases.push_back({format, lag});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(FormatsAndLags, ControlCapture, ::testing::ValuesIn(FormatsAndLags()),
                         [](const ::testing::TestParamInfo<TFormatLag>& info) {
                             return CaseName(info.param.Format) + "_lag" + std::to_string(info.param.Lag);
                         });

// ---- Damage ----

class ControlCaptureFaults : public ::testing::TestWithParam<TSignalFormat> {};

TEST_P(ControlCaptureFaults, FlippedReplyBitFailsTheCrcAndIsStillReported) {
    TBus bus = TwoSlaves(2, false);
    // Slave 3's lag is learned from the first read; the second's reply is damaged.
    TRun run = bus.Run({Read(3, 0x20), Read(3, 0x21), Read(0, 0x22)});
    // Data bit D4 of the second read's reply: S, 2 frames of lag, then D7 first.
    const std::size_t flipped = run.Expected[1].Frame + 1 + 2 + 3;
    run.Frames[flipped].Cds = static_cast<std::int8_t>(1 - run.Frames[flipped].Cds);
    const TFolder folder("flip");
    const TTrip trip = RoundTrip(run, GetParam(), folder);
    const std::vector<TRegisterAccess>& got = trip.Read.Accesses;
    ASSERT_EQ(got.size(), 3U);
    EXPECT_TRUE(got[0].CrcOk && got[0].Complete);
    EXPECT_FALSE(got[1].CrcOk);
    EXPECT_TRUE(got[1].Complete);
    EXPECT_EQ(got[1].Lag, 2);
    ASSERT_TRUE(got[1].HasData);
    EXPECT_EQ(got[1].Data, static_cast<std::uint8_t>(run.Expected[1].Data ^ 0x10U));
    EXPECT_TRUE(got[2].CrcOk && got[2].Complete);
    EXPECT_EQ(got[2].Data, run.Expected[2].Data);
    TRegisterMap map;
    for (const TRegisterAccess& a : got) {
        map.Add(a);
    }
    EXPECT_EQ(map.Entry(3, 0x21).CrcErrors, 1U);
    EXPECT_FALSE(map.Entry(3, 0x21).HasValue);
}

TEST_P(ControlCaptureFaults, CaptureStartingInsideAControlFrameSkipsIt) {
    TBus bus = TwoSlaves(1, false);
    const TRun run = bus.Run({Read(0, 0x44, 2), Write(3, 0x30, {0x07}), Read(3, 0x30)});
    // The whole capture's frame times, then a capture that starts inside a header frame of
    // the first read (5 frames before its data phase), 10 us into that frame.
    const TModelCapture whole = RunLink(ControlLink(), PositionFrames(run.Frames, TFrameLayoutParams{}, 77));
    const std::size_t startFrame = run.Expected[0].Frame - 5;
    TLinkParams link = ControlLink();
    link.CaptureStart = whole.Expected[startFrame].Time + 10e-6;
    const TFolder folder("start");
    const TTrip trip = RoundTrip(run, GetParam(), folder, link);
    // The cut frame is burst 1, with no bits.
    EXPECT_EQ(trip.Read.Cut, 1U);
    ASSERT_EQ(trip.Read.Bits.size(), run.Frames.size() - startFrame);
    EXPECT_EQ(trip.Read.Bits[0].Cdm, -1);
    EXPECT_EQ(trip.Read.Bits[0].Cds, -1);
    // The first read (both its addresses) is lost; the write and the last read are whole.
    const std::vector<TExpected> rest(run.Expected.begin() + 2, run.Expected.end());
    ExpectRecords(trip.Read.Accesses, rest, -static_cast<std::int64_t>(startFrame), trip.Model.Expected, 1,
                  TCtsCoverage::ccNotCovered);
}

TEST_P(ControlCaptureFaults, CaptureEndingInsideAControlFrameReportsItIncomplete) {
    TBus bus = TwoSlaves(1, true);
    const TRun run = bus.Run({Read(3, 0x42, 2), Write(0, 0x31, {0x5A, 0xC3})});
    const TModelCapture whole = RunLink(ControlLink(), PositionFrames(run.Frames, TFrameLayoutParams{}, 77));
    // The capture ends 10 us into the sixth frame of the second address's data phase.
    const std::size_t endFrame = run.Expected[3].Frame + 5;
    TLinkParams link = ControlLink();
    link.CaptureEnd = whole.Expected[endFrame].Time + 10e-6;
    const TFolder folder("end");
    const TTrip trip = RoundTrip(run, GetParam(), folder, link);
    EXPECT_EQ(trip.Read.Cut, 1U);
    ASSERT_EQ(trip.Read.Bits.size(), endFrame + 1);
    EXPECT_EQ(trip.Read.Bits.back().Cdm, -1);
    const std::vector<TRegisterAccess>& got = trip.Read.Accesses;
    ASSERT_EQ(got.size(), 4U);
    const std::vector<TExpected> whole3(run.Expected.begin(), run.Expected.begin() + 3);
    ExpectRecords(std::vector<TRegisterAccess>(got.begin(), got.begin() + 3), whole3, 0, trip.Model.Expected, 1,
                  TCtsCoverage::ccCovered);
    EXPECT_EQ(got[3].Kind, TAccessKind::akWrite);
    EXPECT_EQ(got[3].Address, 0x32);
    EXPECT_TRUE(got[3].Sequential);
    EXPECT_FALSE(got[3].Complete);
    EXPECT_FALSE(got[3].CrcOk);
    EXPECT_EQ(got[3].Frame, run.Expected[3].Frame + 1);
}

TEST_P(ControlCaptureFaults, FourteenZerosAbortAControlFrame) {
    TBus bus = TwoSlaves(1, false);
    // The master gives up after CTS, ID and 5 address bits, then reads again.
    const TRun run = bus.Run({Abort(3, 0x55, 9), Read(3, 0x55), Command(0x08, 3)});
    const TFolder folder("abort");
    const TTrip trip = RoundTrip(run, GetParam(), folder);
    const std::vector<TRegisterAccess>& got = trip.Read.Accesses;
    ASSERT_EQ(got.size(), 3U);
    EXPECT_EQ(got[0].Kind, TAccessKind::akUnknown);
    EXPECT_EQ(got[0].Slave, 3);
    EXPECT_FALSE(got[0].Complete);
    EXPECT_FALSE(got[0].CrcOk);
    EXPECT_EQ(got[0].Frame, 1U + 14U); // the aborted control frame's S
    ExpectRecords(std::vector<TRegisterAccess>(got.begin() + 1, got.end()), run.Expected, 0, trip.Model.Expected, 1,
                  TCtsCoverage::ccNotCovered);
    EXPECT_EQ(got[1].Data, bus.Slaves[1].Registers[0x55]);
}

INSTANTIATE_TEST_SUITE_P(Formats, ControlCaptureFaults, ::testing::ValuesIn(AllFormats),
                         [](const ::testing::TestParamInfo<TSignalFormat>& info) { return CaseName(info.param); });

// The binary export's writer: a toggle a rounding error before a chunk's begin belongs to the
// chunk before, and the next chunk's initial state counts it (it once did not, which inverted
// the channel for a whole chunk of a long register capture).
TEST(ControlCaptureWriters, ChunkInitialStateCountsAToggleJustBeforeTheChunk) {
    TWaveform wave;
    wave.Names = {"MA", "SLO"};
    wave.Initial = {1, 1};
    wave.End = 3e-3;
    wave.SampleRate = 8e6;
    const double boundary = wave.End / 3;
    wave.Toggles = {{1e-4, std::nextafter(boundary, 0.0), 1.5e-3, 2.5e-3}, {2e-4}};
    const TFolder folder("chunks");
    WriteSaleaeBinaryFolder(wave, folder.Path, 1, 3);
    const auto source = OpenSaleaeBinaryExport({folder.Path});
    source->SelectChannels(0, 1);
    std::vector<TLogicEdge> edges;
    std::vector<TLogicEdge> all;
    while (source->Read(edges)) {
        all.insert(all.end(), edges.begin(), edges.end());
    }
    // After every change the reader reports, MA is at the level the toggles so far give.
    for (const TLogicEdge& edge : all) {
        const bool ma = (edge.Levels & LogicClockBit) != 0;
        EXPECT_EQ(ma, LevelAt(wave, 0, edge.Time) != 0) << "at " << edge.Time;
    }
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().Levels & LogicClockBit, LogicClockBit); // four toggles: high again
}

// ---- The register sample captures ----

TEST(RegisterSamples, ReadBackAsTheirScriptAndMatchTheirGenerator) {
    TRun run;
    const TWaveform wave = BuildRegisterSampleWaveform(&run);
    const TBus bus = RegisterSampleBus();
    const fs::path data = CAPTURE_DATA_DIR;
    // The files are what make_register_samples writes now (the VCD byte for byte).
    EXPECT_EQ(ReadBytes(data / "signal-registers.vcd"), WriteVcd(wave))
        << "regenerate with make_register_samples tests/data/captures";
    for (const char* name : {"signal-registers.sr", "signal-registers.vcd"}) {
        SCOPED_TRACE(name);
        const TCaptureControl got = ReadCaptureControl(data / name, TFrameLayoutParams{}, 4);
        ASSERT_EQ(got.Bits.size(), run.Frames.size());
        EXPECT_EQ(got.Decoded, run.Frames.size()); // the positions decode with the default layout
        ASSERT_EQ(got.Accesses.size(), run.Expected.size());
        TRegisterMap map;
        for (std::size_t i = 0; i < got.Accesses.size(); ++i) {
            const TRegisterAccess& a = got.Accesses[i];
            EXPECT_TRUE(a.Complete && a.CrcOk) << i;
            EXPECT_EQ(a.Kind, run.Expected[i].Kind) << i;
            EXPECT_EQ(a.Address, run.Expected[i].Address) << i;
            EXPECT_EQ(a.Data, run.Expected[i].Data) << i;
            EXPECT_EQ(a.Frame, run.Expected[i].Frame + 1) << i;
            map.Add(a);
        }
        EXPECT_EQ(map.DeviceId(0), std::optional<std::string>("CV-R26"));
        EXPECT_EQ(map.ManufacturerId(0), std::optional<std::string>("CV"));
        EXPECT_EQ(map.Entry(0, 0x10).Value, 0x5A);
        EXPECT_EQ(map.Entry(0, 0x10).Writes, 1U);
        std::uint32_t serial = 0;
        for (int a = 0x44; a <= 0x47; ++a) {
            serial = serial << 8 | map.Entry(0, a).Value;
        }
        EXPECT_EQ(serial, 1234567U);
    }
}

} // namespace
