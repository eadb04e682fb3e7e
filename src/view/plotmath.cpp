#include "view/plotmath.h"

#include <algorithm>
#include <cmath>

double XToPixel(const TViewport& view, double x, double width) {
    return (x - view.X0) / (view.X1 - view.X0) * width;
}

double PixelToX(const TViewport& view, double pixel, double width) {
    return view.X0 + pixel / width * (view.X1 - view.X0);
}

double YToPixel(const TViewport& view, double y, double height) {
    return (view.Y1 - y) / (view.Y1 - view.Y0) * height;
}

double PixelToY(const TViewport& view, double pixel, double height) {
    return view.Y1 - pixel / height * (view.Y1 - view.Y0);
}

TViewport ZoomX(const TViewport& view, double anchorX, double factor, double minSpan) {
    const double span = view.X1 - view.X0;
    const double newSpan = std::max(span * factor, minSpan);
    const double ratio = newSpan / span;
    TViewport v = view;
    v.X0 = anchorX - (anchorX - view.X0) * ratio;
    v.X1 = v.X0 + newSpan;
    return v;
}

TViewport ZoomY(const TViewport& view, double anchorY, double factor, double minSpan) {
    const double span = view.Y1 - view.Y0;
    const double newSpan = std::max(span * factor, minSpan);
    const double ratio = newSpan / span;
    TViewport v = view;
    v.Y0 = anchorY - (anchorY - view.Y0) * ratio;
    v.Y1 = v.Y0 + newSpan;
    return v;
}

TViewport PanPixels(const TViewport& view, double dx, double dy, double width, double height) {
    const double shiftX = dx / width * (view.X1 - view.X0);
    const double shiftY = dy / height * (view.Y1 - view.Y0);
    return TViewport{view.X0 - shiftX, view.X1 - shiftX, view.Y0 + shiftY, view.Y1 + shiftY};
}

TViewport FitView(double x0, double x1, double y0, double y1, double margin) {
    TViewport v;
    if (!(x1 > x0)) {
        x1 = x0 + 1.0;
    }
    // One frame more on the right, so that the last frame has a column of its own.
    v.X0 = x0;
    v.X1 = x1;
    if (std::isnan(y0) || std::isnan(y1)) {
        y0 = 0.0;
        y1 = 1.0;
    }
    double span = y1 - y0;
    if (!(span > 0)) {
        span = std::max(1.0, std::fabs(y0) * 1e-3);
        y0 -= span / 2;
        y1 += span / 2;
    }
    v.Y0 = y0 - span * margin;
    v.Y1 = y1 + span * margin;
    return v;
}

long ColumnOfX(const TViewport& view, double x, int width) {
    const double p = std::floor(XToPixel(view, x, width));
    // Far outside the view: clamp rather than overflow.
    return static_cast<long>(std::clamp(p, -1.0, static_cast<double>(width)));
}

std::vector<std::size_t> ColumnStarts(const TViewport& view, int width, std::size_t frames,
                                      const std::function<double(std::size_t)>& frameX) {
    std::vector<std::size_t> starts(static_cast<std::size_t>(std::max(width, 0)) + 1);
    std::size_t low = 0;
    for (int c = 0; c <= width; ++c) {
        // The first frame at or after `low` whose column is c or more.
        std::size_t lo = low;
        std::size_t hi = frames;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (ColumnOfX(view, frameX(mid), width) >= c) {
                hi = mid;
            } else {
                lo = mid + 1;
            }
        }
        starts[static_cast<std::size_t>(c)] = lo;
        low = lo;
    }
    // Frames right of the view belong to no column.
    return starts;
}

std::vector<double> AxisTicks(double from, double to, int count) {
    std::vector<double> ticks;
    if (!(to > from) || count < 1 || !std::isfinite(from) || !std::isfinite(to)) {
        return ticks;
    }
    const double raw = (to - from) / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * magnitude;
        if (step >= raw) {
            break;
        }
    }
    for (double k = std::ceil(from / step); k * step <= to && ticks.size() < 1000; k += 1.0) {
        ticks.push_back(k * step);
    }
    return ticks;
}
