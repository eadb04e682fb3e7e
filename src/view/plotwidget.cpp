#include "view/plotwidget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QWheelEvent>

#include <cmath>

TPlotWidget::TPlotWidget(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 160);
    setAccessibleName(tr("Plot of the position against frame or time"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    FBand = new QRubberBand(QRubberBand::Rectangle, this);
}

void TPlotWidget::SetCapture(const TCaptureStore* store, const TEnvelope* envelope, const TViewScale& scale) {
    FScene.Store = store;
    FScene.Envelope = envelope;
    FScene.Scale = scale;
    FScene.Selected.reset();
    Fit();
}

void TPlotWidget::SetJumpThreshold(double threshold) {
    FScene.JumpThreshold = threshold;
    update();
}

void TPlotWidget::SetSelected(std::optional<std::size_t> frame) {
    FScene.Selected = frame;
    // Bring the selection into view, keeping the zoom.
    if (frame && FScene.Store != nullptr && *frame < FScene.Store->Size()) {
        const double x = FrameX(*FScene.Store, *frame);
        TViewport& v = FScene.View;
        if (x < v.X0 || x >= v.X1) {
            const double span = v.X1 - v.X0;
            v.X0 = x - span / 2;
            v.X1 = x + span / 2;
            emit ViewChanged();
        }
    }
    update();
}

void TPlotWidget::SetView(const TViewport& view) {
    FScene.View = view;
    update();
    emit ViewChanged();
}

void TPlotWidget::Fit() {
    SetView(FScene.Store != nullptr ? FitScene(*FScene.Store, FScene.Scale) : TViewport{});
}

TPlotGeometry TPlotWidget::Geometry() const {
    return PlotGeometry(rect(), fontMetrics());
}

std::optional<std::size_t> TPlotWidget::FrameAt(const QPoint& pos) const {
    if (FScene.Store == nullptr || FScene.Store->Size() == 0) {
        return std::nullopt;
    }
    const TPlotGeometry g = Geometry();
    const double x = PixelToX(FScene.View, pos.x() - g.Curve.left() + 0.5, g.Curve.width());
    const TCaptureStore& store = *FScene.Store;
    // The first frame at or right of x, then whichever neighbour is nearer.
    std::size_t lo = 0;
    std::size_t hi = store.Size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (FrameX(store, mid) < x) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (lo == store.Size()) {
        return store.Size() - 1;
    }
    if (lo > 0 && x - FrameX(store, lo - 1) < FrameX(store, lo) - x) {
        return lo - 1;
    }
    return lo;
}

void TPlotWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintPlot(painter, rect(), FScene, palette());
    if (FScene.Store == nullptr || FScene.Store->Size() == 0) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(Geometry().Curve, Qt::AlignCenter | Qt::TextWordWrap,
                         tr("Open a capture with File \u2192 Open (Ctrl+O), drop a file here,\n"
                            "or give it on the command line: corvane-view FILE"));
    }
}

void TPlotWidget::wheelEvent(QWheelEvent* event) {
    const TPlotGeometry g = Geometry();
    const QPointF pos = event->position();
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) {
        return;
    }
    const double factor = std::pow(0.8, steps);
    if (event->modifiers() & Qt::ControlModifier) {
        const double y = PixelToY(FScene.View, pos.y() - g.Curve.top(), g.Curve.height());
        SetView(ZoomY(FScene.View, y, factor));
    } else {
        const double x = PixelToX(FScene.View, pos.x() - g.Curve.left(), g.Curve.width());
        SetView(ZoomX(FScene.View, x, factor));
    }
    UpdateCursor(pos.toPoint());
    event->accept();
}

void TPlotWidget::mousePressEvent(QMouseEvent* event) {
    FPressPos = event->position().toPoint();
    FLastPos = FPressPos;
    FMoved = false;
    if (event->button() == Qt::RightButton ||
        (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier))) {
        FDrag = TDrag::dgBand;
        FBand->setGeometry(QRect(FPressPos, QSize()));
        FBand->show();
    } else if (event->button() == Qt::LeftButton) {
        FDrag = TDrag::dgPan;
        setCursor(Qt::ClosedHandCursor);
    }
}

void TPlotWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if ((pos - FPressPos).manhattanLength() > 3) {
        FMoved = true;
    }
    if (FDrag == TDrag::dgPan) {
        const TPlotGeometry g = Geometry();
        const QPoint delta = pos - FLastPos;
        SetView(PanPixels(FScene.View, delta.x(), delta.y(), g.Curve.width(), g.Curve.height()));
    } else if (FDrag == TDrag::dgBand) {
        FBand->setGeometry(QRect(FPressPos, pos).normalized());
    }
    FLastPos = pos;
    UpdateCursor(pos);
}

void TPlotWidget::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const TDrag drag = FDrag;
    FDrag = TDrag::dgNone;
    unsetCursor();
    if (drag == TDrag::dgBand) {
        FBand->hide();
        const QRect band = QRect(FPressPos, pos).normalized();
        if (band.width() > 3) {
            const TPlotGeometry g = Geometry();
            TViewport v = FScene.View;
            const double x0 = PixelToX(v, band.left() - g.Curve.left(), g.Curve.width());
            const double x1 = PixelToX(v, band.right() - g.Curve.left(), g.Curve.width());
            v.X0 = x0;
            v.X1 = x1;
            if (band.height() > 3) {
                const double y0 = PixelToY(FScene.View, band.bottom() - g.Curve.top(), g.Curve.height());
                const double y1 = PixelToY(FScene.View, band.top() - g.Curve.top(), g.Curve.height());
                v.Y0 = y0;
                v.Y1 = y1;
            }
            SetView(v);
        }
    } else if (drag == TDrag::dgPan && !FMoved && event->button() == Qt::LeftButton) {
        if (const auto frame = FrameAt(pos)) {
            SetSelected(frame);
            emit FrameClicked(*frame);
        }
    }
}

void TPlotWidget::leaveEvent(QEvent*) {
    FScene.CursorX.reset();
    emit CursorText(QString());
    update();
}

void TPlotWidget::keyPressEvent(QKeyEvent* event) {
    const TPlotGeometry g = Geometry();
    const double middle = (FScene.View.X0 + FScene.View.X1) / 2;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: SetView(ZoomX(FScene.View, middle, 0.5)); break;
    case Qt::Key_Minus: SetView(ZoomX(FScene.View, middle, 2.0)); break;
    case Qt::Key_Left: SetView(PanPixels(FScene.View, g.Curve.width() / 8.0, 0, g.Curve.width(), g.Curve.height())); break;
    case Qt::Key_Right: SetView(PanPixels(FScene.View, -g.Curve.width() / 8.0, 0, g.Curve.width(), g.Curve.height())); break;
    case Qt::Key_Up: SetView(PanPixels(FScene.View, 0, g.Curve.height() / 8.0, g.Curve.width(), g.Curve.height())); break;
    case Qt::Key_Down: SetView(PanPixels(FScene.View, 0, -g.Curve.height() / 8.0, g.Curve.width(), g.Curve.height())); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void TPlotWidget::UpdateCursor(const QPoint& pos) {
    const TPlotGeometry g = Geometry();
    if (!g.Curve.contains(pos) || FScene.Store == nullptr) {
        FScene.CursorX.reset();
        emit CursorText(QString());
        update();
        return;
    }
    const double x = PixelToX(FScene.View, pos.x() - g.Curve.left(), g.Curve.width());
    const double y = PixelToY(FScene.View, pos.y() - g.Curve.top(), g.Curve.height());
    FScene.CursorX = x;
    const QString unit = FScene.Scale.Enabled ? QString::fromStdString(FScene.Scale.Unit) : QString();
    // A capture without times: the frame nearest the cursor, numbered as the table numbers it.
    const std::optional<std::size_t> frame = FrameAt(pos);
    const QString where = FScene.Store->HasTime() ? tr("t = %1 s").arg(x, 0, 'g', 9)
                          : frame                 ? tr("frame %1").arg(FrameNumber(*frame))
                                                  : QString();
    emit CursorText(tr("%1   value %2 %3").arg(where).arg(y, 0, 'g', 10).arg(unit).trimmed());
    update();
}
