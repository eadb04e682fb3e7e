// The sinks on batches made by hand: every field of the one field table in every format, read
// back (JSON parsed, CSV split); the records and the summary of signal captures (frames of
// received bits with their timing, cut bursts); the table's scaled number as the window writes
// it; the medians of the signal summary.
#include "frames.h"
#include "readback.h"
#include "cli/records.h"
#include "decode/scalednumber.h"
#include "cli/summary.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <random>
#include <sstream>

namespace {

using nlohmann::ordered_json;

// A frame of the window's layout as a signal capture's reader delivers it: its bits exactly
// (BitCount need not be a multiple of 4), their hexadecimal text and its timing.
struct TSignalFrame {
    std::string Hex;
    std::uint16_t BitCount = 0;
    TFrameTiming Timing;
};

TSignalFrame MakeSignalFrame(int ack, bool cds, std::uint64_t count, TFrameTiming timing) {
    TFrameContent content;
    content.AckLength = ack;
    content.Cds = cds;
    content.Count = count;
    const TFrameLayoutParams window;
    TBitList bits = BuildFrame(window, content).Received;
    // The bits up to the CRC's end, not a whole number of digits.
    const std::size_t length = static_cast<std::size_t>(ack + 2 + 26 + 2 + 6);
    bits.Bits.resize(length);
    TSignalFrame frame{bits.Hex(), static_cast<std::uint16_t>(length), timing};
    return frame;
}

void AddSignalFrame(TCaptureBatch& batch, std::uint64_t burst, const TSignalFrame& frame) {
    AddFrame(batch, burst, frame.Hex, TCaptureKind::ckBits);
    batch.Frames.back().BitCount = frame.BitCount;
    batch.Timing.push_back(frame.Timing);
}

void AddCut(TCaptureBatch& batch, std::uint64_t burst, double time) {
    AddFrame(batch, burst, "", TCaptureKind::ckCut);
    batch.Timing.push_back(TFrameTiming{time, 0.0, 0.0, 0});
}

std::string RunRecords(TOutputFormat format, const std::vector<TCaptureBatch>& batches,
                       const TCaptureReader& reader, const TScale& scale = {}) {
    TRecordSink sink(format, TFrameLayoutParams{}, scale);
    TStringSinkOutput out;
    FeedSink(sink, batches, reader, out, 0, "run3.sr");
    return out.Text;
}

// The names of the fields a run writes, from the table.
std::vector<std::string> FieldNames(bool signal, bool scale) {
    std::vector<std::string> names;
    for (const TRecordFieldInfo& field : RecordFields()) {
        if ((field.Presence == TFieldPresence::fpSignal && !signal) ||
            (field.Presence == TFieldPresence::fpScale && !scale)) {
            continue;
        }
        names.emplace_back(field.Name);
    }
    return names;
}

TEST(FieldTable, TheOrderOfTheRecords) {
    EXPECT_EQ(FieldNames(true, true),
              (std::vector<std::string>{"source", "input", "outcome", "ack", "multiturn", "position",
                                        "count", "error", "warning", "crc_received", "crc_calculated",
                                        "crc_ok", "truncated", "cds", "time", "cdm", "clock_hz",
                                        "line_delay_s", "scaled", "unit"}));
}

// One decoded frame of received bits, one cut burst: every field in every format, read back.
TEST(FieldTable, EveryFieldOfASignalRecordReadsBack) {
    const TFrameTiming timing{0.123456789012345, 2500000.0 / 3.0, 1.25e-7, 1};
    const TSignalFrame frame = MakeSignalFrame(3, true, 26440930, timing);
    ASSERT_EQ(frame.BitCount % 4, 3); // the text has filler after the last bit
    std::vector<TCaptureBatch> batches(1);
    AddSignalFrame(batches[0], 1042, frame);
    AddCut(batches[0], 1043, 0.75);
    const TSignalStats stats{1.5, 0, 1};
    const THexReader reader(&stats);
    const TScale scale{true, 0.5, "mm"};
    const std::vector<std::string> names = FieldNames(true, true);

    // CSV: the header is the table's names; the values by name.
    const std::vector<std::string> csv = Lines(RunRecords(TOutputFormat::ofCsv, batches, reader, scale));
    ASSERT_EQ(csv.size(), 3U);
    EXPECT_EQ(SplitCsv(csv[0]), names);
    const std::vector<std::string> row = SplitCsv(csv[1]);
    ASSERT_EQ(row.size(), names.size());
    std::map<std::string, std::string> v;
    for (std::size_t i = 0; i < names.size(); ++i) {
        v[names[i]] = row[i];
    }
    const std::map<std::string, std::string> expected = {
        {"source", "run3.sr#1042"}, {"input", frame.Hex}, {"outcome", "decoded"}, {"ack", "3"},
        {"multiturn", "0"}, {"position", "26440930"}, {"count", "26440930"}, {"error", "false"},
        {"warning", "false"}, {"crc_ok", "true"}, {"truncated", "false"}, {"cds", "1"},
        {"cdm", "1"}, {"scaled", "13220465"}, {"unit", "mm"}};
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(v[key], value) << key;
    }
    // The window's CRC is sent inverted.
    EXPECT_EQ(std::stoi(v["crc_received"]), std::stoi(v["crc_calculated"]) ^ 0x3F);
    // The numbers read back as the very same doubles.
    EXPECT_EQ(std::stod(v["time"]), timing.Time);
    EXPECT_EQ(std::stod(v["clock_hz"]), timing.ClockHz);
    EXPECT_EQ(std::stod(v["line_delay_s"]), timing.LineDelay);
    const std::vector<std::string> cut = SplitCsv(csv[2]);
    ASSERT_EQ(cut.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string want = names[i] == "source" ? "run3.sr#1043"
                                 : names[i] == "outcome" ? "cut"
                                 : names[i] == "time"    ? "0.75"
                                                         : "";
        EXPECT_EQ(cut[i], want) << names[i];
    }

    // JSON: parsed, the keys in the table's order, the values typed.
    const std::vector<std::string> json = Lines(RunRecords(TOutputFormat::ofJsonl, batches, reader, scale));
    ASSERT_EQ(json.size(), 2U);
    const ordered_json record = ordered_json::parse(json[0]);
    std::vector<std::string> keys;
    for (const auto& item : record.items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys, names);
    EXPECT_EQ(record["source"], "run3.sr#1042");
    EXPECT_EQ(record["ack"], 3);
    EXPECT_EQ(record["count"], 26440930);
    EXPECT_EQ(record["crc_ok"], true);
    EXPECT_EQ(record["cds"], 1);
    EXPECT_EQ(record["cdm"], 1);
    EXPECT_EQ(record["time"].get<double>(), timing.Time);
    EXPECT_EQ(record["clock_hz"].get<double>(), timing.ClockHz);
    EXPECT_EQ(record["line_delay_s"].get<double>(), timing.LineDelay);
    EXPECT_EQ(record["scaled"].get<double>(), 13220465.0);
    EXPECT_EQ(record["unit"], "mm");
    const ordered_json cutRecord = ordered_json::parse(json[1]);
    for (const auto& item : cutRecord.items()) {
        if (item.key() == "source" || item.key() == "input" || item.key() == "outcome" ||
            item.key() == "time") {
            continue;
        }
        EXPECT_TRUE(item.value().is_null()) << item.key();
    }
    EXPECT_EQ(cutRecord["outcome"], "cut");
    EXPECT_EQ(cutRecord["time"].get<double>(), 0.75);

    // Table: the titles in the table's order, the row's cells by column, the cut row ending
    // after its time.
    const std::vector<std::string> table = Lines(RunRecords(TOutputFormat::ofTable, batches, reader, scale));
    ASSERT_EQ(table.size(), 3U);
    std::vector<std::string> titles;
    std::istringstream header(table[0]);
    for (std::string title; header >> title;) {
        titles.push_back(title);
    }
    std::vector<std::string> tableNames = names;
    tableNames.erase(std::find(tableNames.begin(), tableNames.end(), "multiturn"));
    EXPECT_EQ(titles, tableNames);
    // The numbers for people (time in ns, 7 digits of the clock, 4 of the line delay),
    // aligned right in their columns.
    EXPECT_NE(table[1].find(" yes     no           1    0.123456789    1    833333.3     1.250e-07"
                            "  13220465.0000  mm"),
              std::string::npos)
        << table[1];
    EXPECT_EQ(table[2].substr(table[2].size() - 15), "    0.750000000") << table[2];
    EXPECT_EQ(table[2].rfind("run3.sr#1043", 0), 0U);
}

// A whole batch written at once (the sink's path) is the records written one by one, in every
// format, with and without the fields of signal captures and of a scale, over frames that
// decode, fail their CRC, lack a start bit, cannot be read or were cut; it counts exactly the
// frames with a good CRC, and every CSV row has the header's columns.
TEST(FieldTable, ABatchIsItsRecordsOneByOne) {
    const TFrameLayoutParams params;
    const TFrameLayout layout(params);
    for (const bool signal : {false, true}) {
        TCaptureBatch batch;
        if (signal) {
            AddSignalFrame(batch, 1, MakeSignalFrame(3, true, 26440930, {0.001, 1e6, 2.5e-7, 1}));
            TSignalFrame bad = MakeSignalFrame(4, false, 12345, {0.002, 1e6, 2.5e-7, 0});
            bad.Hex[bad.Hex.size() / 2] = bad.Hex[bad.Hex.size() / 2] == '0' ? '1' : '0';
            AddSignalFrame(batch, 2, bad);
            AddCut(batch, 3, 0.003);
            AddFrame(batch, 4, "zz", TCaptureKind::ckInvalid);
            batch.Timing.push_back(TFrameTiming{0.004, 0.0, 0.0, 0});
        } else {
            AddFrame(batch, 1, "C004C9BA71753000");
            AddFrame(batch, 2, "C004C9BA71853000"); // a CRC error
            AddFrame(batch, 3, "0000000000000000");
            AddFrame(batch, 4, "zz,\"q", TCaptureKind::ckInvalid);
            AddFrame(batch, 5, "C004C9BA71753000");
        }
        for (const TOutputFormat format : {TOutputFormat::ofCsv, TOutputFormat::ofJsonl, TOutputFormat::ofTable}) {
            for (const bool scaled : {false, true}) {
                SCOPED_TRACE(testing::Message() << "format " << static_cast<int>(format) << " signal "
                                                << signal << " scale " << scaled);
                const TScale scale{scaled, 0.25, "deg"};
                TRecordFormatter formatter(format, params, scale, signal);
                TOutBuffer one;
                std::uint64_t good = 0;
                for (std::size_t i = 0; i < batch.Frames.size(); ++i) {
                    const TCaptureFrame& frame = batch.Frames[i];
                    const std::string_view input = FrameInput(batch, frame);
                    TDecodedRecord record = DecodeCaptureFrame(layout, frame, input);
                    if (signal) {
                        record.Timing = &batch.Timing[i];
                    }
                    good += record.Fields.Outcome == TDecodeOutcome::doDecoded && record.Fields.CrcOk ? 1 : 0;
                    formatter.AppendRecord(one, frame, input, record);
                }
                EXPECT_EQ(good, signal ? 1U : 2U);
                TOutBuffer all;
                EXPECT_EQ(formatter.AppendBatch(all, layout, batch), good);
                EXPECT_EQ(all.View(), one.View());
                EXPECT_EQ(Lines(std::string(all.View())).size(), batch.Frames.size());
                if (format == TOutputFormat::ofCsv) {
                    const std::size_t columns = SplitCsv(Lines(formatter.Header())[0]).size();
                    EXPECT_EQ(columns, FieldNames(signal, scaled).size());
                    for (const std::string& row : Lines(std::string(all.View()))) {
                        EXPECT_EQ(SplitCsv(row).size(), columns) << row;
                    }
                }
            }
        }
    }
}

// Frames of a signal capture decode from their bits, never as ParseFrameHex reads text: the
// same digits right-aligned in 64 bits would give another ACK and a bad CRC.
TEST(SignalRecords, BitsDecodeWithTheirBitCount) {
    const TFrameLayout layout;
    for (const int ack : {2, 3, 7, 20}) {
        for (const bool cds : {false, true}) {
            const TSignalFrame frame = MakeSignalFrame(ack, cds, 12345, {});
            TCaptureBatch batch;
            AddSignalFrame(batch, 1, frame);
            const TDecodedRecord record = DecodeCaptureFrame(layout, batch.Frames[0], frame.Hex);
            SCOPED_TRACE(frame.Hex);
            ASSERT_EQ(record.Fields.Outcome, TDecodeOutcome::doDecoded);
            EXPECT_EQ(record.Fields.AckLength, ack);
            EXPECT_EQ(record.Fields.Count, 12345U);
            EXPECT_TRUE(record.Fields.CrcOk);
            EXPECT_FALSE(record.Fields.Truncated);
            EXPECT_EQ(record.Cds, cds ? 1 : 0);
        }
    }
    // A frame that ends right after its start bit has no CDS bit; analyzer rows carry none.
    TCaptureBatch batch;
    AddFrame(batch, 1, "9", TCaptureKind::ckBits);
    batch.Frames[0].BitCount = 4; // 1001: the start bit is s3, the last
    const TDecodedRecord shortFrame = DecodeCaptureFrame(layout, batch.Frames[0], "9");
    EXPECT_EQ(shortFrame.Fields.Outcome, TDecodeOutcome::doDecoded);
    EXPECT_EQ(shortFrame.Cds, -1);
    TCaptureFrame row;
    row.Kind = TCaptureKind::ckBissFields;
    row.Data = TFrameData{26440930, 3, 42};
    EXPECT_EQ(DecodeCaptureFrame(layout, row, "").Cds, -1);
    // A bit count the text does not hold is an invalid frame, not a crash.
    batch.Frames[0].BitCount = 9;
    EXPECT_EQ(DecodeCaptureFrame(layout, batch.Frames[0], "9").Fields.Outcome,
              TDecodeOutcome::doInvalidInput);
}

TEST(SignalRecords, ACaptureOfFramesCannotBeFollowedByASignalCapture) {
    std::vector<TCaptureBatch> batches(1);
    AddFrame(batches[0], 1, "C004C9BA71753000");
    const TSignalStats stats{1.0, 0, 0};
    TStringSinkOutput out;
    TRecordSink records(TOutputFormat::ofCsv, TFrameLayoutParams{}, {});
    FeedSink(records, batches, THexReader(), out, 0, "a.txt");
    EXPECT_THROW(FeedSink(records, batches, THexReader(&stats), out, 1, "b.sr"), TInputError);

    // The other way round the frames' records leave the signal fields empty.
    TRecordSink signalFirst(TOutputFormat::ofCsv, TFrameLayoutParams{}, {});
    TStringSinkOutput both;
    std::vector<TCaptureBatch> signal(1);
    AddSignalFrame(signal[0], 7, MakeSignalFrame(3, false, 1, {0.5, 1e6, 1e-7, 0}));
    FeedSink(signalFirst, signal, THexReader(&stats), both, 0, "b.sr");
    FeedSink(signalFirst, batches, THexReader(), both, 1, "a.txt");
    const std::vector<std::string> lines = Lines(both.Text);
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_EQ(lines[2], "a.txt:1,C004C9BA71753000,decoded,13,0,26440930,26440930,false,false,42,21,"
                        "true,false,0,,,,");
}

// The table shows the scaled number as the window does: 15 significant digits, then a half
// rounded away from zero. The product 7/20000 x 1 is 0.00035 (a double just below it).
TEST(TableScaled, RoundsAsTheWindow) {
    std::vector<TCaptureBatch> batches(1);
    AddFrame(batches[0], 1, "C004000000FB0000"); // count 1
    const TScale scale{true, 7.0 / 20000.0, "u"};
    const std::string table = RunRecords(TOutputFormat::ofTable, batches, THexReader(), scale);
    EXPECT_NE(table.find("  0.0004  u\n"), std::string::npos) << table;
    // CSV and JSON keep the shortest text that reads back the same.
    EXPECT_NE(RunRecords(TOutputFormat::ofCsv, batches, THexReader(), scale).find(",0.00035,u\n"),
              std::string::npos);

    struct TCase {
        double Value;
        const char* Text;
    };
    const TCase cases[] = {
        {7.0 / 20000.0, "0.0004"},   {-7.0 / 20000.0, "-0.0004"}, {0.00025, "0.0003"},
        {2.5 * 0.0001, "0.0003"},     {1.00005, "1.0001"},         {-1.00005, "-1.0001"},
        {0.00004, "0.0000"},          {-0.00004, "0.0000"},        {1234567.00005, "1234567.0001"},
        {13220415.0, "13220415.0000"}, {33463655 * 7.0 / 20000.0, "11712.2793"},
    };
    for (const TCase& c : cases) {
        char text[MaxScaledNumberLength];
        EXPECT_EQ(std::string(text, WriteWindowScaled(text, c.Value)), c.Text) << c.Value;
    }
    // Against the window's own text, its groups of thousands left out, over many magnitudes.
    std::mt19937_64 random(3);
    for (int i = 0; i < 20000; ++i) {
        const double value = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 90)) *
                             (random() % 2 == 0 ? 1 : -1);
        std::u16string window = FormatScaledNumber(value, TRegionalSeparators{u'.', u','});
        window.erase(std::remove(window.begin(), window.end(), u','), window.end());
        char text[MaxScaledNumberLength];
        const std::string mine(text, WriteWindowScaled(text, value));
        ASSERT_EQ(std::u16string(mine.begin(), mine.end()), window) << value;
    }
}

TEST(GridMedian, MedianOfTheRoundedValuesInBoundedMemory) {
    EXPECT_EQ(TGridMedian::Rounded(0.000123456), 0.00012346);
    EXPECT_EQ(TGridMedian::Rounded(2500000.0), 2500000.0);
    EXPECT_EQ(TGridMedian::Rounded(99999.5), 100000.0);
    EXPECT_EQ(TGridMedian::Rounded(1e-9), 1e-9);
    EXPECT_EQ(TGridMedian::Rounded(833333.33333), 833330.0);

    std::mt19937_64 random(11);
    for (const std::size_t count : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{1000},
                                    std::size_t{1001}}) {
        std::vector<double> values;
        TGridMedian median;
        TGridMedian left;
        TGridMedian right;
        for (std::size_t i = 0; i < count; ++i) {
            // A clock near 2 MHz with jitter, spread over a decade boundary now and then.
            const double value = (i % 7 == 0 ? 1.0e6 : 2.0e6) * (1.0 + static_cast<double>(random() % 2001) * 1e-6 - 1e-3);
            values.push_back(value);
            median.Add(value);
            (i < count / 2 ? left : right).Add(value);
        }
        std::vector<double> rounded;
        for (const double value : values) {
            rounded.push_back(TGridMedian::Rounded(value));
        }
        std::sort(rounded.begin(), rounded.end());
        const double lower = rounded[(count - 1) / 2];
        EXPECT_EQ(median.Median(), lower) << count;
        EXPECT_EQ(median.Min(), *std::min_element(values.begin(), values.end()));
        EXPECT_EQ(median.Max(), *std::max_element(values.begin(), values.end()));
        left.Merge(right);
        EXPECT_EQ(left.Median(), lower) << count;
        EXPECT_EQ(left.Min(), median.Min());
    }
    TGridMedian ignored;
    ignored.Add(0.0);
    ignored.Add(-1.0);
    ignored.Add(std::numeric_limits<double>::infinity());
    EXPECT_TRUE(ignored.Empty());
}

// The signal rows of the summary, the same however the frames are cut into batches.
TEST(SignalSummary, KnownCaptureInAnyBatchCut) {
    // Starts 0.001 s apart but one gap of 0.0025 s; one cut burst at the end; clocks of
    // 1 MHz and 1.000004 MHz (the same to 5 digits) and one of 2 MHz.
    struct TTimed {
        double Time;
        double ClockHz;
        double LineDelay;
        bool Cut;
    };
    const TTimed frames[] = {
        {0.001, 1.0e6, 2.0e-7, false}, {0.002, 1.000004e6, 3.0e-7, false},
        {0.003, 2.0e6, 1.0e-7, false}, {0.0055, 1.0e6, 2.5e-7, false},
        {0.0065, 1.0e6, 2.0e-7, false}, {0.007, 0.0, 0.0, true},
    };
    const TSignalStats stats{0.0075, 3, 1};
    std::string first;
    for (std::size_t size = 1; size <= std::size(frames); ++size) {
        std::vector<TCaptureBatch> batches;
        for (std::size_t i = 0; i < std::size(frames); ++i) {
            if (i % size == 0) {
                batches.emplace_back();
            }
            const TTimed& t = frames[i];
            if (t.Cut) {
                AddCut(batches.back(), i + 1, t.Time);
            } else {
                AddSignalFrame(batches.back(), i + 1,
                               MakeSignalFrame(3, false, 1000 + i, {t.Time, t.ClockHz, t.LineDelay, 0}));
            }
        }
        TSummarySink sink(TOutputFormat::ofJsonl, TFrameLayoutParams{}, {});
        TStringSinkOutput out;
        FeedSink(sink, batches, THexReader(&stats), out);
        EXPECT_EQ(sink.Finish(5, out), 0);
        const ordered_json summary = ordered_json::parse(out.Text);
        SCOPED_TRACE(out.Text);
        EXPECT_EQ(summary["frames"], 5); // the cut burst is no frame
        EXPECT_EQ(summary["crc_ok"], 5);
        EXPECT_EQ(summary["duration_s"].get<double>(), 0.0075);
        EXPECT_EQ(summary["frame_rate_hz"].get<double>(), 4 / (0.0065 - 0.001));
        EXPECT_EQ(summary["clock_hz_min"].get<double>(), 1.0e6);
        EXPECT_EQ(summary["clock_hz_median"].get<double>(), 1.0e6);
        EXPECT_EQ(summary["clock_hz_max"].get<double>(), 2.0e6);
        EXPECT_EQ(summary["line_delay_s_min"].get<double>(), 1.0e-7);
        EXPECT_EQ(summary["line_delay_s_median"].get<double>(), 2.0e-7);
        EXPECT_EQ(summary["line_delay_s_max"].get<double>(), 3.0e-7);
        EXPECT_DOUBLE_EQ(summary["largest_gap_s"].get<double>(), 0.0025);
        EXPECT_EQ(summary["glitches"], 3);
        EXPECT_EQ(summary["cut"], 1);
        if (size == 1) {
            first = out.Text;
        } else {
            EXPECT_EQ(out.Text, first) << "batches of " << size;
        }
    }
}

// The summary table shows the signal numbers by the table's rules; CSV keeps the texts that
// read back as the same doubles.
TEST(SignalSummary, TableShowsNumbersForPeopleCsvKeepsThemExact) {
    const double clock = 999999.9999999994;
    const double delay = 2.500000000000061e-07;
    std::vector<TCaptureBatch> batches(1);
    AddSignalFrame(batches[0], 1, MakeSignalFrame(3, false, 1, {1.2e-05, clock, delay, 0}));
    AddSignalFrame(batches[0], 2, MakeSignalFrame(3, false, 2, {6.9e-05, clock, delay, 0}));
    const TSignalStats stats{0.0001, 0, 0};
    std::map<std::string, std::string> shown;
    for (const TOutputFormat format : {TOutputFormat::ofTable, TOutputFormat::ofCsv}) {
        TSummarySink sink(format, TFrameLayoutParams{}, {});
        TStringSinkOutput out;
        FeedSink(sink, batches, THexReader(&stats), out);
        sink.Finish(2, out);
        const std::vector<std::string> lines = Lines(out.Text);
        if (format == TOutputFormat::ofCsv) {
            ASSERT_EQ(lines.size(), 2U);
            const std::vector<std::string> keys = SplitCsv(lines[0]);
            const std::vector<std::string> values = SplitCsv(lines[1]);
            ASSERT_EQ(keys.size(), values.size());
            std::map<std::string, std::string> v;
            for (std::size_t i = 0; i < keys.size(); ++i) {
                v[keys[i]] = values[i];
            }
            EXPECT_EQ(std::stod(v["clock_hz_min"]), clock);
            EXPECT_EQ(std::stod(v["line_delay_s_min"]), delay);
            EXPECT_EQ(std::stod(v["largest_gap_s"]), 6.9e-05 - 1.2e-05);
            EXPECT_EQ(std::stod(v["frame_rate_hz"]), 1 / (6.9e-05 - 1.2e-05));
            continue;
        }
        // Table rows: the label, two blanks or more, the value aligned to the right.
        for (const std::string& line : lines) {
            const std::size_t gap = line.find("  ");
            ASSERT_NE(gap, std::string::npos) << line;
            shown[line.substr(0, gap)] = line.substr(line.find_first_not_of(' ', gap));
        }
    }
    const std::map<std::string, std::string> expected = {
        {"duration (s)", "0.000100000"},       {"frame rate (Hz)", "17543.86"},
        {"clock min (Hz)", "1000000"},         {"clock median (Hz)", "1000000"},
        {"clock max (Hz)", "1000000"},         {"line delay min (s)", "2.500e-07"},
        {"line delay median (s)", "2.500e-07"}, {"line delay max (s)", "2.500e-07"},
        {"largest gap (s)", "0.000057000"},    {"frames", "2"}};
    for (const auto& [label, value] : expected) {
        EXPECT_EQ(shown[label], value) << label;
    }
}

// Two captures: the gap and the frame rate never span them; without the reader's counts the
// duration and the glitches are unknown and the cut bursts are those delivered.
TEST(SignalSummary, TwoCapturesAndNoReaderCounts) {
    TSummarySink sink(TOutputFormat::ofCsv, TFrameLayoutParams{}, {});
    TStringSinkOutput out;
    for (std::size_t input = 0; input < 2; ++input) {
        std::vector<TCaptureBatch> batches(1);
        const double start = input == 0 ? 0.0 : 100.0;
        AddSignalFrame(batches[0], 1, MakeSignalFrame(3, false, 1, {start, 1e6, 1e-7, 0}));
        AddSignalFrame(batches[0], 2, MakeSignalFrame(3, false, 2, {start + 0.5, 1e6, 1e-7, 0}));
        AddCut(batches[0], 3, start + 0.75);
        class TNoStatsSignal final : public THexReader {
        public:
            char SourceSeparator() const override { return '#'; }
        };
        FeedSink(sink, batches, TNoStatsSignal(), out, input);
    }
    sink.Finish(4, out);
    const std::vector<std::string> lines = Lines(out.Text);
    ASSERT_EQ(lines.size(), 2U);
    const std::vector<std::string> keys = SplitCsv(lines[0]);
    const std::vector<std::string> values = SplitCsv(lines[1]);
    ASSERT_EQ(keys.size(), values.size());
    std::map<std::string, std::string> v;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        v[keys[i]] = values[i];
    }
    EXPECT_EQ(v["frame_rate_hz"], "2"); // one interval of 0.5 s in each capture
    EXPECT_EQ(v["largest_gap_s"], "0.5");
    EXPECT_EQ(v["duration_s"], "");
    EXPECT_EQ(v["glitches"], "");
    EXPECT_EQ(v["cut"], "2");
    EXPECT_EQ(keys.back(), "cut");
}

} // namespace
