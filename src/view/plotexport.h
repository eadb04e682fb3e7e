// Writing the plot to a PNG or SVG file, from the window or from the command line.
#pragma once

#include "view/plotpainter.h"

#include <QSize>
#include <QString>

// Writes the plot of `scene` at `size` to `path`, PNG or SVG by its extension (.png, .svg, any
// case). False with a message in `error` for another extension or a file that cannot be
// written.
bool ExportPlot(const TPlotScene& scene, const QString& path, const QSize& size, const QPalette& palette,
                QString& error);

// "WxH" with both from 16 to 16384; false otherwise.
bool ParsePlotSize(const QString& text, QSize& size);
