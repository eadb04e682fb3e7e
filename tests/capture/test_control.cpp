// The control-channel decoder against the master/slave model: scripts of reads, writes,
// sequential accesses and commands come back as the records the master made, at every reply
// lag and under both readings of the header CRC; and damaged streams are reported as damaged.
#include "capture/control/controldecoder.h"
#include "controltest.h"
#include "controlmodel.h"
#include "capture/control/registermap.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using namespace controlmodel;

std::vector<TRegisterAccess> Decode(const std::vector<TControlBits>& frames, std::size_t batch = 0) {
    TControlDecoder decoder;
    std::vector<TRegisterAccess> out;
    if (batch == 0) {
        decoder.Feed(frames, out);
    } else {
        for (std::size_t i = 0; i < frames.size(); i += batch) {
            const std::size_t n = std::min(batch, frames.size() - i);
            decoder.Feed(std::span<const TControlBits>(frames.data() + i, n), out);
        }
    }
    decoder.Finish(out);
    return out;
}

// A bus with slaves 0 and 3 with known register contents.
TBus TwoSlaves(int lag, bool coversCts) {
    TBus bus;
    bus.MasterCrcCoversCts = coversCts;
    bus.Period = 25e-6;
    bus.Source = 7;
    bus.FirstFrame = 1000;
    for (const int id : {0, 3}) {
        TSlave& slave = bus.AddSlave(id, lag);
        for (int a = 0; a < 128; ++a) {
            slave.Registers[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(a * 7 + id * 31 + 5);
        }
    }
    return bus;
}

std::vector<TStep> MixedScript() {
    return {Read(0, 0x42, 2),
            Write(3, 0x10, {0x00, 0xFF, 0x5A}),
            Read(3, 0x10, 3),
            Command(0x09, 2),
            Write(0, 0x7F, {0x12, 0x34}), // the address wraps from 127 to 0
            Read(0, 0x7F, 2),
            Read(3, 0x00, 1),
            Command(0x00, 1)};
}

void ExpectMatches(const std::vector<TRegisterAccess>& got, const std::vector<TExpected>& want,
                   const TBus& bus, int lag, TCtsCoverage coverage) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("access " + std::to_string(i));
        const TRegisterAccess& g = got[i];
        const TExpected& w = want[i];
        EXPECT_EQ(g.Frame, bus.FirstFrame + w.Frame);
        EXPECT_DOUBLE_EQ(g.Time, static_cast<double>(bus.FirstFrame + w.Frame) * bus.Period);
        EXPECT_EQ(g.Source, bus.Source);
        ExpectAccessAsScripted(g, w, lag, coverage);
    }
}

struct TRoundTrip {
    int Lag;
    bool CoversCts;
};

void PrintTo(const TRoundTrip& p, std::ostream* out) {
    *out << "lag " << p.Lag << (p.CoversCts ? ", CTS covered" : "");
}

class ControlRoundTrip : public ::testing::TestWithParam<TRoundTrip> {};

TEST_P(ControlRoundTrip, RecordsAndMapEqualTheScriptAndTheSlaves) {
    const TRoundTrip p = GetParam();
    TBus bus = TwoSlaves(p.Lag, p.CoversCts);
    const TRun run = bus.Run(MixedScript());
    const TCtsCoverage coverage = p.CoversCts ? TCtsCoverage::ccCovered : TCtsCoverage::ccNotCovered;
    for (const std::size_t batch : {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{64}}) {
        SCOPED_TRACE("batch " + std::to_string(batch));
        const std::vector<TRegisterAccess> got = Decode(run.Frames, batch);
        ExpectMatches(got, run.Expected, bus, p.Lag, coverage);

        TRegisterMap map;
        for (const TRegisterAccess& a : got) {
            map.Add(a);
        }
        // Every address touched holds what the slave holds now (writes were read back).
        for (const TSlave& slave : bus.Slaves) {
            for (int address = 0; address < 128; ++address) {
                const TRegisterEntry& e = map.Entry(slave.Id, address);
                if (e.Seen) {
                    ASSERT_TRUE(e.HasValue);
                    EXPECT_EQ(e.Value, slave.Registers[static_cast<std::size_t>(address)])
                        << "slave " << slave.Id << " address " << address;
                    EXPECT_EQ(e.CrcErrors, 0U);
                }
            }
        }
        EXPECT_EQ(map.Entry(3, 0x11).Writes, 1U);
        EXPECT_EQ(map.Entry(3, 0x11).Reads, 1U);
        EXPECT_EQ(map.Entry(0, 0x00).Reads, 1U);
        EXPECT_FALSE(map.SlaveSeen(1));
    }
    // The slaves took the writes and the commands meant for them.
    EXPECT_EQ(bus.Slaves[1].Registers[0x12], 0x5A);
    EXPECT_EQ(bus.Slaves[0].Registers[0x00], 0x34);
    EXPECT_EQ(bus.Slaves[0].CommandsTaken, (std::vector<std::uint8_t>{2, 1}));
    EXPECT_EQ(bus.Slaves[1].CommandsTaken, (std::vector<std::uint8_t>{2, 1}));
}

INSTANTIATE_TEST_SUITE_P(Lags, ControlRoundTrip,
                         ::testing::Values(TRoundTrip{0, false}, TRoundTrip{1, false},
                                           TRoundTrip{2, false}, TRoundTrip{3, false},
                                           TRoundTrip{0, true}, TRoundTrip{1, true},
                                           TRoundTrip{2, true}, TRoundTrip{3, true}));

TEST(ControlDecoder, SlavesWithDifferentLagsAreEachDecodedAtTheirOwn) {
    TBus bus;
    TSlave& early = bus.AddSlave(1, 0);
    TSlave& late = bus.AddSlave(6, 3);
    early.Registers[5] = 0xA1;
    late.Registers[5] = 0x6C;
    const TRun run = bus.Run({Read(1, 5), Read(6, 5), Read(1, 5), Read(6, 5)});
    const std::vector<TRegisterAccess> got = Decode(run.Frames);
    ASSERT_EQ(got.size(), 4U);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(got[i].CrcOk && got[i].Complete);
        EXPECT_EQ(got[i].Lag, i % 2 == 0 ? 0 : 3);
        EXPECT_EQ(got[i].Data, i % 2 == 0 ? 0xA1 : 0x6C);
    }
}

TEST(ControlDecoder, AChangedLagIsTakenOnceItHoldsTwiceInARow) {
    // The slave answers at lag 1, then (another master's timing) at lag 2.
    TBus before = TwoSlaves(1, false);
    TBus after = TwoSlaves(2, false);
    const TRun first = before.Run({Read(0, 0x10), Read(0, 0x11)});
    const TRun second = after.Run({Read(0, 0x12), Read(0, 0x13), Read(0, 0x14)});
    std::vector<TControlBits> frames = first.Frames;
    frames.insert(frames.end(), second.Frames.begin(), second.Frames.end());
    const std::vector<TRegisterAccess> got = Decode(frames);
    ASSERT_EQ(got.size(), 5U);
    EXPECT_EQ(got[1].Lag, 1);
    EXPECT_TRUE(got[1].CrcOk);
    // One reply that holds only at another lag could be a corrupted one: still lag 1, failed.
    EXPECT_EQ(got[2].Lag, 1);
    EXPECT_FALSE(got[2].CrcOk);
    EXPECT_TRUE(got[2].Complete);
    // The second in a row moves the lag.
    for (std::size_t i = 3; i < 5; ++i) {
        EXPECT_EQ(got[i].Lag, 2);
        EXPECT_TRUE(got[i].CrcOk);
        EXPECT_EQ(got[i].Data, second.Expected[i - 2].Data);
    }
    // A new stream learns afresh.
    TControlDecoder decoder;
    std::vector<TRegisterAccess> out;
    decoder.Feed(first.Frames, out);
    decoder.Finish(out);
    decoder.Feed(second.Frames, out);
    decoder.Finish(out);
    ASSERT_EQ(out.size(), 5U);
    EXPECT_EQ(out[2].Lag, 2);
    EXPECT_TRUE(out[2].CrcOk);
}

TEST(ControlDecoder, ControlCrcAgreesWithPolynomialDivision) {
    for (std::uint32_t value = 0; value < (1U << 11); ++value) {
        ASSERT_EQ(ControlCrc(value, 11), SentCrc(Bits(value, 11))) << value;
        ASSERT_EQ(ControlCrc(value & 0xFFU, 8), SentCrc(Bits(value & 0xFFU, 8))) << value;
    }
}

// The frame indexes of a read's reply bits on CDS, for the read `which` of the run.
std::size_t ReplyFrame(const TRun& run, std::size_t which, int lag, int bit) {
    return run.Expected[which].Frame + 1 + static_cast<std::size_t>(lag) + static_cast<std::size_t>(bit);
}

TEST(ControlDecoder, FlippedReplyBitFailsTheCrcAndIsStillReported) {
    for (int bit = 0; bit < 12; ++bit) {
        SCOPED_TRACE("bit " + std::to_string(bit));
        TBus bus = TwoSlaves(1, false);
        TRun run = bus.Run({Read(0, 0x20), Read(0, 0x21), Read(0, 0x22)});
        TControlBits& flipped = run.Frames[ReplyFrame(run, 1, 1, bit)];
        flipped.Cds = static_cast<std::int8_t>(1 - flipped.Cds);
        const std::vector<TRegisterAccess> got = Decode(run.Frames);
        ASSERT_EQ(got.size(), 3U);
        EXPECT_TRUE(got[0].CrcOk);
        EXPECT_FALSE(got[1].CrcOk);
        EXPECT_TRUE(got[1].Complete);
        EXPECT_EQ(got[1].Lag, 1);
        ASSERT_TRUE(got[1].HasData);
        const std::uint8_t sent = run.Expected[1].Data;
        EXPECT_EQ(got[1].Data, bit < 8 ? static_cast<std::uint8_t>(sent ^ (0x80U >> bit)) : sent);
        EXPECT_TRUE(got[2].CrcOk);
        TRegisterMap map;
        for (const TRegisterAccess& a : got) {
            map.Add(a);
        }
        EXPECT_EQ(map.Entry(0, 0x21).CrcErrors, 1U);
        EXPECT_FALSE(map.Entry(0, 0x21).HasValue);
    }
}

TEST(ControlDecoder, StreamStartingInsideAControlFrameSkipsItWithoutInventingAccesses) {
    TBus bus = TwoSlaves(1, false);
    const TRun run = bus.Run({Write(3, 0x30, {0x00, 0x01}), Read(0, 0x31, 2), Command(0x01, 3)});
    // Cut anywhere in the write: the 14 zeros after its stop bit start the read. Cut later, the
    // read has fewer than 14 zeros before it and is skipped whole, up to the command.
    const std::size_t writeStop = run.Expected[1].Frame + 13;
    const std::size_t readStart = run.Expected[2].Frame - 18;
    for (std::size_t cut = 15; cut <= readStart; ++cut) {
        SCOPED_TRACE("cut " + std::to_string(cut));
        const std::vector<TControlBits> tail(run.Frames.begin() + static_cast<std::ptrdiff_t>(cut),
                                             run.Frames.end());
        const std::vector<TRegisterAccess> got = Decode(tail);
        const std::size_t skipped = cut <= writeStop + 1 ? 2 : 4;
        ASSERT_EQ(got.size(), run.Expected.size() - skipped);
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].Frame, bus.FirstFrame + run.Expected[i + skipped].Frame);
            EXPECT_TRUE(got[i].Complete && got[i].CrcOk);
        }
    }
}

TEST(ControlDecoder, StreamEndingInsideAnAccessReportsItIncomplete) {
    TBus bus = TwoSlaves(2, false);
    const TRun run = bus.Run({Write(0, 0x05, {0x77}), Read(3, 0x06)});
    const std::size_t writeStart = run.Expected[0].Frame;
    const std::size_t readStart = run.Expected[1].Frame;
    struct TCase {
        std::size_t End; // frames kept
        std::size_t Records;
        bool LastComplete;
    };
    const TCase cases[] = {
        {writeStart - 3, 1, false},     // inside the header: an access with R W unknown
        {writeStart + 6, 1, false},     // inside the write's data
        {writeStart + 14, 1, true},     // right after the write's stop bit
        {readStart + 13, 2, false},     // the reply (lag 2) ends at readStart + 14
        {readStart + 15, 2, true},      // all of the reply seen
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE("end " + std::to_string(c.End));
        const std::vector<TControlBits> head(run.Frames.begin(),
                                             run.Frames.begin() + static_cast<std::ptrdiff_t>(c.End));
        const std::vector<TRegisterAccess> got = Decode(head);
        ASSERT_EQ(got.size(), c.Records);
        EXPECT_EQ(got.back().Complete, c.LastComplete);
        if (!c.LastComplete) {
            EXPECT_FALSE(got.back().CrcOk);
        } else {
            EXPECT_TRUE(got.back().CrcOk);
        }
    }
}

TEST(ControlDecoder, FourteenZerosAbortAControlFrame) {
    // Header bits sent before the master gives up: CTS only, into the ID, into the address,
    // into the CRC, and the whole header with R W but no data phase.
    for (const int sent : {1, 3, 9, 13, 17}) {
        SCOPED_TRACE("bits sent " + std::to_string(sent));
        TBus bus = TwoSlaves(1, true);
        const TRun run = bus.Run({Abort(3, 0x55, sent), Read(3, 0x55)});
        const std::vector<TRegisterAccess> got = Decode(run.Frames);
        ASSERT_EQ(got.size(), 2U);
        EXPECT_FALSE(got[0].Complete);
        EXPECT_FALSE(got[0].CrcOk);
        EXPECT_EQ(got[0].Kind, sent == 17 ? TAccessKind::akRead : TAccessKind::akUnknown);
        if (sent >= 4) {
            EXPECT_EQ(got[0].Slave, 3);
        }
        EXPECT_TRUE(got[1].Complete && got[1].CrcOk);
        EXPECT_EQ(got[1].Data, bus.Slaves[1].Registers[0x55]);
    }
}

TEST(ControlDecoder, MissingBitsCutOrSpoilTheAccess) {
    TBus bus = TwoSlaves(1, false);
    const TRun clean = bus.Run({Write(0, 0x01, {0x42}), Read(0, 0x02), Read(0, 0x03)});
    {
        // No CDM in the write's data: the write is cut; the decoder waits for the next start.
        TRun run = clean;
        run.Frames[clean.Expected[0].Frame + 4].Cdm = -1;
        const std::vector<TRegisterAccess> got = Decode(run.Frames);
        ASSERT_EQ(got.size(), 3U);
        EXPECT_EQ(got[0].Kind, TAccessKind::akWrite);
        EXPECT_FALSE(got[0].Complete);
        EXPECT_TRUE(got[1].Complete && got[1].CrcOk && got[2].Complete && got[2].CrcOk);
    }
    {
        // No CDS in the second read's reply: that read cannot be decoded.
        TRun run = clean;
        run.Frames[ReplyFrame(clean, 2, 1, 5)].Cds = -1;
        const std::vector<TRegisterAccess> got = Decode(run.Frames);
        ASSERT_EQ(got.size(), 3U);
        EXPECT_TRUE(got[1].Complete && got[1].CrcOk);
        EXPECT_FALSE(got[2].Complete);
        EXPECT_FALSE(got[2].HasData);
    }
}

TEST(ControlDecoder, UnansweredReadAndBadHeaderCrc) {
    TBus bus = TwoSlaves(1, false);
    TRun run = bus.Run({Read(5, 0x10), Read(0, 0x11), Read(0, 0x12)});
    // A flipped address bit of the third read's header: the slave ignores it.
    const std::size_t headerStart = run.Expected[2].Frame - 18;
    TControlBits& bit = run.Frames[headerStart + 10];
    bit.Cdm = static_cast<std::int8_t>(1 - bit.Cdm);
    TBus replay = TwoSlaves(1, false);
    std::map<std::size_t, int> cds;
    for (std::size_t f = 0; f < run.Frames.size(); ++f) {
        for (TSlave& slave : replay.Slaves) {
            slave.OnCdm(run.Frames[f].Cdm, f, cds);
        }
        const auto it = cds.find(f);
        run.Frames[f].Cds = static_cast<std::int8_t>(it == cds.end() ? 0 : it->second);
    }
    const std::vector<TRegisterAccess> got = Decode(run.Frames);
    ASSERT_EQ(got.size(), 3U);
    EXPECT_EQ(got[0].Slave, 5); // nobody has ID 5
    EXPECT_FALSE(got[0].Complete);
    EXPECT_FALSE(got[0].HasData);
    EXPECT_TRUE(got[1].Complete && got[1].CrcOk);
    EXPECT_EQ(got[2].CtsCoverage, TCtsCoverage::ccUnknown);
    EXPECT_FALSE(got[2].CrcOk);
    EXPECT_FALSE(got[2].Complete);
}

TEST(ControlDecoder, CommandsCarryMaskAndCommandAndCheckTheirCrc) {
    TBus bus = TwoSlaves(1, false);
    TRun run = bus.Run({Command(0x00, 0), Command(0xA5, 3), Command(0x08, 1)});
    // Flip a CRC bit of the last command.
    TControlBits& crc = run.Frames[run.Expected[2].Frame + 13];
    crc.Cdm = static_cast<std::int8_t>(1 - crc.Cdm);
    const std::vector<TRegisterAccess> got = Decode(run.Frames);
    ASSERT_EQ(got.size(), 3U);
    EXPECT_EQ(got[1].SlaveMask, 0xA5);
    EXPECT_EQ(got[1].Command, 3);
    EXPECT_TRUE(got[0].CrcOk && got[1].CrcOk);
    EXPECT_FALSE(got[2].CrcOk);
    EXPECT_TRUE(got[2].Complete);
    for (const TRegisterAccess& a : got) {
        EXPECT_EQ(a.Kind, TAccessKind::akCommand);
    }
}

TEST(RegisterMap, MergeOfPartsEqualsTheWhole) {
    TBus bus = TwoSlaves(1, false);
    std::mt19937 random(20240611);
    std::vector<TStep> script;
    for (int i = 0; i < 60; ++i) {
        const int slave = (random() % 2) * 3;
        const int address = static_cast<int>(random() % 128);
        if (random() % 2 == 0) {
            script.push_back(Read(slave, address, 1 + static_cast<int>(random() % 3)));
        } else {
            script.push_back(Write(slave, address, {static_cast<std::uint8_t>(random())}));
        }
    }
    const TRun run = bus.Run(script);
    std::vector<TRegisterAccess> got = Decode(run.Frames);
    got[17].CrcOk = false; // a CRC failure counted in one part
    TRegisterMap whole;
    TRegisterMap first;
    TRegisterMap second;
    for (std::size_t i = 0; i < got.size(); ++i) {
        whole.Add(got[i]);
        (i < got.size() / 2 ? first : second).Add(got[i]);
    }
    first.Merge(second);
    for (int slave = 0; slave < 8; ++slave) {
        EXPECT_EQ(first.SlaveSeen(slave), whole.SlaveSeen(slave));
        for (int address = 0; address < 128; ++address) {
            const TRegisterEntry& a = first.Entry(slave, address);
            const TRegisterEntry& b = whole.Entry(slave, address);
            ASSERT_EQ(a.Seen, b.Seen);
            EXPECT_EQ(a.Reads, b.Reads);
            EXPECT_EQ(a.Writes, b.Writes);
            EXPECT_EQ(a.CrcErrors, b.CrcErrors);
            ASSERT_EQ(a.HasValue, b.HasValue);
            if (a.HasValue) {
                EXPECT_EQ(a.Value, b.Value);
            }
        }
    }
}

TEST(RegisterMap, IdentifiersAsTextOnlyWhenFullyReadAndPrintable) {
    struct TCase {
        std::string Device;
        std::string Maker;
        int DeviceBytesRead;
        bool DeviceText;
        bool MakerText;
    };
    const TCase cases[] = {
        {"ENC-01", "CV", 6, true, true},
        {std::string("MU\0\0\0\0", 6), "CV", 6, true, true}, // trailing zero bytes: padding
        {"ENC-01", "C\x01", 5, false, false},                 // one byte unread; unprintable
        {std::string("\0\0\0\0\0\0", 6), "\x7F\x80", 6, false, false},
    };
    for (const TCase& c : cases) {
        TBus bus;
        TSlave& slave = bus.AddSlave(2, 1);
        for (int i = 0; i < 6; ++i) {
            slave.Registers[static_cast<std::size_t>(0x78 + i)] = static_cast<std::uint8_t>(c.Device[static_cast<std::size_t>(i)]);
        }
        slave.Registers[0x7E] = static_cast<std::uint8_t>(c.Maker[0]);
        slave.Registers[0x7F] = static_cast<std::uint8_t>(c.Maker[1]);
        const TRun run = bus.Run({Read(2, 0x78, c.DeviceBytesRead), Read(2, 0x7E, 2)});
        TRegisterMap map;
        for (const TRegisterAccess& a : Decode(run.Frames)) {
            map.Add(a);
        }
        ASSERT_EQ(map.DeviceId(2).has_value(), c.DeviceText);
        if (c.DeviceText) {
            EXPECT_EQ(*map.DeviceId(2), c.Device.substr(0, c.Device.find('\0')));
        }
        ASSERT_EQ(map.ManufacturerId(2).has_value(), c.MakerText);
        if (c.MakerText) {
            EXPECT_EQ(*map.ManufacturerId(2), c.Maker);
        }
        EXPECT_STREQ(StandardRegisterName(0x7A), "device_id");
    }
}

} // namespace
