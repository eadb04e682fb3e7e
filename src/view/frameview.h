// The selected frame: its received bits with the fields coloured as the window colours them
// (ACK yellow, start and CDS aqua, multi-turn orange, position lime, status sky blue, CRC
// green), and its decoded fields with the CRC verdict.
#pragma once

#include "view/capturemodel.h"
#include "decode/framelayout.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <vector>

enum class TBitField : std::uint8_t { bfAck, bfStart, bfMultiTurn, bfPosition, bfStatus, bfCrc, bfOther };

struct TBitSpan {
    std::int32_t First = 0;
    std::int32_t Count = 0;
    TBitField Field = TBitField::bfOther;
};

// The fields of a decoded frame of `length` received bits, in bit order, covering bits 0 to
// length - 1 (bits after the CRC are bfOther; fields running past the end are cut there).
std::vector<TBitSpan> FrameBitSpans(const TFrameLayoutParams& layout, std::int32_t crcWidth,
                                    const TFrameFields& fields, std::int32_t length);
QColor BitFieldColour(TBitField field);
QString BitFieldName(TBitField field);

class TFrameView : public QWidget {
    Q_OBJECT

public:
    explicit TFrameView(QWidget* parent = nullptr);

    // Shows frame `index` of `store` decoded with `layout`.
    void ShowFrame(const TCaptureStore& store, std::size_t index, const TFrameLayoutParams& layout,
                   const TViewScale& scale);
    void Clear();
    QSize sizeHint() const override;
    // The text shown under the bits (for tests and the accessible description).
    const QString& Description() const { return FText; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TFrameBits FBits;
    bool FHasBits = false;
    std::vector<TBitSpan> FSpans;
    QString FText;
    bool FCrcShown = false;
    bool FCrcOk = false;
};
