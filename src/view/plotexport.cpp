#include "view/plotexport.h"

#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>

bool ParsePlotSize(const QString& text, QSize& size) {
    const QStringList parts = text.toLower().split(QLatin1Char('x'));
    if (parts.size() != 2) {
        return false;
    }
    bool okW = false;
    bool okH = false;
    const int w = parts[0].toInt(&okW);
    const int h = parts[1].toInt(&okH);
    if (!okW || !okH || w < 16 || h < 16 || w > 16384 || h > 16384) {
        return false;
    }
    size = QSize(w, h);
    return true;
}

bool ExportPlot(const TPlotScene& scene, const QString& path, const QSize& size, const QPalette& palette,
                QString& error) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QRect rect(QPoint(0, 0), size);
    if (suffix == QLatin1String("png")) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(palette.color(QPalette::Base));
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing, false);
            PaintPlot(painter, rect, scene, palette);
        }
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
            error = QStringLiteral("%1: cannot write: %2").arg(path, file.errorString());
            return false;
        }
        return true;
    }
    if (suffix == QLatin1String("svg")) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            error = QStringLiteral("%1: cannot write: %2").arg(path, file.errorString());
            return false;
        }
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(rect);
        svg.setTitle(QStringLiteral("Corvane plot"));
        {
            QPainter painter(&svg);
            PaintPlot(painter, rect, scene, palette);
        }
        if (!file.commit()) {
            error = QStringLiteral("%1: cannot write: %2").arg(path, file.errorString());
            return false;
        }
        return true;
    }
    error = QStringLiteral("%1: the plot is written as .png or .svg").arg(path);
    return false;
}
