// The signal readers (Saleae digital CSV and binary exports, sigrok sessions, VCD): every
// format written from a waveform by the test writers and read back equal, in pieces of many
// sizes; bad inputs refused naming where, after the good part; the recognition predicates;
// sigrok-cli's own conversions; the sample captures of tests/data/captures.
#include "logicwriters.h"
#include "signalsamples.h"
#include "capture/signal/saleaebinary.h"
#include "capture/signal/saleaedigital.h"
#include "capture/signal/sigroksession.h"
#include "capture/signal/vcd.h"

#include "tempdir.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TSignal {
    std::uint8_t Initial = 0;
    std::vector<TLogicEdge> Edges;
    double End = 0.0;
};

// Reads everything, checking the contract of every Read on the way.
TSignal ReadAll(TLogicSource& source, std::size_t clock, std::size_t data) {
    source.SelectChannels(clock, data);
    TSignal signal;
    signal.Initial = source.InitialLevels();
    std::vector<TLogicEdge> edges;
    std::uint64_t consumed = 0;
    double last = 0.0;
    while (source.Read(edges)) {
        EXPECT_FALSE(edges.empty());
        for (const TLogicEdge& edge : edges) {
            EXPECT_GE(edge.Time, last);
            last = edge.Time;
        }
        signal.Edges.insert(signal.Edges.end(), edges.begin(), edges.end());
        EXPECT_GE(source.BytesConsumed(), consumed);
        consumed = source.BytesConsumed();
    }
    EXPECT_TRUE(edges.empty());
    EXPECT_FALSE(source.Read(edges)); // the end stays the end
    signal.End = source.EndTime();
    return signal;
}

// The edges a reader must deliver for the waveform: changes of the two channels at one time
// are one edge.
TSignal Expected(const TWaveform& w, std::size_t clock, std::size_t data) {
    TSignal signal;
    const auto levels = [&](double time) {
        return static_cast<std::uint8_t>((LevelAt(w, clock, time) ? LogicClockBit : 0) |
                                         (LevelAt(w, data, time) ? LogicDataBit : 0));
    };
    signal.Initial = levels(0.0);
    std::vector<double> times = w.Toggles[clock];
    times.insert(times.end(), w.Toggles[data].begin(), w.Toggles[data].end());
    std::sort(times.begin(), times.end());
    std::uint8_t current = signal.Initial;
    for (const double time : times) {
        const std::uint8_t now = levels(time);
        if (now != current && time > 0) {
            signal.Edges.push_back({time, now});
            current = now;
        }
    }
    signal.End = w.End;
    return signal;
}

void ExpectSameSignal(const TSignal& actual, const TSignal& expected, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(int(actual.Initial), int(expected.Initial));
    EXPECT_NEAR(actual.End, expected.End, 1e-12);
    ASSERT_EQ(actual.Edges.size(), expected.Edges.size());
    for (std::size_t i = 0; i < actual.Edges.size(); ++i) {
        EXPECT_NEAR(actual.Edges[i].Time, expected.Edges[i].Time, 1e-12) << "edge " << i;
        EXPECT_EQ(int(actual.Edges[i].Levels), int(expected.Edges[i].Levels)) << "edge " << i;
    }
}

// A waveform with bursts on MA/SLO, changes of both at one time, and other channels' noise,
// on a 100 ns grid; long enough to span many read batches.
TWaveform BuildTestWaveform(std::size_t bursts) {
    TWaveform w;
    w.Names = {"D0", "MA", "SLO", "D3"};
    w.Initial = {0, 1, 1, 0};
    w.Toggles.resize(4);
    w.SampleRate = 10e6;
    std::uint32_t random = 12345;
    const auto next = [&] {
        random = random * 1103515245U + 12345U;
        return random >> 16;
    };
    std::int64_t tick = 10; // in 100 ns
    for (std::size_t b = 0; b < bursts; ++b) {
        for (int k = 0; k < 64; ++k) {
            w.Toggles[1].push_back(static_cast<double>(tick) * 1e-7);
            if (next() % 3 == 0) {
                w.Toggles[2].push_back(static_cast<double>(tick) * 1e-7); // with the falling edge
            }
            w.Toggles[1].push_back(static_cast<double>(tick + 2) * 1e-7);
            if (next() % 4 == 0) {
                w.Toggles[2].push_back(static_cast<double>(tick + 3) * 1e-7);
            }
            if (next() % 5 == 0) {
                w.Toggles[0].push_back(static_cast<double>(tick + 1) * 1e-7);
            }
            tick += 4;
        }
        if (w.Toggles[2].size() % 2 == 1) {
            w.Toggles[2].push_back(static_cast<double>(tick + 5) * 1e-7); // back to idle high
        }
        w.Toggles[3].push_back(static_cast<double>(tick + 7) * 1e-7);
        tick += 200;
    }
    w.End = static_cast<double>(tick + 50) * 1e-7;
    return w;
}

fs::path TempDir(const std::string& name) { return MakeTempDir("signal-" + name); }

std::string ReadFileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Channel files held in memory, handed out in pieces of `piece` bytes.
std::vector<TSaleaeBinaryChannel> MemoryChannels(const std::vector<std::string>& files, std::size_t piece = SIZE_MAX) {
    std::vector<TSaleaeBinaryChannel> channels;
    for (std::size_t c = 0; c < files.size(); ++c) {
        auto bytes = std::make_shared<std::string>(files[c]);
        // The source keeps its bytes alive through a shared owner.
        struct TOwned final : TByteSource {
            TOwned(std::shared_ptr<std::string> b, std::size_t p) : Bytes(std::move(b)), Source(*Bytes, p) {}
            std::size_t Read(char* buffer, std::size_t capacity) override { return Source.Read(buffer, capacity); }
            std::shared_ptr<std::string> Bytes;
            TMemoryByteSource Source;
        };
        channels.push_back({"digital_" + std::to_string(c) + ".bin",
                            [bytes, piece] { return std::make_unique<TOwned>(bytes, piece); }});
    }
    return channels;
}

enum class TFormat { fmCsv, fmBinary0, fmBinary1, fmSigrok1, fmSigrok2, fmVcd };

const char* FormatName(TFormat format) {
    switch (format) {
    case TFormat::fmCsv: return "saleae-digital";
    case TFormat::fmBinary0: return "saleae-binary v0";
    case TFormat::fmBinary1: return "saleae-binary v1, 3 chunks";
    case TFormat::fmSigrok1: return "sigrok unitsize 1, one member";
    case TFormat::fmSigrok2: return "sigrok unitsize 2, members of 1000 samples";
    case TFormat::fmVcd: return "vcd";
    }
    return "?";
}

// Writes the waveform in `format` and reads the two channels back, text and binary exports in
// pieces of `piece` bytes.
TSignal WriteAndRead(TFormat format, const TWaveform& w, std::size_t clock, std::size_t data,
                     std::size_t piece = SIZE_MAX) {
    switch (format) {
    case TFormat::fmCsv: {
        const std::string text = WriteSaleaeDigitalCsv(w);
        TMemoryByteSource source(text, piece);
        const auto reader = OpenSaleaeDigitalSource(source);
        EXPECT_EQ(reader->ChannelNames(), w.Names);
        EXPECT_EQ(reader->SamplePeriod(), 0.0);
        return ReadAll(*reader, clock, data);
    }
    case TFormat::fmBinary0:
    case TFormat::fmBinary1: {
        std::vector<std::string> files;
        for (std::size_t c = 0; c < w.Names.size(); ++c) {
            files.push_back(format == TFormat::fmBinary0 ? WriteSaleaeBinary(w, c, 0) : WriteSaleaeBinary(w, c, 1, 3));
        }
        const auto reader = OpenSaleaeBinarySource(MemoryChannels(files, piece));
        EXPECT_EQ(reader->ChannelNames()[1], "digital_1");
        return ReadAll(*reader, clock, data);
    }
    case TFormat::fmSigrok1:
    case TFormat::fmSigrok2: {
        const fs::path dir = TempDir("sr");
        const fs::path path = dir / "capture.sr";
        WriteSigrokSession(w, path, format == TFormat::fmSigrok1 ? 1 : 2, format == TFormat::fmSigrok1 ? 0 : 1000);
        TSignal signal;
        {
            // The reader holds the file open until it ends (Windows removes no open file).
            const auto reader = OpenSigrokSession(path);
            EXPECT_EQ(reader->ChannelNames(), w.Names);
            EXPECT_DOUBLE_EQ(reader->SamplePeriod(), 1.0 / w.SampleRate);
            signal = ReadAll(*reader, clock, data);
        }
        fs::remove_all(dir);
        return signal;
    }
    case TFormat::fmVcd: {
        const std::string text = WriteVcd(w);
        TMemoryByteSource source(text, piece);
        const auto reader = OpenVcdSource(source);
        EXPECT_EQ(reader->ChannelNames(), w.Names);
        return ReadAll(*reader, clock, data);
    }
    }
    return {};
}

const TFormat AllFormats[] = {TFormat::fmCsv,     TFormat::fmBinary0, TFormat::fmBinary1,
                              TFormat::fmSigrok1, TFormat::fmSigrok2, TFormat::fmVcd};

TEST(SignalFormats, EveryFormatReadsBackTheWaveform) {
    const TWaveform w = BuildTestWaveform(300); // tens of thousands of edges: many batches
    const std::pair<std::size_t, std::size_t> choices[] = {{1, 2}, {2, 1}, {3, 0}, {1, 1}};
    for (const TFormat format : AllFormats) {
        for (const auto& [clock, data] : choices) {
            const std::string what = std::string(FormatName(format)) + ", clock " + std::to_string(clock) +
                                     ", data " + std::to_string(data);
            ExpectSameSignal(WriteAndRead(format, w, clock, data), Expected(w, clock, data), what);
        }
    }
}

TEST(SignalFormats, ReadingInPiecesChangesNothing) {
    const TWaveform w = BuildTestWaveform(4);
    const TSignal expected = Expected(w, 1, 2);
    for (const TFormat format : {TFormat::fmCsv, TFormat::fmBinary0, TFormat::fmBinary1, TFormat::fmVcd}) {
        for (const std::size_t piece : {1, 2, 3, 7, 8, 13, 64, 1000, 4096, 65537}) {
            ExpectSameSignal(WriteAndRead(format, w, 1, 2, piece), expected,
                             std::string(FormatName(format)) + " in pieces of " + std::to_string(piece));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Gaps: X values in a CSV export, chunks with gaps in a binary export, x in a VCD.

TEST(SignalFormats, GapsCarryTheGapBit) {
    {
        const std::string csv = "Time [s],MA,SLO\n"
                                "1.5,1,1\n"
                                "1.6,0,1\n"
                                "1.7,X,1\n"
                                "1.8,1,0\n"
                                "1.9,X,X\n"
                                "2.0,0,0\n"
                                "2.5,X,X\n";
        TMemoryByteSource source(csv);
        const auto reader = OpenSaleaeDigitalSource(source);
        const TSignal s = ReadAll(*reader, 0, 1);
        EXPECT_EQ(s.Initial, LogicClockBit | LogicDataBit);
        const std::vector<std::pair<double, int>> expected = {
            {0.1, LogicDataBit}, {0.2, LogicDataBit | LogicGapBit}, {0.3, LogicClockBit},
            {0.4, LogicClockBit | LogicGapBit}, {0.5, 0}};
        ASSERT_EQ(s.Edges.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(s.Edges[i].Time, expected[i].first, 1e-12) << i;
            EXPECT_EQ(int(s.Edges[i].Levels), expected[i].second) << i;
        }
        EXPECT_NEAR(s.End, 1.0, 1e-12); // the last all-X row ends the capture
    }
    {
        // Channel 0 has two chunks with a gap between; channel 1 one chunk starting later.
        std::string a = "<SALEAE>";
        const auto put32 = [](std::string& s, std::uint32_t v) { s.append(reinterpret_cast<char*>(&v), 4); };
        const auto put64 = [](std::string& s, std::uint64_t v) { s.append(reinterpret_cast<char*>(&v), 8); };
        const auto putd = [](std::string& s, double v) { s.append(reinterpret_cast<char*>(&v), 8); };
        put32(a, 1);
        put32(a, 0);
        put64(a, 2);
        put32(a, 1), putd(a, 1e6), putd(a, 10.0), putd(a, 11.0), put64(a, 1), putd(a, 10.5);
        put32(a, 1), putd(a, 1e6), putd(a, 12.0), putd(a, 13.0), put64(a, 2), putd(a, 12.0), putd(a, 12.5);
        std::string b = "<SALEAE>";
        put32(b, 0);
        put32(b, 0);
        put32(b, 1), putd(b, 10.25), putd(b, 13.0), put64(b, 1), putd(b, 12.0);
        const auto reader = OpenSaleaeBinarySource(MemoryChannels({a, b}));
        const TSignal s = ReadAll(*reader, 0, 1);
        EXPECT_EQ(int(s.Initial), LogicClockBit | LogicGapBit); // channel 1 has no data yet
        const std::vector<std::pair<double, int>> expected = {
            {0.25, LogicClockBit | LogicDataBit}, {0.5, LogicDataBit},
            {1.0, LogicDataBit | LogicGapBit},
            // Both change at 12.0, channel 0 twice (its level after the gap, then a transition): one edge.
            {2.0, 0}, {2.5, LogicClockBit}};
        ASSERT_EQ(s.Edges.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(s.Edges[i].Time, expected[i].first, 1e-12) << i;
            EXPECT_EQ(int(s.Edges[i].Levels), expected[i].second) << i;
        }
        EXPECT_NEAR(s.End, 3.0, 1e-12);
    }
    // As written, and as sigrok-cli writes a VCD it read: META lines before the header.
    for (const std::string meta : {"", "META samplerate: 100000000\n", " META samplerate: 1 \r\nMETA x\n"}) {
        SCOPED_TRACE(meta);
        const std::string vcd = meta +
                                "$timescale 10 ns $end $var wire 1 a MA $end $var wire 1 b SLO $end\n"
                                "$var wire 8 c bus $end $var real 1 d level $end $enddefinitions $end\n"
                                "$dumpvars 1a xb b00000000 c r1.5 d $end\n#5\n#7 1b\n#9 za\n#9 0a\n#12 0b 1b\n#20\n";
        ASSERT_TRUE(LooksLikeVcd(vcd));
        TMemoryByteSource source(vcd);
        const auto reader = OpenVcdSource(source);
        EXPECT_EQ(reader->ChannelNames(), (std::vector<std::string>{"MA", "SLO"}));
        EXPECT_DOUBLE_EQ(reader->SamplePeriod(), 10e-9);
        const TSignal s = ReadAll(*reader, 0, 1);
        EXPECT_EQ(int(s.Initial), LogicClockBit | LogicGapBit);
        // #9 z then 0 at one time: one edge; #12 0 then 1 at one time: no change at all.
        const std::vector<std::pair<double, int>> expected = {{20e-9, LogicClockBit | LogicDataBit},
                                                              {40e-9, LogicDataBit}};
        ASSERT_EQ(s.Edges.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(s.Edges[i].Time, expected[i].first, 1e-15) << i;
            EXPECT_EQ(int(s.Edges[i].Levels), expected[i].second) << i;
        }
        EXPECT_NEAR(s.End, 150e-9, 1e-15);
    }
}

// ---------------------------------------------------------------------------------------------
// Bad input: a TInputError naming where, after every edge before the fault.

struct TBadCase {
    const char* Name;
    std::function<std::unique_ptr<TLogicSource>()> Open; // may throw already
    const char* Message;                                  // part of the error's text
    std::size_t EdgesBefore;                              // edges delivered before the error
    std::uint64_t Line = 0; // the error's line, which the program writes before the text; 0: not checked
};

std::string Le32(std::uint32_t v) { return std::string(reinterpret_cast<char*>(&v), 4); }
std::string Le64(std::uint64_t v) { return std::string(reinterpret_cast<char*>(&v), 8); }
std::string LeD(double v) { return std::string(reinterpret_cast<char*>(&v), 8); }

std::string BinaryV0(std::uint32_t initial, double begin, double end, const std::vector<double>& times,
                     std::size_t count = SIZE_MAX) {
    std::string s = "<SALEAE>" + Le32(0) + Le32(0) + Le32(initial) + LeD(begin) + LeD(end) +
                    Le64(count == SIZE_MAX ? times.size() : count);
    for (const double t : times) {
        s += LeD(t);
    }
    return s;
}

std::string Zip(const std::vector<std::pair<std::string, std::string>>& members) {
    const fs::path dir = TempDir("zip");
    const fs::path path = dir / "x.zip";
    int error = 0;
    zip_t* archive = zip_open(path.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto& [name, text] : members) {
        zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
        zip_file_add(archive, name.c_str(), source, 0);
    }
    zip_close(archive);
    std::string bytes = ReadFileBytes(path);
    fs::remove_all(dir);
    return bytes;
}

const std::string GoodMetadata = "[device 1]\ncapturefile=logic-1\ntotal probes=2\nsamplerate=1 MHz\n"
                                 "probe1=MA\nprobe2=SLO\nunitsize=1\n";

TEST(SignalFormats, BadInputIsRefusedNamingWhere) {
    static std::string text; // the sources read text owned here, one case at a time
    const auto csv = [](std::string t) {
        return [t] {
            text = t;
            static std::unique_ptr<TMemoryByteSource> source;
            source = std::make_unique<TMemoryByteSource>(text);
            return OpenSaleaeDigitalSource(*source);
        };
    };
    const auto vcd = [](std::string t) {
        return [t] {
            text = t;
            static std::unique_ptr<TMemoryByteSource> source;
            source = std::make_unique<TMemoryByteSource>(text);
            return OpenVcdSource(*source);
        };
    };
    const auto binary = [](std::string clock) {
        return [clock] { return OpenSaleaeBinarySource(MemoryChannels({clock, BinaryV0(0, 0, 9, {})})); };
    };
    const auto sigrok = [](std::string bytes) { return [bytes] { return OpenSigrokSessionMemory(bytes); }; };
    const std::string goodSamples("\x00\x01\x03\x03\x02", 5);
    const std::string goodZip =
        Zip({{"version", "2"}, {"metadata", GoodMetadata}, {"logic-1-1", goodSamples}});

    const TBadCase cases[] = {
        {"csv missing column", csv("Time [s],MA,SLO\n0,1,1\n0.5,0,1\n0.7,1\n"), "the row has 2 fields", 1, 4},
        {"csv extra column", csv("Time [s],MA,SLO\n0,1,1\n0.5,0,1,1\n"), "the row has 4 fields", 0, 3},
        {"csv time backwards", csv("Time [s],MA,SLO\n0,1,1\n0.5,0,1\n0.4,1,1\n"), "the time goes backwards", 1, 4},
        {"csv bad value", csv("Time [s],MA,SLO\n0,1,1\n0.5,0,1\n0.6,0,0x1\n"), "the value \"0x1\" of SLO", 1, 4},
        {"csv bad time", csv("Time [s],MA,SLO\n0,1,1\nnan,0,1\n"), "the time \"nan\"", 0, 3},
        {"csv no header", csv("Time,MA\n0,1\n"), "not a digital export", 0, 1},
        {"vcd vectors only", vcd("$timescale 1ns $end $var wire 8 ! bus $end $enddefinitions $end #0 b0 !\n"),
         "declares no 1-bit variable", 0},
        {"vcd time backwards", vcd("$timescale 1ns $end $var wire 1 ! a $end $var wire 1 \" b $end\n"
                                   "$enddefinitions $end\n#0 0! 0\"\n#5 1!\n#10 0!\n#7 1!\n"),
         "the time goes backwards", 2, 6},
        {"vcd no timescale", vcd("$var wire 1 ! a $end $enddefinitions $end #0 0!\n"), "no $timescale", 0},
        {"vcd META inside the header", vcd("$timescale 1ns $end\nMETA samplerate: 1\n"),
         "\"META\" where the header expects a $ keyword", 0, 2},
        {"vcd undeclared id", vcd("$timescale 1ns $end $var wire 1 ! a $end $var wire 1 \" b $end $enddefinitions $end\n#0 0!\n#1 1!\n#2 1?\n"),
         "the identifier \"?\"", 1, 4},
        {"vcd bad timescale", vcd("$timescale 3 ns $end $var wire 1 ! a $end $enddefinitions $end\n"), "timescale", 0},
        {"vcd unended header", vcd("$timescale 1 ns $end $var wire 1 ! a\n"), "$var without its $end", 0},
        {"binary wrong header", binary("<SALEAF>" + Le32(0) + Le32(0)), "digital_0.bin: byte 0: not a binary export", 0},
        {"binary version 2", binary("<SALEAE>" + Le32(2) + Le32(0)), "version 2", 0},
        {"binary analog", binary("<SALEAE>" + Le32(0) + Le32(1)), "analog", 0},
        {"binary NaN time", binary(BinaryV0(0, 0, 9, {1, 2, std::nan(""), 4})), "byte 60: a transition time is not a finite", 2},
        {"binary infinite time", binary(BinaryV0(0, 0, 9, {1, INFINITY})), "byte 52: a transition time is not a finite", 1},
        {"binary backwards", binary(BinaryV0(0, 0, 9, {1, 3, 2})), "byte 60: the transition times go backwards", 2},
        {"binary after end", binary(BinaryV0(0, 0, 9, {1, 10})), "after its chunk's end", 1},
        {"binary truncated", binary(BinaryV0(0, 0, 9, {1, 2, 3}, 5)), "the file ends inside a transition time", 3},
        {"binary trailing bytes", binary(BinaryV0(0, 0, 9, {1}) + "xy"), "bytes follow the last transition", 1},
        {"binary NaN end", binary(BinaryV0(0, 0, std::nan(""), {1})), "not a finite number", 0},
        {"binary initial 2", binary(BinaryV0(2, 0, 9, {1})), "initial state 2", 0},
        {"sigrok truncated zip", sigrok(goodZip.substr(0, goodZip.size() - 30)), "not a readable zip archive", 0},
        {"sigrok not a zip", sigrok("PK\x03\x04 nothing more"), "not a readable zip archive", 0},
        {"sigrok no metadata", sigrok(Zip({{"version", "2"}, {"logic-1-1", goodSamples}})), "metadata: the session holds no such member", 0},
        {"sigrok no data", sigrok(Zip({{"version", "2"}, {"metadata", GoodMetadata}})), "no logic data member", 0},
        {"sigrok unitsize 0", sigrok(Zip({{"version", "2"}, {"metadata", "[device 1]\nsamplerate=1000\nunitsize=0\nprobe1=a\n"}, {"logic-1", "x"}})), "unitsize \"0\" is out of range", 0},
        {"sigrok unitsize 9", sigrok(Zip({{"version", "2"}, {"metadata", "[device 1]\nsamplerate=1000\nunitsize=9\nprobe1=a\n"}, {"logic-1", "x"}})), "out of range", 0},
        {"sigrok probe outside unitsize", sigrok(Zip({{"version", "2"}, {"metadata", "[device 1]\nsamplerate=1000\nunitsize=1\nprobe9=a\n"}, {"logic-1", "x"}})), "probe9 lies outside the 8 bits", 0},
        {"sigrok probe 0", sigrok(Zip({{"version", "2"}, {"metadata", "[device 1]\nsamplerate=1000\nunitsize=1\nprobe0=a\n"}, {"logic-1", "x"}})), "out of range", 0},
        {"sigrok bad samplerate", sigrok(Zip({{"version", "2"}, {"metadata", "[device 1]\nsamplerate=fast\nunitsize=1\nprobe1=a\n"}, {"logic-1", "x"}})), "samplerate \"fast\"", 0},
        {"sigrok partial sample", sigrok(Zip({{"version", "2"}, {"metadata", "[device 1]\nsamplerate=1000\nunitsize=2\nprobe1=a\nprobe2=b\n"}, {"logic-1", std::string("\x00\x00\x03\x00\x01", 5)}})), "ends inside a sample", 1},
        {"sigrok version 3", sigrok(Zip({{"version", "3"}, {"metadata", GoodMetadata}, {"logic-1-1", goodSamples}})), "version 3", 0},
    };
    for (const TBadCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::size_t delivered = 0;
        std::string message;
        try {
            const auto reader = c.Open();
            reader->SelectChannels(0, 1);
            std::vector<TLogicEdge> edges;
            while (reader->Read(edges)) {
                delivered += edges.size();
            }
            ADD_FAILURE() << "no error";
        } catch (const TInputError& error) {
            message = error.what();
            if (c.Line > 0) {
                EXPECT_EQ(error.Line(), c.Line) << message;
            }
        }
        EXPECT_NE(message.find(c.Message), std::string::npos) << message;
        // The line is the error's own; the text does not say it again ("x.csv:4: line 4: ...").
        EXPECT_NE(message.rfind("line ", 0), 0U) << message;
        EXPECT_EQ(delivered, c.EdgesBefore) << message;
    }
}

TEST(SignalFormats, CorruptZipDataIsAnErrorNamingTheMember) {
    // A long run of samples compresses; flipping bytes in the middle of the deflated member
    // breaks it (a data or CRC error), which must surface as TInputError naming logic-1-1.
    std::string samples;
    for (int i = 0; i < 200000; ++i) {
        samples += static_cast<char>((i / 7) % 4);
    }
    std::string zip = Zip({{"version", "2"}, {"metadata", GoodMetadata}, {"logic-1-1", samples}});
    const std::size_t at = zip.find("logic-1-1") + 9 + 200;
    for (std::size_t i = at; i < at + 16; ++i) {
        zip[i] = static_cast<char>(zip[i] ^ 0x5A);
    }
    try {
        const auto reader = OpenSigrokSessionMemory(zip);
        reader->SelectChannels(0, 1);
        std::vector<TLogicEdge> edges;
        while (reader->Read(edges)) {
        }
        ADD_FAILURE() << "no error";
    } catch (const TInputError& error) {
        EXPECT_NE(std::string(error.what()).find("logic-1-1"), std::string::npos) << error.what();
    }
}

TEST(SignalFormats, SessionFromAPipeIsRefusedSayingWhy) {
    for (const char* path : {"-", "/dev/stdin"}) {
        try {
            OpenSigrokSession(path);
            ADD_FAILURE() << path;
        } catch (const TInputError& error) {
            EXPECT_NE(std::string(error.what()).find("pipe"), std::string::npos) << error.what();
        }
    }
}

TEST(SignalFormats, ChannelChoiceOutOfRangeIsAnError) {
    const std::string csv = "Time [s],MA,SLO\n0,1,1\n";
    TMemoryByteSource source(csv);
    const auto reader = OpenSaleaeDigitalSource(source);
    EXPECT_THROW(reader->SelectChannels(0, 2), TInputError);
    const auto binary = OpenSaleaeBinarySource({{"digital_0.bin", nullptr}, {"digital_1.bin", nullptr}});
    EXPECT_THROW(binary->SelectChannels(0, 1), TInputError); // no file for either
}

TEST(SignalFormats, ExportFolderFindsTheChannelFiles) {
    const TWaveform w = BuildTestWaveform(2);
    const fs::path dir = TempDir("export");
    WriteSaleaeBinaryFolder(w, dir, 1, 2);
    std::ofstream(dir / "analog_0.bin") << "ignored";
    {
        const auto reader = OpenSaleaeBinaryExport({dir});
        EXPECT_EQ(reader->ChannelNames(), (std::vector<std::string>{"digital_0", "digital_1", "digital_2", "digital_3"}));
        ExpectSameSignal(ReadAll(*reader, 1, 2), Expected(w, 1, 2), "folder");
        // The files themselves, in any order.
        const auto files = OpenSaleaeBinaryExport({dir / "digital_2.bin", dir / "digital_1.bin"});
        ExpectSameSignal(ReadAll(*files, 1, 2), Expected(w, 1, 2), "files");
        EXPECT_THROW(OpenSaleaeBinaryExport({dir / "analog_0.bin"}), TInputError);
    } // the readers close their files: Windows removes no open file
    fs::remove_all(dir);
}

// ---------------------------------------------------------------------------------------------
// Recognition.

TEST(SignalFormats, EachPredicateClaimsItsOwnFormatOnly) {
    const TWaveform w = BuildTestWaveform(1);
    const fs::path dir = TempDir("predicates");
    WriteSigrokSession(w, dir / "x.sr");
    struct TInput {
        std::string Name;
        std::string Bytes;
        int Format; // 0 csv, 1 binary, 2 sigrok, 3 vcd, -1 none
    };
    std::vector<TInput> inputs = {
        {"csv", WriteSaleaeDigitalCsv(w), 0},
        {"csv header only", "Time [s],Channel 0,Channel 1\n", 0},
        {"csv with BOM and CRLF", "\xEF\xBB\xBFTime [s],A\r\n0.0,1\r\n", 0},
        {"binary v0", WriteSaleaeBinary(w, 0, 0), 1},
        {"binary v1", WriteSaleaeBinary(w, 0, 1), 1},
        {"sigrok", ReadFileBytes(dir / "x.sr"), 2},
        {"vcd", WriteVcd(w), 3},
        {"vcd with date", "$date today $end\n$timescale 1ns $end\n", 3},
        {"vcd after META lines", "META samplerate: 8000000\nMETA x\n$date today $end\n", 3},
        {"META line alone", "META samplerate: 8000000\n", -1},
        {"META line, then frames", "META samplerate: 8000000\nC004C9BA71753000\n", -1},
        {"spi export", "Time [s],Packet ID,MOSI,MISO\n0.1,0,0x00,0xC0\n", -1},
        {"analog csv", "Time [s],Channel 0\n0.0,1.25\n", -1},
        {"hex frames", "C004C9BA71753000\n", -1},
        {"analog binary", "<SALEAE>" + Le32(0) + Le32(1), -1},
        {"other zip", Zip({{"[Content_Types].xml", "x"}}), -1},
        {"empty", "", -1},
    };
    for (const auto& entry : fs::directory_iterator(CAPTURE_DATA_DIR)) {
        if (entry.is_regular_file() && entry.path().extension() != ".md" &&
            entry.path().filename().string().rfind("signal-", 0) != 0) {
            inputs.push_back({entry.path().filename().string(), ReadFileBytes(entry.path()), -1});
            inputs.back().Bytes.resize(std::min<std::size_t>(inputs.back().Bytes.size(), 65536));
        }
    }
    for (const TInput& input : inputs) {
        SCOPED_TRACE(input.Name);
        const std::string_view bytes(input.Bytes);
        EXPECT_EQ(LooksLikeSaleaeDigital(bytes), input.Format == 0);
        EXPECT_EQ(LooksLikeSaleaeBinary(bytes), input.Format == 1);
        EXPECT_EQ(LooksLikeSigrokSession(bytes), input.Format == 2);
        EXPECT_EQ(LooksLikeVcd(bytes), input.Format == 3);
    }
    fs::remove_all(dir);
}

// ---------------------------------------------------------------------------------------------
// sigrok-cli converts our VCD to a session and back; both read as the waveform.

TEST(SignalFormats, SigrokCliConversionsReadBackTheWaveform) {
    if (std::system("sigrok-cli --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "sigrok-cli is not installed (Debian package sigrok-cli): the conversion check is skipped";
    }
    TWaveform w = BuildTestWaveform(20);
    const fs::path dir = TempDir("sigrokcli");
    {
        std::ofstream file(dir / "x.vcd", std::ios::binary);
        file << WriteVcd(w);
    }
    const std::string vcdIn = (dir / "x.vcd").string();
    const std::string sr = (dir / "x.sr").string();
    const std::string vcdOut = (dir / "y.vcd").string();
    const std::string vcdToVcd = (dir / "z.vcd").string();
    ASSERT_EQ(std::system(("sigrok-cli -I vcd -i '" + vcdIn + "' -o '" + sr + "' 2>/dev/null").c_str()), 0);
    ASSERT_EQ(std::system(("sigrok-cli -i '" + sr + "' -O vcd -o '" + vcdOut + "' 2>/dev/null").c_str()), 0);
    // From a VCD straight to a VCD, sigrok-cli writes META lines before the header.
    ASSERT_EQ(std::system(("sigrok-cli -I vcd -i '" + vcdIn + "' -O vcd -o '" + vcdToVcd + "' 2>/dev/null").c_str()), 0);

    const auto session = OpenSigrokSession(sr);
    EXPECT_EQ(session->ChannelNames(), w.Names);
    EXPECT_DOUBLE_EQ(session->SamplePeriod(), 100e-9); // the VCD's timescale as its rate
    ExpectSameSignal(ReadAll(*session, 1, 2), Expected(w, 1, 2), "sigrok-cli's session");

    const std::string text = ReadFileBytes(vcdOut);
    TMemoryByteSource source(text);
    const auto vcd = OpenVcdSource(source);
    EXPECT_EQ(vcd->ChannelNames(), w.Names);
    ExpectSameSignal(ReadAll(*vcd, 1, 2), Expected(w, 1, 2), "sigrok-cli's VCD");

    const std::string direct = ReadFileBytes(vcdToVcd);
    EXPECT_TRUE(LooksLikeVcd(direct));
    TMemoryByteSource directSource(direct);
    const auto directVcd = OpenVcdSource(directSource);
    ExpectSameSignal(ReadAll(*directVcd, 1, 2), Expected(w, 1, 2), "sigrok-cli's VCD from a VCD");
    fs::remove_all(dir);
}

// ---------------------------------------------------------------------------------------------
// The sample captures stored in tests/data/captures.

TEST(SignalFormats, SampleCapturesHoldTheSampleWaveform) {
    const TWaveform w = BuildSignalSample().Capture.Wave;
    const TSignal expected = Expected(w, 0, 1);
    const fs::path data = CAPTURE_DATA_DIR;
    {
        const std::string text = ReadFileBytes(data / "signal-biss.csv");
        TMemoryByteSource source(text);
        ASSERT_TRUE(LooksLikeSaleaeDigital(text));
        const auto reader = OpenSaleaeDigitalSource(source);
        ExpectSameSignal(ReadAll(*reader, 0, 1), expected, "signal-biss.csv");
    }
    {
        const auto reader = OpenSaleaeBinaryExport({data / "signal-biss-binary"});
        ExpectSameSignal(ReadAll(*reader, 0, 1), expected, "signal-biss-binary/");
    }
    {
        const auto reader = OpenSigrokSession(data / "signal-biss.sr");
        ExpectSameSignal(ReadAll(*reader, 0, 1), expected, "signal-biss.sr");
    }
    {
        const std::string text = ReadFileBytes(data / "signal-biss.vcd");
        TMemoryByteSource source(text);
        const auto reader = OpenVcdSource(source);
        ExpectSameSignal(ReadAll(*reader, 0, 1), expected, "signal-biss.vcd");
    }
}

} // namespace
