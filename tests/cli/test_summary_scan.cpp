// The summary and the scan on known frames, and their merging across batch borders: however
// the frames are cut into batches, the result is that of one batch.
#include "frames.h"
#include "cli/scan.h"
#include "cli/summary.h"

#include <gtest/gtest.h>

namespace {

// The frames cut into batches of `size` frames; "?" is a line the reader could not read.
std::vector<TCaptureBatch> Batches(const std::vector<std::string>& texts, std::size_t size) {
    std::vector<TCaptureBatch> batches;
    for (std::size_t first = 0; first < texts.size(); first += size) {
        TCaptureBatch& batch = batches.emplace_back();
        for (std::size_t i = first; i < std::min(texts.size(), first + size); ++i) {
            AddFrame(batch, i + 1, texts[i], texts[i] == "?" ? TCaptureKind::ckInvalid
                                                              : TCaptureKind::ckHex);
        }
    }
    return batches;
}

// Runs the frames through `sink` as one input cut into batches of `size` frames.
void RunInBatches(TOutputSink& sink, const std::vector<std::string>& texts, std::size_t size) {
    TStringSinkOutput out;
    FeedSink(sink, Batches(texts, size), THexReader(), out);
}

TSummary SummaryInBatches(const TFrameLayout& layout, const std::vector<std::string>& texts,
                          std::size_t size) {
    TSummarySink sink(TOutputFormat::ofJsonl, layout.Params(), {});
    RunInBatches(sink, texts, size);
    return sink.Summary();
}

std::vector<std::uint64_t> ScanInBatches(const TScanner& scanner, const std::vector<std::string>& texts,
                                         std::size_t size) {
    TScanSink sink(TOutputFormat::ofJsonl, 0, scanner.CrcStart());
    RunInBatches(sink, texts, size);
    return sink.Counters();
}

TEST(Summary, KnownSetInAnyBatchCut) {
    const TFrameLayout layout;
    const std::vector<std::string> texts = {
        "C004C9BA71753000",                       // good, count 26440930, ACK 13
        MakeFrameHex(layout, 5, 100, 3, 0, 64),   // good
        MakeFrameHex(layout, 7, 999999, 3, 1, 64), // CRC error
        MakeFrameHex(layout, 9, 5000, 3, 0, 64),  // good
        "?",                                      // a line the reader could not read
        MakeFrameHex(layout, 4, 4000, 1, 0, 64),  // good, error flag
        "0000000000000000",                       // no start bit
        MakeFrameHex(layout, 30, 7, 3, 0, 64),    // CRC cut off: truncated, CRC error
        MakeFrameHex(layout, 6, 4100, 2, 0, 64),  // good, warning flag
    };
    const std::string expected =
        "{\"frames\":9,\"decoded\":7,\"invalid\":1,\"no_start_bit\":1,\"crc_ok\":5,\"crc_error\":2,"
        "\"truncated\":1,\"errors\":1,\"warnings\":1,\"ack_min\":4,\"ack_max\":30,"
        "\"position_min\":100,\"position_max\":26440930,\"largest_jump\":26440830}\n";
    for (std::size_t size = 1; size <= texts.size(); ++size) {
        const TSummary summary = SummaryInBatches(layout, texts, size);
        EXPECT_EQ(FormatSummary(summary, TOutputFormat::ofJsonl, layout.Params(), {}), expected)
            << "batches of " << size;
        EXPECT_FALSE(summary.AllGood());
    }
    const TSummary summary = SummaryInBatches(layout, texts, 4);
    const std::string table = FormatSummary(summary, TOutputFormat::ofTable, layout.Params(),
                                            TScale{true, 0.5, "mm"});
    EXPECT_NE(table.find("\nlargest jump    26440830  (13220415.0000 mm)\n"), std::string::npos) << table;
    EXPECT_EQ(FormatSummary(summary, TOutputFormat::ofCsv, layout.Params(), {}),
              "frames,decoded,invalid,no_start_bit,crc_ok,crc_error,truncated,errors,warnings,"
              "ack_min,ack_max,position_min,position_max,largest_jump\n"
              "9,7,1,1,5,2,1,1,1,4,30,100,26440930,26440830\n");
}

TEST(Summary, SignedCountsJumpsAndEmptyInput) {
    TFrameLayoutParams params;
    params.PositionBits = 16;
    params.Signed = true;
    const TFrameLayout layout(params);
    const std::vector<std::string> texts = {
        MakeFrameHex(layout, 3, static_cast<std::uint64_t>(-5), 3, 0, 64),
        MakeFrameHex(layout, 3, 5, 3, 0, 64),
        MakeFrameHex(layout, 3, static_cast<std::uint64_t>(-3), 3, 0, 64),
    };
    for (std::size_t size = 1; size <= 3; ++size) {
        const std::string json = FormatSummary(SummaryInBatches(layout, texts, size),
                                               TOutputFormat::ofJsonl, params, {});
        EXPECT_NE(json.find("\"position_min\":-5,\"position_max\":5,\"largest_jump\":10}"),
                  std::string::npos) << json;
    }
    EXPECT_TRUE(SummaryInBatches(layout, texts, 2).AllGood());

    // Two inputs: the jump from the last frame of one to the first of the next does not count.
    TSummarySink sink(TOutputFormat::ofJsonl, params, {});
    TStringSinkOutput out;
    for (const std::uint64_t count : {std::uint64_t{0}, std::uint64_t{30000}}) {
        std::vector<TCaptureBatch> batches(1);
        AddFrame(batches[0], 1, MakeFrameHex(layout, 3, count, 3, 0, 64));
        FeedSink(sink, batches, THexReader(), out, count != 0 ? 1 : 0);
    }
    EXPECT_EQ(sink.Summary().LargestJump, 0U);

    EXPECT_EQ(FormatSummary(TSummary{}, TOutputFormat::ofJsonl, params, {}),
              "{\"frames\":0,\"decoded\":0,\"invalid\":0,\"no_start_bit\":0,\"crc_ok\":0,"
              "\"crc_error\":0,\"truncated\":0,\"errors\":0,\"warnings\":0,\"ack_min\":null,"
              "\"ack_max\":null,\"position_min\":null,\"position_max\":null,\"largest_jump\":null}\n");
    EXPECT_FALSE(TSummary{}.AllGood());
}

TEST(Scan, TheDefaultFrameAloneFitsThreeLengths) {
    const TScanner scanner(0, 0);
    const std::vector<TScanCandidate> candidates =
        scanner.Candidates(ScanInBatches(scanner, {"C004C9BA71753000"}, 1));
    ASSERT_GE(candidates.size(), 3U);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(candidates[i].Length, std::vector<int>({17, 26, 41})[i]);
        EXPECT_EQ(candidates[i].Crc, 0x43U);
        EXPECT_TRUE(candidates[i].CrcInverted);
        EXPECT_EQ(candidates[i].Passed, 1U);
    }
    // No other 0x43 inverted candidate.
    for (std::size_t i = 3; i < candidates.size(); ++i) {
        EXPECT_FALSE(candidates[i].Crc == 0x43 && candidates[i].CrcInverted) << candidates[i].Length;
    }
    EXPECT_EQ(FormatScan(candidates, 1, TOutputFormat::ofJsonl).rfind(
                  "{\"length\":17,\"crc\":67,\"crc_start\":0,\"crc_inverted\":true,\"passed\":1,"
                  "\"frames\":1}\n{\"length\":26,", 0),
              0U);
}

TEST(Scan, VariedFramesSingleOutTheirLayout) {
    struct TCase {
        TFrameLayoutParams Params;
        std::int32_t Length; // the data length as the scan reports it
    };
    TFrameLayoutParams window;
    TFrameLayoutParams multiTurn;
    multiTurn.MultiTurnBits = 12;
    multiTurn.PositionBits = 20;
    multiTurn.CrcPolynomial = 0x190D9;
    multiTurn.CrcInverted = false;
    TFrameLayoutParams oneStatusBit;
    oneStatusBit.PositionBits = 18;
    oneStatusBit.StatusBits = 1;
    oneStatusBit.CrcPolynomial = 0x25;
    oneStatusBit.CrcStart = 0x11;
    const TCase cases[] = {{window, 26}, {multiTurn, 32}, {oneStatusBit, 17}};
    for (const TCase& c : cases) {
        const TFrameLayout layout(c.Params);
        const TScanner scanner(0, c.Params.CrcStart);
        std::vector<std::string> texts;
        for (std::uint64_t i = 0; i < 12; ++i) {
            texts.push_back(MakeFrameHex(layout, 2 + static_cast<std::int32_t>(i % 5),
                                         0x9E3779B97F4A7C15ULL * (i + 1), 3, 0, 128));
        }
        const std::vector<TScanCandidate> candidates =
            scanner.Candidates(ScanInBatches(scanner, texts, 5));
        ASSERT_FALSE(candidates.empty());
        EXPECT_EQ(candidates[0].Length, c.Length);
        EXPECT_EQ(candidates[0].Crc, c.Params.CrcPolynomial);
        EXPECT_EQ(candidates[0].CrcInverted, c.Params.CrcInverted);
        EXPECT_EQ(candidates[0].Passed, texts.size());
        // Longer lengths of the same polynomial can pass every frame too: frames padded with
        // zeros give them a verdict independent of the data. Nothing else does.
        for (std::size_t i = 1; i < candidates.size() && candidates[i].Passed == texts.size(); ++i) {
            EXPECT_EQ(candidates[i].Crc, c.Params.CrcPolynomial);
            EXPECT_GT(candidates[i].Length, c.Length);
        }
    }
}

} // namespace
