// The plot of the capture in the window: wheel zoom around the cursor (Ctrl+wheel zooms the
// values), rubber-band zoom with the right button or Shift, drag to pan, click to select a
// frame, and keys for all of it.
#pragma once

#include "view/plotpainter.h"

#include <QPoint>
#include <QWidget>

class QRubberBand;

class TPlotWidget : public QWidget {
    Q_OBJECT

public:
    explicit TPlotWidget(QWidget* parent = nullptr);

    // Shows `store` through `envelope` (both outlive the widget's use of them, or are null).
    void SetCapture(const TCaptureStore* store, const TEnvelope* envelope, const TViewScale& scale);
    void SetJumpThreshold(double threshold);
    void SetSelected(std::optional<std::size_t> frame);
    const TPlotScene& Scene() const { return FScene; }
    void SetView(const TViewport& view);
    // Shows the whole capture.
    void Fit();
    // The frame nearest to widget position `pos`, if any.
    std::optional<std::size_t> FrameAt(const QPoint& pos) const;
    TPlotGeometry Geometry() const;

signals:
    void FrameClicked(std::size_t frame);
    void CursorText(const QString& text);
    void ViewChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateCursor(const QPoint& pos);

    TPlotScene FScene;
    QRubberBand* FBand = nullptr;
    QPoint FPressPos;
    QPoint FLastPos;
    enum class TDrag { dgNone, dgPan, dgBand } FDrag = TDrag::dgNone;
    bool FMoved = false;
};
