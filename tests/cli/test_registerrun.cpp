// corvane-decode --registers run as a user runs it, on the sample captures with register
// traffic: the records in every output format read back and compared with the master's
// script, the register map, the exit statuses, inputs that carry no CDM bit, several inputs,
// and the records of a capture read back as CSV giving the same register records.
#include "controlwaveform.h"
#include "programrun.h"
#include "readback.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;
using controlmodel::TExpected;

using TRunResult = TProgramRun;

// CSV text as rows of named fields.
std::vector<std::map<std::string, std::string>> ParseCsv(const std::string& text) {
    const std::vector<std::string> lines = Lines(text);
    std::vector<std::map<std::string, std::string>> rows;
    if (lines.empty()) {
        return rows;
    }
    const std::vector<std::string> header = SplitCsv(lines[0]);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> fields = SplitCsv(lines[i]);
        EXPECT_EQ(fields.size(), header.size()) << lines[i];
        std::map<std::string, std::string> row;
        for (std::size_t k = 0; k < header.size() && k < fields.size(); ++k) {
            row[header[k]] = fields[k];
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<nlohmann::json> ParseJsonLines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    for (const std::string& line : Lines(text)) {
        objects.push_back(nlohmann::json::parse(line));
    }
    return objects;
}

// What the sample's master did, as the records must say: the register sample script run on
// the sample's bus, as make_register_samples made the files.
const std::vector<TExpected>& SampleAccesses() {
    static const std::vector<TExpected> expected = [] {
        controlmodel::TRun run;
        controlwaveform::BuildRegisterSampleWaveform(&run);
        return run.Expected;
    }();
    return expected;
}

class RegisterRun : public TProgramFolderTest {
protected:
    // The folder holds the samples the tests read.
    void SetUp() override {
        TProgramFolderTest::SetUp();
        for (const char* name : {"signal-registers.sr", "signal-registers.vcd", "hex-frames.txt"}) {
            fs::copy_file(fs::path(CLI_CAPTURE_DATA_DIR) / name, FDir / name);
        }
    }
};

// The standard register names of the sample's addresses.
std::string NameOf(int address) {
    if (address >= 0x44 && address <= 0x47) {
        return "serial_number";
    }
    if (address >= 0x78 && address <= 0x7D) {
        return "device_id";
    }
    if (address >= 0x7E) {
        return "manufacturer_id";
    }
    return "";
}

TEST_F(RegisterRun, CsvRecordsAreTheMastersScript) {
    for (const char* sample : {"signal-registers.sr", "signal-registers.vcd"}) {
        SCOPED_TRACE(sample);
        const TRunResult run = Run(std::string("--registers --format csv ") + sample);
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Err, "");
        const auto rows = ParseCsv(run.Out);
        const std::vector<TExpected>& want = SampleAccesses();
        ASSERT_EQ(rows.size(), want.size());
        double lastTime = -1;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE("access " + std::to_string(i));
            auto row = rows[i];
            EXPECT_EQ(row["source"], sample);
            EXPECT_EQ(row["kind"], want[i].Kind == TAccessKind::akWrite ? "write" : "read");
            EXPECT_EQ(row["slave"], "0");
            EXPECT_EQ(row["address"], std::to_string(want[i].Address));
            EXPECT_EQ(row["data"], std::to_string(want[i].Data));
            EXPECT_EQ(row["frame"], std::to_string(want[i].Frame + 1)); // bursts count from 1
            EXPECT_EQ(row["crc_ok"], "true");
            EXPECT_EQ(row["complete"], "true");
            EXPECT_EQ(row["lag"], want[i].Kind == TAccessKind::akRead ? "1" : "");
            EXPECT_EQ(row["name"], NameOf(want[i].Address));
            // The sample's header CRCs cover ID and address only.
            EXPECT_EQ(row["crc_covers_cts"], "false");
            const double time = std::stod(row["time"]);
            EXPECT_GT(time, lastTime); // capture order
            lastTime = time;
        }
    }
}

TEST_F(RegisterRun, JsonAndTableSayWhatCsvSays) {
    const auto csv = ParseCsv(Run("--registers --format csv signal-registers.vcd").Out);
    const TRunResult json = Run("--registers --format jsonl signal-registers.vcd");
    EXPECT_EQ(json.Status, 0) << json.Err;
    const std::vector<nlohmann::json> objects = ParseJsonLines(json.Out);
    ASSERT_EQ(objects.size(), csv.size());
    ASSERT_FALSE(objects.empty());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        SCOPED_TRACE("access " + std::to_string(i));
        const nlohmann::json& o = objects[i];
        auto row = csv[i];
        EXPECT_EQ(o.at("source"), "signal-registers.vcd");
        EXPECT_EQ(o.at("frame").get<std::uint64_t>(), std::stoull(row["frame"]));
        EXPECT_DOUBLE_EQ(o.at("time").get<double>(), std::stod(row["time"]));
        EXPECT_EQ(o.at("kind"), row["kind"]);
        EXPECT_EQ(o.at("address").get<int>(), std::stoi(row["address"]));
        EXPECT_EQ(o.at("data").get<int>(), std::stoi(row["data"]));
        EXPECT_EQ(o.at("crc_ok"), true);
        EXPECT_EQ(o.at("complete"), true);
        EXPECT_EQ(o.at("name"), row["name"]);
        if (row["kind"] == "write") {
            EXPECT_TRUE(o.at("lag").is_null());
        }
        EXPECT_TRUE(o.at("slave_mask").is_null()); // no commands in the sample
    }

    const TRunResult table = Run("--registers --format table signal-registers.vcd");
    EXPECT_EQ(table.Status, 0) << table.Err;
    const std::vector<std::string> lines = Lines(table.Out);
    ASSERT_EQ(lines.size(), csv.size() + 1);
    for (const char* title : {"source", "frame", "time", "kind", "slave", "address", "data", "crc_ok", "complete",
                              "lag", "name"}) {
        EXPECT_NE(lines[0].find(title), std::string::npos) << title;
    }
    // The write of 0x5A to 0x10, in hexadecimal, with a dash for its lag.
    const std::string& write = lines[1 + 12];
    EXPECT_NE(write.find("write"), std::string::npos) << write;
    EXPECT_NE(write.find(" 0x10 "), std::string::npos) << write;
    EXPECT_NE(write.find(" 0x5A "), std::string::npos) << write;
    EXPECT_NE(write.find(" - "), std::string::npos) << write;
    EXPECT_NE(lines[1].find("serial_number"), std::string::npos) << lines[1];
}

TEST_F(RegisterRun, TheMapInEveryFormat) {
    const TRunResult json = Run("--registers --summary --format jsonl signal-registers.sr");
    EXPECT_EQ(json.Status, 0) << json.Err;
    const std::vector<nlohmann::json> objects = ParseJsonLines(json.Out);
    // 13 addresses in order (0x10, 0x44-0x47, 0x78-0x7F), then the one slave.
    ASSERT_EQ(objects.size(), 14U);
    EXPECT_EQ(objects[0].at("address"), 0x10);
    const std::uint8_t values[] = {0x00, 0x12, 0xD6, 0x87};
    for (std::size_t i = 0; i < 13; ++i) {
        const nlohmann::json& o = objects[i];
        EXPECT_EQ(o.at("slave"), 0);
        const int address = o.at("address").get<int>();
        SCOPED_TRACE(address);
        EXPECT_EQ(o.at("name"), NameOf(address));
        EXPECT_EQ(o.at("crc_errors"), 0);
        if (address == 0x10) {
            EXPECT_EQ(o.at("value"), 0x5A);
            EXPECT_EQ(o.at("reads"), 1);
            EXPECT_EQ(o.at("writes"), 1);
        } else {
            EXPECT_EQ(o.at("reads"), 1);
            EXPECT_EQ(o.at("writes"), 0);
        }
        if (address >= 0x44 && address <= 0x47) {
            EXPECT_EQ(o.at("value"), values[address - 0x44]);
        }
    }
    EXPECT_EQ(objects[13], nlohmann::json::parse(R"({"slave":0,"device_id":"CV-R26","manufacturer_id":"CV"})"));

    const TRunResult csv = Run("--registers --summary --format csv signal-registers.sr");
    EXPECT_EQ(csv.Status, 0) << csv.Err;
    const auto rows = ParseCsv(csv.Out);
    ASSERT_EQ(rows.size(), 14U);
    auto slave = rows[13];
    EXPECT_EQ(slave["device_id"], "CV-R26");
    EXPECT_EQ(slave["manufacturer_id"], "CV");
    EXPECT_EQ(slave["value"], "");

    // The table is the default for the map.
    const TRunResult table = Run("--registers --summary signal-registers.sr");
    EXPECT_EQ(table.Status, 0) << table.Err;
    EXPECT_NE(table.Out.find("device_id"), std::string::npos);
    EXPECT_NE(table.Out.find("CV-R26"), std::string::npos);
    EXPECT_NE(table.Out.find("serial_number"), std::string::npos);
}

// The records of a capture written as CSV, then read back: the same register records, the
// source's name aside; and the same frame records.
TEST_F(RegisterRun, CsvRecordsOfACaptureGiveTheSameAccesses) {
    for (const char* sample : {"signal-registers.sr", "signal-registers.vcd"}) {
        SCOPED_TRACE(sample);
        const TRunResult records = Run(std::string("--format csv ") + sample);
        ASSERT_EQ(records.Status, 0) << records.Err;
        Write("r.csv", records.Out);
        for (const char* format : {"csv", "jsonl"}) {
            const TRunResult direct = Run(std::string("--registers --format ") + format + " " + sample);
            const TRunResult back = Run(std::string("--registers --format ") + format + " r.csv");
            EXPECT_EQ(back.Status, 0) << back.Err;
            std::string expected = direct.Out;
            for (std::size_t at = 0; (at = expected.find(sample, at)) != std::string::npos;) {
                expected.replace(at, std::string(sample).size(), "r.csv");
            }
            EXPECT_EQ(back.Out, expected);
            EXPECT_FALSE(back.Out.empty());
        }
        // The frames decode as they did: the same records under the new name.
        const TRunResult again = Run("--format csv r.csv");
        std::string expected = records.Out;
        for (std::size_t at = 0; (at = expected.find(sample, at)) != std::string::npos;) {
            expected.replace(at, std::string(sample).size(), "r.csv");
        }
        EXPECT_EQ(again.Out, expected);
        EXPECT_EQ(again.Status, 0) << again.Err;
    }
}

// A damaged reply, a capture that ends inside an access, inputs without CDM bits.
TEST_F(RegisterRun, ExitStatuses) {
    const std::vector<std::string> records = Lines(Run("--format csv signal-registers.vcd").Out);
    const auto rows = ParseCsv(Run("--registers --format csv signal-registers.vcd").Out);
    ASSERT_EQ(rows.size(), SampleAccesses().size());
    auto first = rows[0];
    // The data phase's S, then twelve zeros; the slave's D7 answers the first of them one
    // frame later (lag 1).
    const std::size_t replyStart = std::stoul(first["frame"]) + 2;
    std::vector<std::string> header = SplitCsv(records[0]);
    const std::size_t cdsColumn = static_cast<std::size_t>(std::find(header.begin(), header.end(), "cds") - header.begin());
    ASSERT_LT(cdsColumn, header.size());

    // The first reply's first data bit flipped: that read fails its CRC, the rest hold.
    {
        std::vector<std::string> damaged = records;
        std::vector<std::string> fields = SplitCsv(damaged[replyStart]); // line = burst + header
        ASSERT_EQ(fields[0], "signal-registers.vcd#" + std::to_string(replyStart));
        fields[cdsColumn] = fields[cdsColumn] == "1" ? "0" : "1";
        std::string row;
        for (const std::string& f : fields) {
            row += (row.empty() ? "" : ",") + f;
        }
        damaged[replyStart] = row;
        std::string text;
        for (const std::string& line : damaged) {
            text += line + "\n";
        }
        Write("damaged.csv", text);
        const TRunResult run = Run("--registers --format csv damaged.csv");
        EXPECT_EQ(run.Status, 1);
        const auto got = ParseCsv(run.Out);
        ASSERT_EQ(got.size(), rows.size());
        auto bad = got[0];
        EXPECT_EQ(bad["crc_ok"], "false");
        EXPECT_EQ(bad["complete"], "true");
        EXPECT_NE(bad["data"], first["data"]);
        for (std::size_t i = 1; i < got.size(); ++i) {
            auto row = got[i];
            EXPECT_EQ(row["crc_ok"], "true") << i;
        }
        // The map counts the failure and keeps no value for it.
        const TRunResult map = Run("--registers --summary --format jsonl damaged.csv");
        EXPECT_EQ(map.Status, 1);
        const nlohmann::json entry = ParseJsonLines(map.Out).at(1); // after 0x10
        EXPECT_EQ(entry.at("address"), 0x44);
        EXPECT_EQ(entry.at("crc_errors"), 1);
        EXPECT_TRUE(entry.at("value").is_null());
    }
    // Cut inside the first read's data phase: that read is incomplete, and nothing follows it.
    {
        std::string text;
        for (std::size_t i = 0; i <= replyStart; ++i) {
            text += records[i] + "\n";
        }
        Write("cut.csv", text);
        const TRunResult run = Run("--registers --format jsonl cut.csv");
        EXPECT_EQ(run.Status, 1);
        const std::vector<nlohmann::json> got = ParseJsonLines(run.Out);
        ASSERT_EQ(got.size(), 1U);
        EXPECT_EQ(got[0].at("complete"), false);
        EXPECT_EQ(got[0].at("address"), 0x44);
        EXPECT_TRUE(got[0].at("data").is_null());
    }
    // Inputs that carry no CDM bit: a usage error that says which inputs do, no output.
    for (const char* args : {"--registers hex-frames.txt", "--registers --summary hex-frames.txt",
                             "--registers --input csv --column input r.csv"}) {
        SCOPED_TRACE(args);
        Write("r.csv", "source,input\nx:1,C00000000000000000\n");
        const TRunResult run = Run(args);
        EXPECT_EQ(run.Status, 2);
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err.find("--registers needs the CDM bit"), std::string::npos) << run.Err;
        EXPECT_NE(run.Err.find("vcd"), std::string::npos) << run.Err;
        EXPECT_NE(run.Err.find("cdm"), std::string::npos) << run.Err;
    }
    EXPECT_EQ(Run("--registers missing.vcd").Status, 2);
}

// Each input is a stream of its own: an access cut at the end of one input is reported
// incomplete there and does not run on into the next, whose accesses are whole.
TEST_F(RegisterRun, SeveralInputs) {
    const TRunResult both = Run("--registers --format csv signal-registers.vcd signal-registers.sr");
    EXPECT_EQ(both.Status, 0) << both.Err;
    const auto rows = ParseCsv(both.Out);
    const std::size_t n = SampleAccesses().size();
    ASSERT_EQ(rows.size(), 2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        auto a = rows[i];
        auto b = rows[n + i];
        EXPECT_EQ(a["source"], "signal-registers.vcd");
        EXPECT_EQ(b["source"], "signal-registers.sr");
        EXPECT_EQ(a["frame"], b["frame"]);
        EXPECT_EQ(a["data"], b["data"]);
    }

    const std::vector<std::string> records = Lines(Run("--format csv signal-registers.vcd").Out);
    std::string half;
    for (std::size_t i = 0; i < records.size() / 2; ++i) {
        half += records[i] + "\n";
    }
    Write("half.csv", half);
    const TRunResult cut = Run("--registers --format csv half.csv signal-registers.sr");
    EXPECT_EQ(cut.Status, 1);
    const auto got = ParseCsv(cut.Out);
    ASSERT_GT(got.size(), n);
    std::size_t firstInput = 0;
    while (firstInput < got.size() && got[firstInput].at("source") == "half.csv") {
        ++firstInput;
    }
    ASSERT_EQ(got.size() - firstInput, n);
    auto last = got[firstInput - 1];
    EXPECT_EQ(last["complete"], "false");
    for (std::size_t i = firstInput; i < got.size(); ++i) {
        auto row = got[i];
        EXPECT_EQ(row["complete"], "true") << i;
        EXPECT_EQ(row["crc_ok"], "true") << i;
    }
    // The map of both: the counts add up, and a later input's values replace an earlier one's.
    const TRunResult map = Run("--registers --summary --format jsonl signal-registers.vcd signal-registers.sr");
    EXPECT_EQ(map.Status, 0) << map.Err;
    const nlohmann::json entry = ParseJsonLines(map.Out).at(0);
    EXPECT_EQ(entry.at("reads"), 2);

    // An input without CDM bits after one with them stops the run with status 2.
    const TRunResult mixed = Run("--registers --format csv signal-registers.vcd hex-frames.txt");
    EXPECT_EQ(mixed.Status, 2);
    EXPECT_NE(mixed.Err.find("hex-frames.txt: --registers needs the CDM bit"), std::string::npos) << mixed.Err;
}

} // namespace

namespace {

// A frame of records read back as the register run sees it.
struct TReadFrame {
    std::uint64_t Burst;
    TCaptureKind Kind;
    double Time;
    int Cdm; // -1: the frame has no CDM bit (not ckBits)
    int Cds; // as TFrameTiming::Cds
    std::uint16_t BitCount;
};

std::vector<TReadFrame> ReadRecords(const std::string& text, char& separator) {
    TMemoryByteSource source(text);
    const auto reader = OpenCaptureReader(source, TReaderOptions{});
    separator = reader->SourceSeparator();
    EXPECT_EQ(reader->Format(), "csv");
    TCaptureBatch batch;
    while (reader->ReadBatch(batch, 2)) { // batches of two: timing must follow the frames
    }
    EXPECT_EQ(batch.Timing.size(), batch.Frames.size());
    std::vector<TReadFrame> frames;
    for (std::size_t i = 0; i < batch.Frames.size() && i < batch.Timing.size(); ++i) {
        const TCaptureFrame& f = batch.Frames[i];
        const TFrameTiming& t = batch.Timing[i];
        const bool bits = f.Kind == TCaptureKind::ckBits;
        frames.push_back({f.Line, f.Kind, t.Time, bits ? t.Cdm : -1, t.Cds, f.BitCount});
    }
    return frames;
}

// Rows of records of a signal capture, each read back as its burst: cut bursts, bursts too
// long to be frames, a CDS bit stated empty, rows that cannot be read, sources without a burst
// number.
TEST(RecordsReadBack, RowsBecomeTheCapturesFrames) {
    const std::string header = "source,input,outcome,ack,cds,time,cdm,clock_hz,line_delay_s\n";
    const std::string text = header +
                             "\"a,b.sr#7\",,cut,,,0.5,,,\n"                   // a cut burst
                             "a.sr#8,D56B554B10,decoded,3,1,0.75,1,1e6,2.5e-7\n" // a frame
                             "a.sr#9,C0,decoded,3,,1.0,0,1e6,2.5e-7\n"          // CDS stated as none
                             "a.sr#10,90 clocks: more than a frame can hold,invalid,,,1.25,,,\n"
                             "a.sr#11,C0,decoded,3,0,soon,0,,\n"                // a time that is none
                             "a.sr#12,C0,decoded,3,2,1.5,0,,\n"                 // a bit that is none
                             "no burst,C0,decoded,3,0,1.75,1,,\n";              // burst: last + 1
    char separator = 0;
    const std::vector<TReadFrame> got = ReadRecords(text, separator);
    EXPECT_EQ(separator, '#');
    const std::vector<TReadFrame> want = {
        {7, TCaptureKind::ckCut, 0.5, -1, TFrameTiming::CdsFromBits, 0},
        {8, TCaptureKind::ckBits, 0.75, 1, 1, 40},
        {9, TCaptureKind::ckBits, 1.0, 0, -1, 8},
        {10, TCaptureKind::ckInvalid, 1.25, -1, TFrameTiming::CdsFromBits, 0},
        {11, TCaptureKind::ckInvalid, 1.25, -1, TFrameTiming::CdsFromBits, 0},
        {12, TCaptureKind::ckInvalid, 1.25, -1, TFrameTiming::CdsFromBits, 0},
        {13, TCaptureKind::ckBits, 1.75, 1, 0, 8},
    };
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(got[i].Burst, want[i].Burst);
        EXPECT_EQ(got[i].Kind, want[i].Kind);
        EXPECT_EQ(got[i].Time, want[i].Time);
        EXPECT_EQ(got[i].Cdm, want[i].Cdm);
        EXPECT_EQ(got[i].Cds, want[i].Cds);
        EXPECT_EQ(got[i].BitCount, want[i].BitCount);
    }

    // Without a cds column the bit comes from the frame's bits; a miso column stays the frame.
    const std::vector<TReadFrame> noCds = ReadRecords("source,input,time,cdm\nx#1,C0,0.5,1\n", separator);
    ASSERT_EQ(noCds.size(), 1U);
    EXPECT_EQ(noCds[0].Cds, TFrameTiming::CdsFromBits);
    const std::vector<TReadFrame> miso = ReadRecords("miso,input,time,cdm\nC004C9BA71753000,zz,0.5,1\n", separator);
    ASSERT_EQ(miso.size(), 1U);
    EXPECT_EQ(miso[0].Kind, TCaptureKind::ckBits);
    EXPECT_EQ(miso[0].BitCount, 64);
}

} // namespace
