#include "view/signalview.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

TFrameSignalMarks FrameSignalMarks(const TSignalWindow& window, double f0, int bits, double clockHz,
                                   double lineDelay) {
    TFrameSignalMarks marks;
    // The rising clock edges after f0, as many as the frame has clocks (all in the window for
    // a frame whose bits were not received).
    bool clock = window.ClockAtFrom;
    for (const TSignalEdge& edge : window.Edges) {
        if (edge.Clock && !clock && edge.Time > f0 && !edge.Gap) {
            if (bits > 0 && marks.Rises.size() >= static_cast<std::size_t>(bits)) {
                break;
            }
            marks.Rises.push_back(edge.Time);
        }
        clock = edge.Clock;
    }
    if (bits <= 0 || clockHz <= 0.0) {
        return marks;
    }
    const double period = 1.0 / clockHz;
    const std::size_t n = std::min(marks.Rises.size(), static_cast<std::size_t>(bits));
    for (std::size_t j = 1; j < n + 1 && j < static_cast<std::size_t>(bits); ++j) {
        const double start = marks.Rises[j - 1] + lineDelay;
        marks.Boundaries.push_back(start);
        marks.Samples.push_back(start + period / 2);
    }
    if (!marks.Boundaries.empty()) {
        marks.Boundaries.push_back(marks.Boundaries.back() + period);
    }
    if (n >= 2) {
        marks.AckTime = marks.Rises[1] + lineDelay;
        marks.HasAck = true;
    }
    return marks;
}

void FrameWindowSpan(const TCaptureStore& store, std::size_t i, double& from, double& to) {
    const double f0 = store.Time(i);
    // The clock of this frame, or of the nearest one that has one.
    double clock = store.ClockHz(i);
    for (std::size_t k = 1; clock <= 0.0 && k <= 16; ++k) {
        if (i >= k && store.ClockHz(i - k) > 0.0) {
            clock = store.ClockHz(i - k);
        } else if (i + k < store.Size() && store.ClockHz(i + k) > 0.0) {
            clock = store.ClockHz(i + k);
        }
    }
    const double period = clock > 0.0 ? 1.0 / clock : 1e-6;
    const int bits = store.BitCount(i) > 0 ? store.BitCount(i) : 64;
    from = f0 - 3 * period;
    // The clocks, the line delay, and the timeout after them (a few periods).
    to = f0 + (bits + 10) * period + store.LineDelay(i);
    if (i + 1 < store.Size() && store.Time(i + 1) > f0) {
        to = std::min(to, store.Time(i + 1) - period / 4);
    }
    to = std::max(to, f0 + period);
}

TSignalView::TSignalView(QWidget* parent) : QWidget(parent) {
    setAccessibleName(tr("Lines of the frame"));
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

void TSignalView::ShowWindow(const TSignalWindow& window, double f0, int bits, double clockHz, double lineDelay) {
    FWindow = window;
    FMarks = FrameSignalMarks(window, f0, bits, clockHz, lineDelay);
    FLineDelay = lineDelay;
    FShown = true;
    FText.clear();
    update();
}

void TSignalView::ShowText(const QString& text) {
    FShown = false;
    FWindow = TSignalWindow{};
    FMarks = TFrameSignalMarks{};
    FText = text;
    update();
}

QSize TSignalView::sizeHint() const {
    return {520, 12 * fontMetrics().height()};
}

QSize TSignalView::minimumSizeHint() const {
    return {200, 9 * fontMetrics().height()};
}

namespace {

// A duration in the unit that suits it.
QString Duration(double seconds) {
    const double a = std::fabs(seconds);
    if (a < 1e-6) {
        return QStringLiteral("%1 ns").arg(seconds * 1e9, 0, 'g', 4);
    }
    if (a < 1e-3) {
        return QStringLiteral("%1 \u00B5s").arg(seconds * 1e6, 0, 'g', 4);
    }
    return QStringLiteral("%1 ms").arg(seconds * 1e3, 0, 'g', 4);
}

} // namespace

void TSignalView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    const QFontMetrics fm = fontMetrics();
    if (!FShown) {
        painter.setPen(pal.color(QPalette::PlaceholderText));
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap, FText);
        return;
    }
    const int line = fm.height();
    const int left = fm.horizontalAdvance(QStringLiteral("SLO")) + 16;
    const int right = width() - 10;
    const int plotWidth = std::max(right - left, 10);
    const double span = std::max(FWindow.To - FWindow.From, 1e-12);
    auto xOf = [&](double t) { return left + (t - FWindow.From) / span * plotWidth; };

    // Rows: the time axis at the top, MA, the line delay, SLO.
    const int axisY = line + 2;
    const int maTop = axisY + line / 2 + 4;
    const int rowHeight = std::max(2 * line, (height() - maTop - 3 * line) / 2);
    const int maLow = maTop + rowHeight;
    const int delayY = maLow + line;
    const int sloTop = delayY + line / 2 + 4;
    const int sloLow = sloTop + rowHeight;

    const QColor text = pal.color(QPalette::Text);
    const QColor mid = pal.color(QPalette::Mid);
    const QColor clockColour(0x2E, 0x86, 0xDE);
    const QColor dataColour(0x20, 0xA0, 0x50);
    const QColor sampleColour(0xE0, 0x6C, 0x00);
    const QColor gapColour(0x90, 0x90, 0x90, 90);

    // Time axis: microseconds from the window's start, round ticks.
    painter.setPen(text);
    painter.drawText(QRect(0, 0, left - 4, line + 2), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("t"));
    const double step = [&] {
        const double raw = span / 8;
        const double p = std::pow(10.0, std::floor(std::log10(raw)));
        return raw / p < 2 ? p * 2 : raw / p < 5 ? p * 5 : p * 10;
    }();
    for (double t = std::ceil(FWindow.From / step) * step; t <= FWindow.To; t += step) {
        const double x = xOf(t);
        painter.setPen(mid);
        painter.drawLine(QPointF(x, axisY), QPointF(x, axisY + 4));
        painter.setPen(text);
        painter.drawText(QRectF(x - 60, 0, 120, line + 2), Qt::AlignCenter, Duration(t));
    }

    // The bit boundaries over both rows, dashed, with the bit numbers above SLO.
    QPen boundaryPen(mid, 1, Qt::DashLine);
    for (std::size_t k = 0; k < FMarks.Boundaries.size(); ++k) {
        const double x = xOf(FMarks.Boundaries[k]);
        painter.setPen(boundaryPen);
        painter.drawLine(QPointF(x, maTop), QPointF(x, sloLow));
    }

    // A line as a step trace from its level at From through its changes; gaps shaded.
    auto drawLine = [&](bool clockLine, int top, int low, const QColor& colour) {
        QPainterPath path;
        bool level = clockLine ? FWindow.ClockAtFrom : FWindow.DataAtFrom;
        bool gap = FWindow.GapAtFrom;
        double t0 = FWindow.From;
        auto y = [&](bool high) { return high ? double(top) : double(low); };
        path.moveTo(xOf(t0), y(level));
        auto shade = [&](double a, double b) {
            painter.fillRect(QRectF(xOf(a), top, xOf(b) - xOf(a), low - top), gapColour);
        };
        for (const TSignalEdge& edge : FWindow.Edges) {
            const bool next = clockLine ? edge.Clock : edge.Data;
            if (gap) {
                shade(t0, edge.Time);
            }
            path.lineTo(xOf(edge.Time), y(level));
            path.lineTo(xOf(edge.Time), y(next));
            level = next;
            gap = edge.Gap;
            t0 = edge.Time;
        }
        if (gap) {
            shade(t0, FWindow.To);
        }
        path.lineTo(xOf(FWindow.To), y(level));
        painter.setPen(QPen(colour, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    };
    painter.setRenderHint(QPainter::Antialiasing, true);
    drawLine(true, maTop, maLow, clockColour);
    drawLine(false, sloTop, sloLow, dataColour);
    painter.setPen(text);
    painter.drawText(QRect(0, maTop, left - 6, rowHeight), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("MA"));
    painter.drawText(QRect(0, sloTop, left - 6, rowHeight), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("SLO"));

    // The rising clock edges the bits hang on: small ticks under MA.
    painter.setPen(QPen(clockColour, 1));
    for (const double r : FMarks.Rises) {
        const double x = xOf(r);
        painter.drawLine(QPointF(x, maLow + 2), QPointF(x, maLow + 6));
    }

    // The sampling points: a dot on SLO at the level read there, the bit under it.
    auto sloAt = [&](double t) {
        bool level = FWindow.DataAtFrom;
        for (const TSignalEdge& edge : FWindow.Edges) {
            if (edge.Time > t) {
                break;
            }
            level = edge.Data;
        }
        return level;
    };
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    painter.setFont(small);
    const QFontMetrics smallMetrics(small);
    const bool roomForBits =
        FMarks.Samples.size() < 2 || xOf(FMarks.Samples[1]) - xOf(FMarks.Samples[0]) > smallMetrics.horizontalAdvance('0') + 2;
    for (const double s : FMarks.Samples) {
        const bool high = sloAt(s);
        const QPointF at(xOf(s), high ? sloTop : sloLow);
        painter.setPen(Qt::NoPen);
        painter.setBrush(sampleColour);
        painter.drawEllipse(at, 3.0, 3.0);
        if (roomForBits) {
            painter.setPen(text);
            painter.drawText(QRectF(at.x() - 10, sloLow + 2, 20, smallMetrics.height()), Qt::AlignCenter,
                             high ? QStringLiteral("1") : QStringLiteral("0"));
        }
    }
    painter.setFont(font());

    // The line delay: from r(1) to the ACK on SLO.
    if (FMarks.HasAck && FMarks.Rises.size() >= 2) {
        const double x0 = xOf(FMarks.Rises[1]);
        const double x1 = xOf(FMarks.AckTime);
        painter.setPen(QPen(sampleColour, 1.2));
        painter.drawLine(QPointF(x0, maLow), QPointF(x0, delayY));
        painter.drawLine(QPointF(x0, delayY), QPointF(std::max(x1, x0 + 1), delayY));
        painter.drawLine(QPointF(x1, delayY), QPointF(x1, sloLow));
        painter.setPen(text);
        painter.drawText(QPointF(std::max(x1, x0) + 4, delayY + fm.ascent() / 2.0),
                         tr("line delay %1").arg(Duration(FLineDelay)));
    }
    if (FWindow.Truncated) {
        painter.setPen(text);
        painter.drawText(rect().adjusted(4, 4, -4, -4), Qt::AlignBottom | Qt::AlignRight,
                         tr("too many changes: the rest left out"));
    }
}
