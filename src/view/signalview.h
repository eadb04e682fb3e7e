// The selected frame of a signal capture as its two lines: MA and SLO over the frame and the
// slave's timeout, drawn from the changes read again from the capture, with the rising clock
// edges, the bit boundaries and sampling points the decoder used, and the line delay.
#pragma once

#include "view/capturemodel.h"

#include <QWidget>

#include <cstdint>
#include <vector>

// Where the decoder reads a frame: its rising clock edges r(0) ... r(N-1) (those of the window
// after the frame's first falling edge f0), bit j (1 to N-1) starting on SLO at r(j-1) + d
// and sampled at r(j-1) + d + T/2, T = 1 / clock. The bit boundaries are the starts of bits 1
// to N-1 and the end of the last; the ACK the slave answers r(1) with comes at r(1) + d.
struct TFrameSignalMarks {
    std::vector<double> Rises;
    std::vector<double> Boundaries;
    std::vector<double> Samples;
    double AckTime = 0.0;
    bool HasAck = false;
};

// The marks of a frame starting at `f0` with `bits` bits (0 for a frame whose bits were not
// received: only its rising edges are found), clock `clockHz` and line delay `lineDelay`.
TFrameSignalMarks FrameSignalMarks(const TSignalWindow& window, double f0, int bits, double clockHz,
                                   double lineDelay);

// The stretch of time around frame i that the view reads and draws: from a few clock periods
// before its start to the end of its slave's timeout (bounded by the next frame's start).
void FrameWindowSpan(const TCaptureStore& store, std::size_t i, double& from, double& to);

class TSignalView : public QWidget {
    Q_OBJECT

public:
    explicit TSignalView(QWidget* parent = nullptr);

    // Shows `window` with the marks of the frame (f0, bits, clock, line delay).
    void ShowWindow(const TSignalWindow& window, double f0, int bits, double clockHz, double lineDelay);
    // A line of text instead of the lines (reading, failed, not a signal capture).
    void ShowText(const QString& text);
    const TSignalWindow& Window() const { return FWindow; }
    const TFrameSignalMarks& Marks() const { return FMarks; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TSignalWindow FWindow;
    TFrameSignalMarks FMarks;
    double FLineDelay = 0.0;
    bool FShown = false;
    QString FText;
};
