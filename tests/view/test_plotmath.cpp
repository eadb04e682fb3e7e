// The plot's geometry: zoom and pan keep the point under the cursor, marks sit at their
// frames' pixels, the fields of a frame's bits, and the search for marked frames.
#include "view/frameview.h"
#include "view/plotmath.h"
#include "view/plotpainter.h"
#include "view/recordtable.h"
#include "viewtest.h"

#include <QFont>
#include <QFontMetrics>

#include <gtest/gtest.h>

TEST(PlotMath, ZoomKeepsTheAnchorOnItsPixel) {
    struct TCase {
        TViewport View;
        double Anchor;
        double Factor;
    };
    const TCase cases[] = {
        {{0, 1000, 0, 1}, 250.0, 0.5},      {{0, 1000, 0, 1}, 999.0, 0.01},
        {{-5e6, 5e6, 0, 1}, 123456.0, 3.0}, {{0.001, 0.002, 0, 1}, 0.0013, 0.125},
        {{100, 200, 0, 1}, 40.0, 0.5}, // anchor outside the view
    };
    for (const TCase& c : cases) {
        const TViewport zoomed = ZoomX(c.View, c.Anchor, c.Factor);
        EXPECT_NEAR(XToPixel(zoomed, c.Anchor, 800), XToPixel(c.View, c.Anchor, 800), 1e-6);
        EXPECT_NEAR(zoomed.X1 - zoomed.X0, (c.View.X1 - c.View.X0) * c.Factor, 1e-9 * (c.View.X1 - c.View.X0));
        const TViewport zoomedY = ZoomY(c.View, 0.25, c.Factor);
        EXPECT_NEAR(YToPixel(zoomedY, 0.25, 300), YToPixel(c.View, 0.25, 300), 1e-6);
    }
}

TEST(PlotMath, ZoomStopsAtTheNarrowestSpan) {
    const TViewport zoomed = ZoomX({0, 10, 0, 1}, 5.0, 1e-9, 1e-3);
    EXPECT_NEAR(zoomed.X1 - zoomed.X0, 1e-3, 1e-12);
    EXPECT_NEAR(XToPixel(zoomed, 5.0, 100), XToPixel({0, 10, 0, 1}, 5.0, 100), 1e-6);
}

TEST(PlotMath, PanMovesThePointUnderTheCursorWithIt) {
    const TViewport view{10, 110, -5, 5};
    const double width = 640;
    const double height = 480;
    for (const auto& [dx, dy] : {std::pair{30.0, 0.0}, std::pair{-200.0, 12.0}, std::pair{0.0, -90.0}}) {
        const TViewport moved = PanPixels(view, dx, dy, width, height);
        const double x = PixelToX(view, 100, width);
        const double y = PixelToY(view, 200, height);
        EXPECT_NEAR(XToPixel(moved, x, width), 100 + dx, 1e-9);
        EXPECT_NEAR(YToPixel(moved, y, height), 200 + dy, 1e-9);
    }
}

TEST(PlotMath, FitHoldsTheWholeRangeAndAFlatOne) {
    const TViewport v = FitView(0, 100, 10, 20);
    EXPECT_LT(v.Y0, 10);
    EXPECT_GT(v.Y1, 20);
    const TViewport flat = FitView(0, 100, 7, 7);
    EXPECT_LT(flat.Y0, 7);
    EXPECT_GT(flat.Y1, 7);
    const TViewport none = FitView(0, 0, NAN, NAN);
    EXPECT_GT(none.X1, none.X0);
    EXPECT_GT(none.Y1, none.Y0);
}

TEST(PlotMath, TicksAreRoundAndInside) {
    const auto ticks = AxisTicks(0.13, 9.7, 5);
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.front(), 2.0);
    EXPECT_EQ(ticks[1] - ticks[0], 2.0);
    EXPECT_LE(ticks.back(), 9.7);
    EXPECT_TRUE(AxisTicks(5, 5, 4).empty());
}

TEST(PlotMarks, SitAtTheirFramesPixels) {
    // Frame k of each kind in a clean capture: its mark appears in its own column, nowhere else.
    struct TCase {
        std::size_t Frame;
        TFrameMark Mark;
    };
    const TCase cases[] = {{17, fmCrcError}, {500, fmError}, {2999, fmWarning}, {1234, fmInvalid}, {40, fmJump}};
    for (const TCase& c : cases) {
        TCaptureStore store;
        for (std::size_t i = 0; i < 3000; ++i) {
            TStoredFrame f;
            f.CrcOk = !(c.Mark == fmCrcError && i == c.Frame);
            f.Error = c.Mark == fmError && i == c.Frame;
            f.Warning = c.Mark == fmWarning && i == c.Frame;
            f.Outcome = c.Mark == fmInvalid && i == c.Frame ? TFrameOutcome::foInvalidInput : TFrameOutcome::foDecoded;
            f.Value = static_cast<double>(i) + (c.Mark == fmJump && i >= c.Frame ? 1000.0 : 0.0);
            store.Append(f, "00");
        }
        TEnvelope envelope;
        envelope.Build(store);
        for (const TViewport view : {TViewport{-0.5, 2999.5, 0, 1}, TViewport{0, 60, 0, 1},
                                     TViewport{static_cast<double>(c.Frame) - 3.3, static_cast<double>(c.Frame) + 9.1, 0, 1}}) {
            if (static_cast<double>(c.Frame) < view.X0 || static_cast<double>(c.Frame) >= view.X1) {
                continue;
            }
            TPlotScene scene;
            scene.Store = &store;
            scene.Envelope = &envelope;
            scene.View = view;
            scene.JumpThreshold = 10.0; // steps of 1 stay unmarked
            const int width = 701;
            const auto marks = ColumnMarks(scene, width);
            const long column = ColumnOfX(view, static_cast<double>(c.Frame), width);
            for (int col = 0; col < width; ++col) {
                EXPECT_EQ((marks[static_cast<std::size_t>(col)] & c.Mark) != 0, col == column)
                    << "mark " << int(c.Mark) << " column " << col << " frame's column " << column;
            }
        }
    }
}

TEST(PlotMarks, JumpThresholdIsInScaledUnits) {
    TCaptureStore store;
    for (const double v : {0.0, 100.0}) {
        TStoredFrame f;
        f.CrcOk = true;
        f.Value = v;
        store.Append(f, "00");
    }
    TEnvelope envelope;
    envelope.Build(store);
    TPlotScene scene;
    scene.Store = &store;
    scene.Envelope = &envelope;
    scene.View = {-0.5, 1.5, 0, 1};
    scene.Scale = {true, -0.01, "mm"}; // the step is 1 mm
    scene.JumpThreshold = 0.5;
    auto any = [&] {
        std::uint8_t all = 0;
        for (const std::uint8_t m : ColumnMarks(scene, 100)) {
            all |= m;
        }
        return (all & fmJump) != 0;
    };
    EXPECT_TRUE(any());
    scene.JumpThreshold = 1.5;
    EXPECT_FALSE(any());
}

TEST(FrameBits, FieldsFollowTheLayout) {
    // The window's default frame: 13 ACK bits, start, CDS, 26 position, 2 status, 6 CRC.
    TFrameBits bits;
    ASSERT_TRUE(ParseFrameHex(std::string_view("C004C9BA71753000"), bits));
    const TFrameLayoutParams params;
    const TFrameLayout layout(params);
    const TFrameFields f = DecodeFrameBits(layout, bits);
    const auto spans = FrameBitSpans(params, layout.CrcWidth(), f, bits.Length);
    const std::vector<std::tuple<int, int, TBitField>> want = {
        {0, 13, TBitField::bfAck},      {13, 2, TBitField::bfStart}, {15, 26, TBitField::bfPosition},
        {41, 2, TBitField::bfStatus},   {43, 6, TBitField::bfCrc},   {49, 15, TBitField::bfOther}};
    ASSERT_EQ(spans.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(spans[i].First, std::get<0>(want[i])) << i;
        EXPECT_EQ(spans[i].Count, std::get<1>(want[i])) << i;
        EXPECT_EQ(spans[i].Field, std::get<2>(want[i])) << i;
    }
}

TEST(FrameBits, MultiTurnAndCutFrames) {
    TFrameLayoutParams params;
    params.MultiTurnBits = 12;
    params.PositionBits = 20;
    TFrameFields f;
    f.Outcome = TDecodeOutcome::doDecoded;
    f.AckLength = 3;
    // 40 bits received: ACK 3, start 2, multi-turn 12, position 20, status 2, then only the
    // first of the 6 CRC bits.
    const auto spans = FrameBitSpans(params, 6, f, 40);
    ASSERT_EQ(spans.size(), 6U);
    EXPECT_EQ(spans[2].Field, TBitField::bfMultiTurn);
    EXPECT_EQ(spans[2].Count, 12);
    EXPECT_EQ(spans[3].Field, TBitField::bfPosition);
    EXPECT_EQ(spans[4].Field, TBitField::bfStatus);
    EXPECT_EQ(spans[5].Field, TBitField::bfCrc);
    EXPECT_EQ(spans[5].Count, 1);
    EXPECT_EQ(spans[5].First + spans[5].Count, 40);
    f.Outcome = TDecodeOutcome::doNoStartBit;
    const auto none = FrameBitSpans(params, 6, f, 64);
    ASSERT_EQ(none.size(), 1U);
    EXPECT_EQ(none[0].Field, TBitField::bfOther);
}

TEST(RecordTable, FindsMarkedFramesBothWays) {
    const std::vector<std::uint8_t> marks = {0, fmCrcError, 0, fmWarning, fmCrcError | fmError, 0};
    auto of = [&marks](std::size_t i) { return marks[i]; };
    const std::size_t n = marks.size();
    EXPECT_EQ(FindMarkedFrame(n, SIZE_MAX, true, fmCrcError, of), 1U);
    EXPECT_EQ(FindMarkedFrame(n, 1, true, fmCrcError, of), 4U);
    EXPECT_EQ(FindMarkedFrame(n, 4, true, fmCrcError, of), SIZE_MAX);
    EXPECT_EQ(FindMarkedFrame(n, 4, false, fmCrcError, of), 1U);
    EXPECT_EQ(FindMarkedFrame(n, 1, false, fmCrcError, of), SIZE_MAX);
    EXPECT_EQ(FindMarkedFrame(n, n, false, fmError | fmWarning, of), 4U);
    EXPECT_EQ(FindMarkedFrame(n, 0, true, fmError | fmWarning, of), 3U);
}

TEST(PlotAxis, FrameNumbersCountFromOneAndTimesAsTheyAre) {
    for (const bool withTime : {false, true}) {
        TCaptureStore store;
        std::mt19937_64 random(7);
        FillRandomStore(store, withTime ? 40 : 6, random, withTime);
        TPlotScene scene;
        scene.Store = &store;
        scene.View = FitScene(store, {});
        const auto ticks = XAxisTicks(scene, 8);
        ASSERT_GE(ticks.size(), 2U);
        for (const TAxisTick& tick : ticks) {
            EXPECT_DOUBLE_EQ(tick.Label, withTime ? tick.X : tick.X + 1) << "time " << withTime;
            EXPECT_GE(tick.X, scene.View.X0);
            EXPECT_LE(tick.X, scene.View.X1);
        }
        if (!withTime) {
            // Six frames at X 0 to 5 read 1 to 6: the first frame is frame 1, as in the table.
            ASSERT_EQ(ticks.size(), 6U);
            EXPECT_DOUBLE_EQ(ticks.front().X, 0.0);
            EXPECT_DOUBLE_EQ(ticks.front().Label, 1.0);
            EXPECT_DOUBLE_EQ(ticks.back().Label, 6.0);
        }
    }
}

TEST(PlotAxis, TickLabelsStayInsideThePicture) {
    const QRect rect(0, 0, 800, 400);
    const QFont font;
    const TPlotGeometry g = PlotGeometry(rect, QFontMetrics(font));
    const double labelWidth = 60;
    struct TCase {
        double Px;
        bool Centred;
    };
    const TCase cases[] = {
        {static_cast<double>(g.Curve.left()), true},
        {g.Curve.center().x() + 0.5, true},
        {static_cast<double>(g.Curve.right()), false}, // the last tick at the curve's right edge
        {static_cast<double>(rect.right()), false},
        {0.0, false},
    };
    for (const TCase& c : cases) {
        const QRectF box = XTickLabelRect(c.Px, labelWidth, g, rect);
        EXPECT_GE(box.left(), rect.left()) << c.Px;
        EXPECT_LE(box.right(), rect.left() + rect.width()) << c.Px;
        EXPECT_GE(box.width(), labelWidth) << c.Px;
        EXPECT_EQ(box.top(), g.XAxis.top());
        if (c.Centred) {
            EXPECT_DOUBLE_EQ(box.center().x(), c.Px);
        }
    }
}
