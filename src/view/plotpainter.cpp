#include "view/plotpainter.h"

#include <QFontMetrics>
#include <QLineF>
#include <QPainter>
#include <QVector>

#include <algorithm>
#include <cmath>

namespace {

QString AxisNumber(double value, double step) {
    // Enough decimals for the tick step, none for whole numbers.
    const int decimals = step >= 1 ? 0 : std::min(12, static_cast<int>(std::ceil(-std::log10(step))));
    if (std::fabs(value) >= 1e9 || (value != 0 && std::fabs(value) < 1e-4 && step < 1e-4)) {
        return QString::number(value, 'g', 6);
    }
    return QString::number(value, 'f', decimals);
}

} // namespace

TPlotGeometry PlotGeometry(const QRect& rect, const QFontMetrics& metrics) {
    TPlotGeometry g;
    const int left = metrics.horizontalAdvance(QStringLiteral("-0000000000.0")) + 8;
    const int axis = metrics.height() + 6;
    const int strip = 5 * std::max(5, metrics.height() / 3);
    // A line above the curve for the title of the values.
    const int top = rect.top() + metrics.height() + 4;
    const int right = rect.right() - 8;
    const int curveBottom = rect.bottom() - axis - strip - 2;
    g.Curve = QRect(QPoint(rect.left() + left, top), QPoint(right, std::max(top + 10, curveBottom)));
    g.Strip = QRect(g.Curve.left(), g.Curve.bottom() + 3, g.Curve.width(), strip);
    g.XAxis = QRect(g.Curve.left(), g.Strip.bottom() + 1, g.Curve.width(), axis);
    g.YAxis = QRect(rect.left(), g.Curve.top(), left - 4, g.Curve.height());
    return g;
}

QString YAxisTitle(const TPlotScene& scene) {
    if (!scene.Scale.Enabled) {
        return QStringLiteral("count");
    }
    return scene.Scale.Unit.empty() ? QStringLiteral("scaled") : QString::fromStdString(scene.Scale.Unit);
}

QColor MarkColour(TFrameMark mark) {
    switch (mark) {
    case fmCrcError: return QColor(0xE5, 0x30, 0x30);
    case fmError: return QColor(0xF0, 0x85, 0x10);
    case fmWarning: return QColor(0xD8, 0xB4, 0x00);
    case fmInvalid: return QColor(0x90, 0x90, 0x90);
    case fmJump: return QColor(0xA0, 0x50, 0xF0);
    }
    return QColor(Qt::black);
}

QString MarkName(TFrameMark mark) {
    switch (mark) {
    case fmCrcError: return QStringLiteral("CRC error");
    case fmError: return QStringLiteral("error flag");
    case fmWarning: return QStringLiteral("warning flag");
    case fmInvalid: return QStringLiteral("invalid or cut");
    case fmJump: return QStringLiteral("jump");
    }
    return {};
}

std::vector<std::uint8_t> ColumnMarks(const TPlotScene& scene, int width) {
    std::vector<std::uint8_t> marks(static_cast<std::size_t>(std::max(width, 0)));
    if (scene.Store == nullptr || scene.Envelope == nullptr || width <= 0) {
        return marks;
    }
    const TCaptureStore& store = *scene.Store;
    const auto starts = ColumnStarts(scene.View, width, store.Size(),
                                     [&store](std::size_t i) { return FrameX(store, i); });
    // The threshold is in plotted units; the envelope's steps are in counts.
    const double factor = scene.Scale.Enabled ? std::fabs(scene.Scale.Factor) : 1.0;
    const double threshold = scene.JumpThreshold > 0 ? scene.JumpThreshold / factor : 0.0;
    for (int c = 0; c < width; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (starts[i] < starts[i + 1]) {
            marks[i] = SpanMarks(scene.Envelope->Span(starts[i], starts[i + 1]), threshold);
        }
    }
    return marks;
}

std::vector<TAxisTick> XAxisTicks(const TPlotScene& scene, int count) {
    const double shift = scene.Store != nullptr && !scene.Store->HasTime() ? 1.0 : 0.0;
    std::vector<TAxisTick> ticks;
    for (const double label : AxisTicks(scene.View.X0 + shift, scene.View.X1 + shift, count)) {
        ticks.push_back({label - shift, label});
    }
    return ticks;
}

QRectF XTickLabelRect(double px, double labelWidth, const TPlotGeometry& g, const QRect& rect) {
    const double width = labelWidth + 4;
    double left = px - width / 2;
    left = std::min(left, rect.left() + rect.width() - width);
    left = std::max(left, static_cast<double>(rect.left()));
    return QRectF(left, g.XAxis.top(), width, g.XAxis.height());
}

TViewport FitScene(const TCaptureStore& store, const TViewScale& scale) {
    const std::size_t n = store.Size();
    double x0 = n > 0 ? FrameX(store, 0) : 0.0;
    double x1 = n > 0 ? FrameX(store, n - 1) : 1.0;
    if (store.HasTime()) {
        x1 += n > 1 ? (x1 - x0) / static_cast<double>(n - 1) : 1e-6;
    } else {
        // Half a frame on either side, so that the first and last frames sit inside.
        x0 -= 0.5;
        x1 += 0.5;
    }
    double y0 = PlotValue(scale, store.Totals().Minimum);
    double y1 = PlotValue(scale, store.Totals().Maximum);
    if (y0 > y1) {
        std::swap(y0, y1);
    }
    return FitView(x0, x1, y0, y1);
}

void PaintPlot(QPainter& painter, const QRect& rect, const TPlotScene& scene, const QPalette& palette) {
    const QFontMetrics metrics(painter.font());
    const TPlotGeometry g = PlotGeometry(rect, metrics);
    painter.fillRect(rect, palette.color(QPalette::Base));
    const QColor text = palette.color(QPalette::Text);
    QColor grid = text;
    grid.setAlphaF(0.15F);

    const TViewport& v = scene.View;
    const double w = g.Curve.width();
    const double h = g.Curve.height();

    // Axes and grid.
    painter.setPen(text);
    const auto xTicks = XAxisTicks(scene, std::max(2, g.Curve.width() / 110));
    const auto yTicks = AxisTicks(v.Y0, v.Y1, std::max(2, g.Curve.height() / 50));
    const double xStep = xTicks.size() > 1 ? xTicks[1].Label - xTicks[0].Label : 1.0;
    const double yStep = yTicks.size() > 1 ? yTicks[1] - yTicks[0] : 1.0;
    for (const TAxisTick& tick : xTicks) {
        const double px = g.Curve.left() + XToPixel(v, tick.X, w);
        painter.setPen(grid);
        painter.drawLine(QPointF(px, g.Curve.top()), QPointF(px, g.Curve.bottom()));
        painter.setPen(text);
        const QString label = AxisNumber(tick.Label, xStep);
        painter.drawText(XTickLabelRect(px, metrics.horizontalAdvance(label), g, rect), Qt::AlignCenter, label);
    }
    // What X is, left of its labels: seconds for a signal capture, else frame numbers; what Y
    // is above its labels: counts or the scale's unit.
    if (scene.Store != nullptr) {
        painter.setPen(text);
        painter.drawText(QRect(g.YAxis.left(), rect.top() + 2, g.YAxis.width(), g.Curve.top() - rect.top() - 2),
                         Qt::AlignRight | Qt::AlignVCenter, YAxisTitle(scene));
        painter.drawText(QRect(g.YAxis.left(), g.XAxis.top(), g.YAxis.width() - 4, g.XAxis.height()),
                         Qt::AlignRight | Qt::AlignVCenter,
                         scene.Store->HasTime() ? QStringLiteral("t (s)") : QStringLiteral("frame"));
    }
    for (const double y : yTicks) {
        const double py = g.Curve.top() + YToPixel(v, y, h);
        painter.setPen(grid);
        painter.drawLine(QPointF(g.Curve.left(), py), QPointF(g.Curve.right(), py));
        painter.setPen(text);
        painter.drawText(QRectF(g.YAxis.left(), py - metrics.height() / 2.0, g.YAxis.width(), metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, AxisNumber(y, yStep));
    }
    painter.setPen(text);
    painter.drawRect(g.Curve.adjusted(0, 0, -1, -1));

    if (scene.Store == nullptr || scene.Envelope == nullptr || scene.Store->Size() == 0) {
        return;
    }
    const TCaptureStore& store = *scene.Store;
    const int width = g.Curve.width();
    const auto starts = ColumnStarts(v, width, store.Size(), [&store](std::size_t i) { return FrameX(store, i); });

    // The curve: per column a stroke from its least to its greatest value, and a line from the
    // last value of the column before to the first of this one.
    painter.save();
    painter.setClipRect(g.Curve);
    const QColor curve = palette.color(QPalette::Base).lightness() > 128 ? QColor(0x1F, 0x5F, 0xC0)
                                                                         : QColor(0x6A, 0xB0, 0xFF);
    QVector<QLineF> lines;
    lines.reserve(2 * width + 2);
    auto yPixel = [&](double count) { return g.Curve.top() + YToPixel(v, PlotValue(scene.Scale, count), h); };
    auto xPixel = [&](std::size_t i) { return g.Curve.left() + XToPixel(v, FrameX(store, i), w); };
    // The frame just left of the view continues into it.
    std::optional<QPointF> last;
    if (starts[0] > 0) {
        const std::size_t i = starts[0] - 1;
        if (!std::isnan(store.Value(i))) {
            last = QPointF(xPixel(i), yPixel(store.Value(i)));
        }
    }
    const std::size_t visible = starts[static_cast<std::size_t>(width)] - starts[0];
    const bool dots = visible > 0 && visible * 6 < static_cast<std::size_t>(width);
    QVector<QPointF> points;
    for (int c = 0; c < width; ++c) {
        const std::size_t first = starts[static_cast<std::size_t>(c)];
        const std::size_t end = starts[static_cast<std::size_t>(c) + 1];
        if (first == end) {
            continue;
        }
        const TEnvelopeSpan span = scene.Envelope->Span(first, end);
        const double firstValue = store.Value(first);
        if (last && !std::isnan(firstValue)) {
            lines.append(QLineF(*last, QPointF(xPixel(first), yPixel(firstValue))));
        }
        if (span.HasValue()) {
            const double x = g.Curve.left() + c + 0.5;
            lines.append(QLineF(QPointF(x, yPixel(span.Min)), QPointF(x, yPixel(span.Max))));
        }
        const double lastValue = store.Value(end - 1);
        last = std::isnan(lastValue) ? std::nullopt
                                     : std::optional<QPointF>(QPointF(xPixel(end - 1), yPixel(lastValue)));
        if (dots) {
            for (std::size_t i = first; i < end; ++i) {
                if (!std::isnan(store.Value(i))) {
                    points.append(QPointF(xPixel(i), yPixel(store.Value(i))));
                }
            }
        }
    }
    const std::size_t after = starts[static_cast<std::size_t>(width)];
    if (last && after < store.Size() && !std::isnan(store.Value(after))) {
        lines.append(QLineF(*last, QPointF(xPixel(after), yPixel(store.Value(after)))));
    }
    painter.setPen(QPen(curve, 1.0));
    painter.drawLines(lines);
    if (dots) {
        painter.setPen(QPen(curve, 4.0, Qt::SolidLine, Qt::RoundCap));
        painter.drawPoints(points.data(), static_cast<int>(points.size()));
    }

    if (scene.Selected && *scene.Selected < store.Size()) {
        const double px = xPixel(*scene.Selected);
        QColor selection = palette.color(QPalette::Highlight);
        painter.setPen(QPen(selection, 1.5, Qt::DashLine));
        painter.drawLine(QPointF(px, g.Curve.top()), QPointF(px, g.Curve.bottom()));
        const double value = store.Value(*scene.Selected);
        if (!std::isnan(value)) {
            painter.setPen(QPen(selection, 2.0));
            painter.drawEllipse(QPointF(px, yPixel(value)), 4.0, 4.0);
        }
    }
    if (scene.CursorX) {
        const double px = g.Curve.left() + XToPixel(v, *scene.CursorX, w);
        painter.setPen(QPen(grid, 1.0));
        painter.drawLine(QPointF(px, g.Curve.top()), QPointF(px, g.Curve.bottom()));
    }
    painter.restore();

    // The strip: one lane per kind of mark.
    const auto marks = ColumnMarks(scene, width);
    const int lanes = static_cast<int>(std::size(MarkLanes));
    const double pixelsPerFrame = visible > 0 ? w / static_cast<double>(visible) : w;
    const double markWidth = std::clamp(pixelsPerFrame / 2, 3.0, 12.0);
    const double laneHeight = static_cast<double>(g.Strip.height()) / lanes;
    QColor stripBack = text;
    stripBack.setAlphaF(0.06F);
    painter.fillRect(g.Strip, stripBack);
    for (int lane = 0; lane < lanes; ++lane) {
        const TFrameMark mark = MarkLanes[lane];
        const double top = g.Strip.top() + lane * laneHeight;
        int runStart = -1;
        for (int c = 0; c <= width; ++c) {
            const bool on = c < width && (marks[static_cast<std::size_t>(c)] & mark) != 0;
            if (on && runStart < 0) {
                runStart = c;
            } else if (!on && runStart >= 0) {
                // At least three pixels wide, so that a single frame's mark can be seen, and
                // wider when frames lie far apart.
                const double grow = std::max(0.0, (markWidth - (c - runStart)) / 2.0);
                painter.fillRect(QRectF(g.Strip.left() + runStart - grow, top, c - runStart + 2 * grow, laneHeight),
                                 MarkColour(mark));
                runStart = -1;
            }
        }
    }
}
