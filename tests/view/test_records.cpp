// The records of the view against corvane-decode's own output for the sample captures: the
// CSV export byte for byte, and every cell of the table.
#include "view/captureloader.h"
#include "view/recordtable.h"
#include "viewtest.h"

#include <QFile>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

// Every record of a CSV text (RFC 4180, quoted fields may hold line breaks), without line ends.
std::vector<std::vector<std::string>> ParseCsvText(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::string record;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
        }
        if (c == '\n' && !quoted) {
            if (!record.empty() && record.back() == '\r') {
                record.pop_back();
            }
            records.push_back(SplitCsvRecord(record));
            record.clear();
        } else {
            record += c;
        }
    }
    return records;
}

struct TSample {
    const char* File;
    std::vector<std::string> Options; // corvane-decode's, as given on its command line
};

const TSample Samples[] = {
    {"hex-frames.txt", {}},
    {"hex-frames-crlf.txt", {}},
    {"hex-frames.txt", {"--length", "24", "--multiturn", "2", "--scale", "360/67108864:deg"}},
    {"hex-frames.txt", {"--signed", "--gray", "--crc-not-inverted"}},
    {"csv-frames.csv", {}},
    {"csv-frames.tsv", {}},
    {"saleae-table.csv", {}},
    {"saleae-spi.csv", {}},
    {"saleae-biss.csv", {}},
    {"sigrok-data.txt", {}},
    {"binary-frames.bin", {"--frame-bytes", "8"}},
    {"signal-biss.csv", {}},
    {"signal-biss.sr", {}},
    {"signal-biss.vcd", {}},
    {"signal-biss-binary", {"--clock", "0", "--data", "1"}},
    {"signal-biss-binary/digital_1.bin", {"--clock", "digital_0", "--data", "digital_1"}},
    {"signal-registers.sr", {}},
    {"signal-registers.vcd", {"--scale", "360/67108864:deg"}},
    {"signal-biss.vcd", {"--clock", "0", "--data", "1", "--length", "24"}},
};

std::string SamplePath(const char* file) {
    return std::string(CORVANE_CAPTURES_DIR) + "/" + file;
}

// The sample with its options run through corvane-decode with `mode` (its standard output in
// `expected`) and loaded by the view with the same options (into `capture`).
void DecodeBothWays(const TSample& sample, const std::string& mode, TCapture& capture, std::string& expected) {
    std::vector<std::string> args = sample.Options;
    args.push_back(SamplePath(sample.File));
    TLoadSettings settings;
    std::string error;
    ASSERT_TRUE(ParseLoadArguments(args, settings, error)) << error;
    std::string command = std::string(CORVANE_DECODE_EXE) + " " + mode;
    for (const std::string& a : args) {
        command += " " + Quoted(a);
    }
    int status = -1;
    expected = RunCommand(command, status);
    // 1 says that some frame failed; the output is written all the same.
    ASSERT_TRUE(status == 0 || status == 1) << status;
    TLoadProgress progress;
    const std::atomic<bool> cancel{false};
    ASSERT_EQ(LoadCapture(settings, capture, progress, cancel, error), TLoadResult::lrOk) << error;
}

} // namespace

TEST(Records, EqualCorvaneDecodeForTheSampleCaptures) {
    for (const TSample& sample : Samples) {
        const std::string path = SamplePath(sample.File);
        SCOPED_TRACE(path);
        TCapture capture;
        std::string expected;
        ASSERT_NO_FATAL_FAILURE(DecodeBothWays(sample, "--format csv", capture, expected));
        const TRecordSource records(capture);
        std::ostringstream out;
        ASSERT_TRUE(records.WriteCsv(out));
        EXPECT_EQ(out.str(), expected);

        // The table holds the same cells, row by row, as the view asks for them; the source
        // cell shows the file's name and the frame's place without the folder.
        const auto rows = ParseCsvText(expected);
        ASSERT_GE(rows.size(), 1U);
        TRecordTableModel model;
        model.SetRecords(records.Columns(), capture.Store.Size(),
                         [&records](std::size_t i) { return records.Fields(i); }, nullptr);
        ASSERT_EQ(static_cast<std::size_t>(model.columnCount()), rows[0].size());
        for (int c = 0; c < model.columnCount(); ++c) {
            EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString().toStdString(), rows[0][static_cast<std::size_t>(c)]);
        }
        ASSERT_EQ(static_cast<std::size_t>(model.rowCount()) + 1, rows.size());
        for (int r = 0; r < model.rowCount(); ++r) {
            const auto& want = rows[static_cast<std::size_t>(r) + 1];
            for (int c = 0; c < model.columnCount(); ++c) {
                const QModelIndex index = model.index(r, c);
                const std::string cell = model.data(index, Qt::ToolTipRole).toString().toStdString();
                const std::string wanted = static_cast<std::size_t>(c) < want.size() ? want[static_cast<std::size_t>(c)] : "";
                EXPECT_EQ(cell, wanted) << "row " << r << " column " << c;
                const std::string shown = model.data(index).toString().toStdString();
                const std::string name = std::filesystem::path(path).filename().string();
                EXPECT_EQ(shown, c == 0 ? name + wanted.substr(path.size()) : wanted)
                    << "row " << r << " column " << c;
            }
        }
    }
}

TEST(Records, TheCaptureHoldsWhatTheRecordsSay) {
    TLoadSettings settings;
    settings.File = SamplePath("hex-frames.txt");
    TCapture capture;
    TLoadProgress progress;
    const std::atomic<bool> cancel{false};
    std::string error;
    ASSERT_EQ(LoadCapture(settings, capture, progress, cancel, error), TLoadResult::lrOk) << error;
    const TCaptureStore& store = capture.Store;
    ASSERT_EQ(store.Size(), 6U);
    EXPECT_EQ(capture.FormatName, "hex");
    // The README's table: 0x19374E2, 0, 0x3FFFFFF, 0x1234567 with nE, 0x19374E3 with nW, a CRC error.
    EXPECT_EQ(store.Value(0), double(0x19374E2));
    EXPECT_EQ(store.Value(2), double(0x3FFFFFF));
    EXPECT_EQ(store.Marks(3), fmError);
    EXPECT_EQ(store.Marks(4), fmWarning);
    EXPECT_EQ(store.Marks(5), fmCrcError);
    EXPECT_EQ(store.Line(0), 2U);
    EXPECT_EQ(store.Totals().CrcErrors, 1U);
    EXPECT_EQ(progress.Frames.load(), 6U);
}

TEST(Records, LoadFailuresSayWhy) {
    struct TCase {
        TLoadSettings Settings;
        const char* Needle;
    };
    TLoadSettings unknown;
    unknown.File = SamplePath("hex-frames.txt");
    unknown.Format = "pdf";
    TLoadSettings missing;
    missing.File = SamplePath("no-such-file.txt");
    TLoadSettings layout;
    layout.File = SamplePath("hex-frames.txt");
    layout.Layout.PositionBits = 70;
    TLoadSettings scale;
    scale.File = SamplePath("hex-frames.txt");
    scale.ScaleText = "1/0";
    TLoadSettings binary;
    binary.File = SamplePath("binary-frames.bin");
    TLoadSettings channel;
    channel.File = SamplePath("signal-biss.vcd");
    channel.ClockChannel = "CK";
    TLoadSettings column;
    column.File = SamplePath("csv-frames.csv");
    column.Format = "csv";
    column.Column = "nothere";
    // Messages of the capture library name the side panel's fields, not command-line options.
    const TCase cases[] = {{unknown, "pdf"},
                           {missing, "cannot open"},
                           {layout, "70"},
                           {scale, "scale"},
                           {binary, "give \"Frame bytes\""},
                           {channel, "no channel \"CK\" for \"Clock channel\": "},
                           {column, "\"Column\""}};
    for (const TCase& c : cases) {
        TCapture capture;
        TLoadProgress progress;
        const std::atomic<bool> cancel{false};
        std::string error;
        EXPECT_EQ(LoadCapture(c.Settings, capture, progress, cancel, error), TLoadResult::lrFailed) << c.Needle;
        EXPECT_NE(error.find(c.Needle), std::string::npos) << error;
        EXPECT_EQ(error.find(" --"), std::string::npos) << error;
    }
}

TEST(Records, OptionsInMessagesBecomeTheFieldsThatHoldThem) {
    const std::pair<const char*, const char*> cases[] = {
        {"no channel named MA, CLK for the clock; give --clock NAME or INDEX: 0 A, 1 B",
         "no channel named MA, CLK for the clock; give \"Clock channel\" (a name or an index): 0 A, 1 B"},
        {"give --frame-bytes N, the number of bytes per frame, or --input with the format it is in",
         "give \"Frame bytes\", the number of bytes per frame, or \"Format\" with the format it is in"},
        {"no column \"x\"; choose one with --column, or give --input",
         "no column \"x\"; choose one with \"Column\", or give \"Format\""},
        {"--data and --clock name one channel", "\"Data channel\" and \"Clock channel\" name one channel"},
        // Only whole options: a longer word that starts like one stays.
        {"a --database-x and --clocks", "a --database-x and --clocks"},
        {"--datax --data", "--datax \"Data channel\""},
        {"no option here", "no option here"},
    };
    for (const auto& [message, shown] : cases) {
        EXPECT_EQ(InPanelTerms(message), shown);
    }
}

TEST(Records, CancelStopsTheLoad) {
    TLoadSettings settings;
    settings.File = SamplePath("hex-frames.txt");
    TCapture capture;
    TLoadProgress progress;
    const std::atomic<bool> cancel{true};
    std::string error;
    EXPECT_EQ(LoadCapture(settings, capture, progress, cancel, error), TLoadResult::lrCancelled);
    EXPECT_EQ(capture.Store.Size(), 0U);
}

TEST(Records, ScanFindsTheDefaultLayoutFirst) {
    TLoadSettings settings;
    settings.File = SamplePath("hex-frames.txt");
    settings.Layout.PositionBits = 12; // a wrong layout: the scan does not depend on it
    TCapture capture;
    TLoadProgress progress;
    const std::atomic<bool> cancel{false};
    std::string error;
    ASSERT_EQ(LoadCapture(settings, capture, progress, cancel, error), TLoadResult::lrOk);
    const auto candidates = ScanLayouts(capture, 5, cancel);
    ASSERT_FALSE(candidates.empty());
    EXPECT_EQ(candidates[0].PositionBits, 26);
    EXPECT_EQ(candidates[0].Crc, 0x43U);
    EXPECT_TRUE(candidates[0].CrcInverted);
    EXPECT_EQ(candidates[0].Passed, 5U);
    EXPECT_LE(candidates.size(), 5U);
}

TEST(Records, SplitsQuotedCsvFields) {
    struct TCase {
        const char* Record;
        std::vector<std::string> Fields;
    };
    const TCase cases[] = {
        {"a,b,c", {"a", "b", "c"}},
        {"\"x,y\",2", {"x,y", "2"}},
        {"\"say \"\"hi\"\"\",", {"say \"hi\"", ""}},
        {"\"line\nbreak\",z", {"line\nbreak", "z"}},
        {"", {""}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(SplitCsvRecord(c.Record), c.Fields) << c.Record;
    }
}

TEST(Records, CommandLineOptionsAreCorvaneDecodes) {
    TLoadSettings s;
    std::string error;
    ASSERT_TRUE(ParseLoadArguments({"-n", "20", "--multiturn", "4", "--crc", "0x25", "--crc-not-inverted", "--input",
                                    "csv", "--column", "data", "--scale=1/2:um", "f.csv"},
                                   s, error))
        << error;
    EXPECT_EQ(s.Layout.PositionBits, 20);
    EXPECT_EQ(s.Layout.MultiTurnBits, 4);
    EXPECT_EQ(s.Layout.CrcPolynomial, 0x25U);
    EXPECT_FALSE(s.Layout.CrcInverted);
    EXPECT_EQ(s.Format, "csv");
    EXPECT_EQ(s.Column, "data");
    EXPECT_EQ(s.ScaleText, "1/2:um");
    EXPECT_EQ(s.File, "f.csv");
    EXPECT_FALSE(ParseLoadArguments({"a.txt", "b.txt"}, s, error));
    EXPECT_FALSE(ParseLoadArguments({}, s, error));
    EXPECT_FALSE(ParseLoadArguments({"--length", "0", "a.txt"}, s, error));
    EXPECT_EQ(error.find("corvane-decode"), std::string::npos) << error;
    // An unknown option sends the user to the view's own help.
    EXPECT_FALSE(ParseLoadArguments({"--bogus", "a.txt"}, s, error));
    EXPECT_NE(error.find("--bogus"), std::string::npos) << error;
    EXPECT_EQ(error.find("corvane-decode"), std::string::npos) << error;
}

TEST(Records, TheSummaryIsCorvaneDecodes) {
    // The Summary tab's text for frame captures and signal captures, with and without a scale.
    const TSample samples[] = {
        {"hex-frames.txt", {}},
        {"signal-registers.vcd", {}},
        {"signal-biss.sr", {"--scale", "360/67108864:deg"}},
        {"signal-biss-binary", {"--clock", "0", "--data", "1"}},
    };
    for (const TSample& sample : samples) {
        SCOPED_TRACE(sample.File);
        TCapture capture;
        std::string expected;
        ASSERT_NO_FATAL_FAILURE(DecodeBothWays(sample, "--summary", capture, expected));
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(capture.SummaryText, expected);
    }
}
