// Drawing the plot of a capture with QPainter: the curve from the min/max envelope, one
// vertical stroke per pixel column, the strip of marks under it and the axes. The window and
// the PNG/SVG export draw with the same function.
#pragma once

#include "view/capturemodel.h"
#include "view/envelope.h"
#include "view/plotmath.h"

#include <QColor>
#include <QPalette>
#include <QRect>
#include <QRectF>
#include <QString>

#include <cstddef>
#include <optional>
#include <vector>

class QPainter;

// What the plot shows.
struct TPlotScene {
    const TCaptureStore* Store = nullptr;
    const TEnvelope* Envelope = nullptr;
    TViewScale Scale;
    TViewport View;
    double JumpThreshold = 0.0; // in plotted units; 0: no jump marks
    std::optional<std::size_t> Selected;
    std::optional<double> CursorX; // a vertical line at this X, if set
};

// The parts of the plot's rectangle.
struct TPlotGeometry {
    QRect Curve;  // the curve's area
    QRect Strip;  // the marks under it
    QRect XAxis;  // labels under the strip
    QRect YAxis;  // labels left of the curve
};

TPlotGeometry PlotGeometry(const QRect& rect, const QFontMetrics& metrics);

// The title of the Y axis: "count", or the scale's unit when a scale is set.
QString YAxisTitle(const TPlotScene& scene);

// The colours of the marks, readable on light and dark backgrounds alike.
QColor MarkColour(TFrameMark mark);
// The lanes of the strip, top to bottom.
inline constexpr TFrameMark MarkLanes[] = {fmCrcError, fmError, fmWarning, fmInvalid, fmJump};
QString MarkName(TFrameMark mark);

// The X of frame i: its time for a signal capture, else its index.
inline double FrameX(const TCaptureStore& store, std::size_t i) { return store.Time(i); }
// The plotted value of a count.
inline double PlotValue(const TViewScale& scale, double count) {
    return scale.Enabled ? count * scale.Factor : count;
}

// A tick of the X axis: where it sits and the number its label shows. A capture without
// times numbers its frames from 1, as the table's rows and the frame view do, while frame i
// sits at X = i; a signal capture's ticks show their time.
struct TAxisTick {
    double X = 0.0;
    double Label = 0.0;
};
std::vector<TAxisTick> XAxisTicks(const TPlotScene& scene, int count);
// The number the plot gives frame i: 1 for the first.
inline std::size_t FrameNumber(std::size_t i) { return i + 1; }

// The box of an X tick's label `labelWidth` wide, centred under its tick at pixel `px` and
// moved inward where it would run past `rect`, the picture, so that no label is cut.
QRectF XTickLabelRect(double px, double labelWidth, const TPlotGeometry& g, const QRect& rect);

// The marks of each pixel column of `width`, with jumps against the scene's threshold.
std::vector<std::uint8_t> ColumnMarks(const TPlotScene& scene, int width);

void PaintPlot(QPainter& painter, const QRect& rect, const TPlotScene& scene, const QPalette& palette);
// The view that shows the whole capture.
TViewport FitScene(const TCaptureStore& store, const TViewScale& scale);
