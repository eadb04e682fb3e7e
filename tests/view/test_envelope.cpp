// The envelope against a brute-force walk over the frames, and the store it reads.
#include "view/envelope.h"
#include "view/plotpainter.h"
#include "viewtest.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEnvelopeSpan BruteSpan(const TCaptureStore& store, std::size_t first, std::size_t last) {
    TEnvelopeSpan span;
    for (std::size_t i = first; i < last; ++i) {
        const double v = store.Value(i);
        if (!std::isnan(v)) {
            span.Min = std::isnan(span.Min) ? v : std::min(span.Min, v);
            span.Max = std::isnan(span.Max) ? v : std::max(span.Max, v);
        }
        span.Marks |= store.Marks(i);
        if (i > 0) {
            const double step = std::fabs(v - store.Value(i - 1));
            if (step > span.MaxStep) {
                span.MaxStep = step;
            }
        }
    }
    return span;
}

void ExpectSameSpan(const TEnvelopeSpan& got, const TEnvelopeSpan& want, std::size_t first, std::size_t last) {
    SCOPED_TRACE("frames " + std::to_string(first) + " to " + std::to_string(last));
    EXPECT_EQ(got.HasValue(), want.HasValue());
    if (want.HasValue()) {
        EXPECT_EQ(got.Min, want.Min);
        EXPECT_EQ(got.Max, want.Max);
    }
    EXPECT_EQ(got.Marks, want.Marks);
    EXPECT_EQ(got.MaxStep, want.MaxStep);
}

} // namespace

TEST(Envelope, SpansEqualBruteForceOverRandomRanges) {
    for (const std::size_t n : {std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{17},
                                std::size_t{4097}, std::size_t{70000}}) {
        std::mt19937_64 random(n);
        TCaptureStore store;
        FillRandomStore(store, n, random);
        TEnvelope envelope;
        envelope.Build(store);
        std::uniform_int_distribution<std::size_t> pick(0, n);
        for (int k = 0; k < 300; ++k) {
            std::size_t a = pick(random);
            std::size_t b = pick(random);
            if (a > b) {
                std::swap(a, b);
            }
            ExpectSameSpan(envelope.Span(a, b), BruteSpan(store, a, b), a, b);
        }
        ExpectSameSpan(envelope.Span(0, n), BruteSpan(store, 0, n), 0, n);
    }
}

TEST(Envelope, EveryPixelColumnEqualsBruteForceAtRandomZooms) {
    std::mt19937_64 random(7);
    for (const bool withTime : {false, true}) {
        TCaptureStore store;
        FillRandomStore(store, 50000, random, withTime);
        TEnvelope envelope;
        envelope.Build(store);
        const double first = store.Time(0);
        const double last = store.Time(store.Size() - 1);
        std::uniform_real_distribution<double> where(first, last);
        std::uniform_real_distribution<double> zoom(-7.0, 0.3);
        for (int k = 0; k < 40; ++k) {
            TViewport view;
            const double span = (last - first) * std::pow(10.0, zoom(random));
            view.X0 = where(random) - span / 2;
            view.X1 = view.X0 + span;
            const int width = 37 + k * 23;
            const auto starts = ColumnStarts(view, width, store.Size(), [&store](std::size_t i) { return store.Time(i); });
            for (int c = 0; c < width; ++c) {
                const std::size_t a = starts[static_cast<std::size_t>(c)];
                const std::size_t b = starts[static_cast<std::size_t>(c) + 1];
                ExpectSameSpan(envelope.Span(a, b), BruteSpan(store, a, b), a, b);
                for (std::size_t i = a; i < b; ++i) {
                    ASSERT_EQ(ColumnOfX(view, store.Time(i), width), c) << "frame " << i;
                }
            }
        }
    }
}

TEST(Envelope, JumpMarkFollowsTheThreshold) {
    TEnvelopeSpan span;
    span.MaxStep = 100.0;
    EXPECT_EQ(SpanMarks(span, 0.0) & fmJump, 0);
    EXPECT_EQ(SpanMarks(span, 99.5) & fmJump, fmJump);
    EXPECT_EQ(SpanMarks(span, 100.0) & fmJump, 0);
}

TEST(CaptureStore, KeepsEveryFieldAndInputAcrossChunks) {
    TCaptureStore store;
    std::vector<std::string> inputs;
    // Inputs of many lengths, so that the texts cross the store's chunk boundaries.
    for (std::size_t i = 0; i < 90000; ++i) {
        TStoredFrame f;
        f.Line = 3 * i + 1;
        f.Outcome = i % 5 == 0 ? TFrameOutcome::foNoStartBit : TFrameOutcome::foDecoded;
        f.Source = i % 7 == 0 ? TFrameSource::fsFields : TFrameSource::fsHex;
        f.Fields.Value = i;
        f.Fields.Crc = static_cast<std::uint16_t>(i & 0x3F);
        f.CrcOk = i % 3 != 0;
        f.Error = i % 11 == 0;
        f.Value = static_cast<double>(i) * 2;
        inputs.push_back(std::string(1 + i % 40, static_cast<char>('A' + i % 26)));
        store.Append(f, inputs.back());
    }
    ASSERT_EQ(store.Size(), inputs.size());
    for (std::size_t i = 0; i < store.Size(); i += 97) {
        EXPECT_EQ(store.Input(i), inputs[i]);
        EXPECT_EQ(store.Line(i), 3 * i + 1);
        if (i % 5 == 0) {
            EXPECT_TRUE(std::isnan(store.Value(i)));
            EXPECT_EQ(store.Marks(i), fmInvalid);
        } else {
            EXPECT_EQ(store.Value(i), static_cast<double>(i) * 2);
            EXPECT_EQ((store.Marks(i) & fmCrcError) != 0, i % 3 == 0);
            EXPECT_EQ((store.Marks(i) & fmError) != 0, i % 11 == 0);
        }
        EXPECT_EQ(store.Fields(i).Value, i % 7 == 0 ? i : 0U);
    }
    const TCaptureTotals& t = store.Totals();
    EXPECT_EQ(t.Frames, 90000U);
    EXPECT_EQ(t.NoStartBit, 18000U);
    EXPECT_EQ(t.Decoded + t.NoStartBit, t.Frames);
}

TEST(CaptureStore, GivesBackEveryLineWhateverItsGaps) {
    // Consecutive lines, gaps (blank lines, comments, multi-line records), a line repeated (the
    // frames cut from one span) and a first line above 1.
    const std::vector<std::uint64_t> lines = {5, 6, 7, 9, 10, 10, 10, 11, 40, 41, 1000000, 1000001, 1000003};
    TCaptureStore store;
    for (const std::uint64_t line : lines) {
        TStoredFrame f;
        f.Line = line;
        store.Append(f, "0");
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(store.Line(i), lines[i]) << i;
    }
}

TEST(CaptureStore, StaysWithinItsMemoryBudgetPerFrame) {
    // 16-digit frames, as a hex capture holds them: the store and the envelope together under
    // 48 bytes a frame (the chunks' last partial fill counted in full).
    std::mt19937_64 random(3);
    TCaptureStore store;
    FillRandomStore(store, 1 << 20, random);
    TEnvelope envelope;
    envelope.Build(store);
    const double perFrame = static_cast<double>(store.MemoryBytes() + envelope.MemoryBytes()) / store.Size();
    EXPECT_LT(perFrame, 48.0);
}

TEST(CaptureStore, TimesNeverDecrease) {
    TCaptureStore store;
    for (const double t : {1.0, 2.0, 1.5, 3.0}) {
        TStoredFrame f;
        f.Time = t;
        store.Append(f, "x");
    }
    ASSERT_TRUE(store.HasTime());
    EXPECT_EQ(store.Time(2), 2.0);
    EXPECT_EQ(store.Time(3), 3.0);
}
