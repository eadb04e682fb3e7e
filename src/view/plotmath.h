// The geometry of the plot: which part of the capture is in view, how axis values map to
// pixels and back, zoom and pan that keep a chosen point in place, and which frames fall into
// each pixel column. Pure functions, so that they are tested without a window.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

// The visible part of the plane: X in frames or seconds, Y in the plotted unit. Pixels run
// left to right over [X0, X1) and bottom to top over [Y0, Y1].
struct TViewport {
    double X0 = 0.0;
    double X1 = 1.0;
    double Y0 = 0.0;
    double Y1 = 1.0;
};

// Pixel position (from the left edge, fractional) of `x` in a plot `width` pixels wide.
double XToPixel(const TViewport& view, double x, double width);
double PixelToX(const TViewport& view, double pixel, double width);
// From the top edge of a plot `height` pixels high.
double YToPixel(const TViewport& view, double y, double height);
double PixelToY(const TViewport& view, double pixel, double height);

// Zooms X by `factor` (below 1 zooms in) around `anchorX`, which stays where it was; the
// span never becomes narrower than `minSpan`.
TViewport ZoomX(const TViewport& view, double anchorX, double factor, double minSpan = 1e-12);
TViewport ZoomY(const TViewport& view, double anchorY, double factor, double minSpan = 1e-12);
// Moves the view by whole pixels: the point under pixel (px, py) goes to (px + dx, py + dy).
TViewport PanPixels(const TViewport& view, double dx, double dy, double width, double height);
// The view of X in [x0, x1] and Y in [y0, y1] with a margin of `margin` (a fraction) above and
// below; a flat or empty range gets a span of its own.
TViewport FitView(double x0, double x1, double y0, double y1, double margin = 0.05);

// The pixel column of a frame at `x`: floor(XToPixel), the one rule both the curve and the
// marks follow.
long ColumnOfX(const TViewport& view, double x, int width);

// For `frames` frames whose X is given by the non-decreasing `frameX`: the first frame of
// each of the `width` columns and the end, width + 1 numbers; column c holds the frames
// [starts[c], starts[c + 1]), exactly those with ColumnOfX == c.
std::vector<std::size_t> ColumnStarts(const TViewport& view, int width, std::size_t frames,
                                      const std::function<double(std::size_t)>& frameX);

// Round axis ticks: values k x step in [from, to] with step 1, 2 or 5 x 10^e, about `count`.
std::vector<double> AxisTicks(double from, double to, int count);
