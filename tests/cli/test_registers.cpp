// Register records and the register map in every output format, read back: JSON lines parsed,
// CSV split, table rows aligned under their titles; and the exit status of --registers.
#include "controlmodel.h"
#include "readback.h"
#include "cli/registers.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <charconv>
#include <sstream>

namespace {

using namespace controlmodel;
using nlohmann::json;

// Register traffic of every kind: reads and writes at odd times, a command, a read nobody
// answers, a corrupted reply and a control frame cut off.
std::vector<TRegisterAccess> Traffic() {
    TBus bus;
    bus.Period = 1.0 / 3.0e4; // times without a short decimal form
    bus.FirstFrame = 123456789;
    bus.Source = 1;
    TSlave& slave = bus.AddSlave(2, 1);
    slave.Registers[0x78] = 'Q';
    TRun run = bus.Run({Read(2, 0x77, 3), Write(2, 0x40, {0x01}), Command(0x04, 2), Read(6, 0x10),
                        Read(2, 0x20), Abort(2, 0x21, 9)});
    const std::size_t reply = run.Expected[6].Frame + 4;
    run.Frames[reply].Cds = static_cast<std::int8_t>(1 - run.Frames[reply].Cds);
    TControlDecoder decoder;
    std::vector<TRegisterAccess> out;
    decoder.Feed(run.Frames, out);
    decoder.Finish(out);
    return out;
}

const std::string SourceName = "bench, \"left\".sr";

TRegisterFormatter Formatter(TOutputFormat format) {
    TRegisterFormatter formatter(format);
    formatter.SetSourceName(1, SourceName);
    return formatter;
}

std::string Written(const TRegisterFormatter& formatter, const std::vector<TRegisterAccess>& records) {
    TOutBuffer out;
    for (const TRegisterAccess& a : records) {
        formatter.AppendRecord(out, a);
    }
    return formatter.Header() + std::string(out.View());
}

TEST(RegisterOutput, JsonLinesReadBackAsTheRecords) {
    const std::vector<TRegisterAccess> records = Traffic();
    ASSERT_EQ(records.size(), 8U);
    const std::vector<std::string> lines = Lines(Written(Formatter(TOutputFormat::ofJsonl), records));
    ASSERT_EQ(lines.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const TRegisterAccess& a = records[i];
        const json j = json::parse(lines[i]);
        EXPECT_EQ(j.size(), 14U);
        EXPECT_EQ(j.at("source"), SourceName);
        EXPECT_EQ(j.at("frame").get<std::uint64_t>(), a.Frame);
        EXPECT_EQ(j.at("time").get<double>(), a.Time); // exactly
        EXPECT_EQ(j.at("kind"), std::string(AccessKindName(a.Kind)));
        EXPECT_EQ(j.at("crc_ok").get<bool>(), a.CrcOk);
        EXPECT_EQ(j.at("complete").get<bool>(), a.Complete);
        if (a.HasData) {
            EXPECT_EQ(j.at("data").get<int>(), a.Data);
        } else {
            EXPECT_TRUE(j.at("data").is_null());
        }
        if (a.Lag >= 0) {
            EXPECT_EQ(j.at("lag").get<int>(), a.Lag);
        } else {
            EXPECT_TRUE(j.at("lag").is_null());
        }
        if (a.Kind == TAccessKind::akCommand) {
            EXPECT_TRUE(j.at("slave").is_null());
            EXPECT_EQ(j.at("slave_mask").get<int>(), a.SlaveMask);
            EXPECT_EQ(j.at("command").get<int>(), a.Command);
            EXPECT_TRUE(j.at("crc_covers_cts").is_null());
        } else {
            EXPECT_EQ(j.at("slave").get<int>(), a.Slave);
            EXPECT_TRUE(j.at("slave_mask").is_null());
        }
        if (a.Kind == TAccessKind::akRead || a.Kind == TAccessKind::akWrite) {
            EXPECT_EQ(j.at("address").get<int>(), a.Address);
            EXPECT_EQ(j.at("name"), std::string(StandardRegisterName(a.Address)));
        }
        if (a.CtsCoverage != TCtsCoverage::ccUnknown) {
            EXPECT_EQ(j.at("crc_covers_cts").get<bool>(), a.CtsCoverage == TCtsCoverage::ccCovered);
        }
    }
    // The traffic has what the checks above are for.
    EXPECT_EQ(json::parse(lines[0]).at("name"), "");
    EXPECT_EQ(json::parse(lines[1]).at("name"), "device_id");
    EXPECT_EQ(json::parse(lines[3]).at("name"), "bank_select");
    EXPECT_TRUE(json::parse(lines[5]).at("data").is_null()); // nobody has ID 6
    EXPECT_FALSE(json::parse(lines[6]).at("crc_ok").get<bool>());
    EXPECT_EQ(json::parse(lines[7]).at("kind"), "unknown");
}

TEST(RegisterOutput, CsvReadsBackAsTheRecords) {
    const std::vector<TRegisterAccess> records = Traffic();
    const std::vector<std::string> lines = Lines(Written(Formatter(TOutputFormat::ofCsv), records));
    ASSERT_EQ(lines.size(), records.size() + 1);
    EXPECT_EQ(lines[0], "source,frame,time,kind,slave,address,data,crc_ok,complete,lag,name,"
                        "crc_covers_cts,slave_mask,command");
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(lines[i + 1]);
        const TRegisterAccess& a = records[i];
        const std::vector<std::string> f = SplitCsv(lines[i + 1]);
        ASSERT_EQ(f.size(), 14U);
        EXPECT_EQ(f[0], SourceName);
        EXPECT_EQ(f[1], std::to_string(a.Frame));
        double time = 0.0;
        ASSERT_EQ(std::from_chars(f[2].data(), f[2].data() + f[2].size(), time).ec, std::errc());
        EXPECT_EQ(time, a.Time);
        EXPECT_EQ(f[3], AccessKindName(a.Kind));
        EXPECT_EQ(f[6], a.HasData ? std::to_string(a.Data) : "");
        EXPECT_EQ(f[7], a.CrcOk ? "true" : "false");
        EXPECT_EQ(f[8], a.Complete ? "true" : "false");
        EXPECT_EQ(f[9], a.Lag >= 0 ? std::to_string(a.Lag) : "");
        if (a.Kind == TAccessKind::akRead || a.Kind == TAccessKind::akWrite) {
            EXPECT_EQ(f[4], std::to_string(a.Slave));
            EXPECT_EQ(f[5], std::to_string(a.Address));
            EXPECT_EQ(f[10], StandardRegisterName(a.Address));
            EXPECT_EQ(f[11], a.CtsCoverage == TCtsCoverage::ccCovered      ? "true"
                             : a.CtsCoverage == TCtsCoverage::ccNotCovered ? "false"
                                                                           : "");
        }
        if (a.Kind == TAccessKind::akCommand) {
            EXPECT_EQ(f[4], "");
            EXPECT_EQ(f[12], std::to_string(a.SlaveMask));
            EXPECT_EQ(f[13], std::to_string(a.Command));
        }
    }
}

TEST(RegisterOutput, TableRowsLineUpUnderTheTitles) {
    const std::vector<TRegisterAccess> records = Traffic();
    const std::vector<std::string> lines = Lines(Written(Formatter(TOutputFormat::ofTable), records));
    ASSERT_EQ(lines.size(), records.size() + 1);
    const std::size_t kind = lines[0].find("kind");
    const std::size_t name = lines[0].find("name");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(lines[i].size(), lines[0].size());
        const std::string_view kindText = AccessKindName(records[i - 1].Kind);
        EXPECT_EQ(lines[i].substr(kind, kindText.size()), kindText);
        EXPECT_NE(lines[i][name], ' ');
    }
    EXPECT_NE(lines[2].find("0x78"), std::string::npos);
    EXPECT_NE(lines[2].find("0x51"), std::string::npos); // 'Q'
}

TEST(RegisterOutput, MapInEveryFormat) {
    TRegisterMap map;
    for (const TRegisterAccess& a : Traffic()) {
        map.Add(a);
    }
    // JSON lines: the registers seen, then the slave.
    const std::vector<std::string> jsonLines = Lines(FormatRegisterMap(map, TOutputFormat::ofJsonl));
    ASSERT_EQ(jsonLines.size(), 8U); // 0x77..0x79, 0x40, 0x10 of slave 6, 0x20; slaves 2 and 6
    const json first = json::parse(jsonLines[0]);
    EXPECT_EQ(first.at("slave"), 2);
    EXPECT_EQ(first.at("address"), 0x20);
    EXPECT_TRUE(first.at("value").is_null()); // its reply was corrupted
    EXPECT_EQ(first.at("crc_errors"), 1);
    const json bank = json::parse(jsonLines[1]);
    EXPECT_EQ(bank.at("name"), "bank_select");
    EXPECT_EQ(bank.at("value"), 1);
    EXPECT_EQ(bank.at("writes"), 1);
    EXPECT_EQ(json::parse(jsonLines[3]).at("value"), 'Q');
    const json slave2 = json::parse(jsonLines[6]);
    EXPECT_EQ(slave2.size(), 3U);
    EXPECT_TRUE(slave2.at("device_id").is_null()); // 0x7A..0x7D unread
    EXPECT_EQ(json::parse(jsonLines[7]).at("slave"), 6);

    const std::vector<std::string> csv = Lines(FormatRegisterMap(map, TOutputFormat::ofCsv));
    ASSERT_EQ(csv.size(), 9U);
    EXPECT_EQ(csv[0], "slave,address,name,value,reads,writes,crc_errors,device_id,manufacturer_id");
    EXPECT_EQ(SplitCsv(csv[4]), (std::vector<std::string>{"2", "120", "device_id", "81", "1", "0", "0", "", ""}));
    EXPECT_EQ(SplitCsv(csv[8]).size(), 9U);

    const std::vector<std::string> table = Lines(FormatRegisterMap(map, TOutputFormat::ofTable));
    ASSERT_EQ(table.size(), 11U); // titles, 6 registers, a blank line, titles, 2 slaves
    EXPECT_NE(table[4].find("0x51"), std::string::npos);
    EXPECT_EQ(table[1].size(), table[0].size());
}

TEST(RegisterOutput, DeviceAndManufacturerIdsAsText) {
    TBus bus;
    TSlave& slave = bus.AddSlave(0, 1);
    const std::string id = "AB\"C,1";
    for (std::size_t i = 0; i < 6; ++i) {
        slave.Registers[0x78 + i] = static_cast<std::uint8_t>(id[i]);
    }
    slave.Registers[0x7E] = 'x';
    slave.Registers[0x7F] = 'y';
    const TRun run = bus.Run({Read(0, 0x78, 8)});
    TControlDecoder decoder;
    std::vector<TRegisterAccess> out;
    decoder.Feed(run.Frames, out);
    decoder.Finish(out);
    TRegisterMap map;
    for (const TRegisterAccess& a : out) {
        map.Add(a);
    }
    const std::vector<std::string> jsonLines = Lines(FormatRegisterMap(map, TOutputFormat::ofJsonl));
    const json ids = json::parse(jsonLines.back());
    EXPECT_EQ(ids.at("device_id"), id);
    EXPECT_EQ(ids.at("manufacturer_id"), "xy");
    const std::vector<std::string> csv = Lines(FormatRegisterMap(map, TOutputFormat::ofCsv));
    EXPECT_EQ(SplitCsv(csv.back()), (std::vector<std::string>{"0", "", "", "", "", "", "", id, "xy"}));
}

TEST(RegisterOutput, ExitStatusIsZeroOnlyWhenEveryAccessIsGood) {
    std::vector<TRegisterAccess> records = Traffic();
    EXPECT_EQ(RegisterExitStatus(records), 1);
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [](const TRegisterAccess& a) { return !AccessIsGood(a); }),
                  records.end());
    ASSERT_EQ(records.size(), 5U);
    EXPECT_EQ(RegisterExitStatus(records), 0);
    EXPECT_EQ(RegisterExitStatus({}), 0);
}

} // namespace
