#include "view/frameview.h"

#include <QPainter>

#include <algorithm>

std::vector<TBitSpan> FrameBitSpans(const TFrameLayoutParams& layout, std::int32_t crcWidth,
                                    const TFrameFields& fields, std::int32_t length) {
    std::vector<TBitSpan> spans;
    std::int32_t at = 0;
    auto add = [&](std::int32_t count, TBitField field) {
        const std::int32_t end = std::min(length, at + count);
        if (end > at) {
            spans.push_back({at, end - at, field});
        }
        at += count;
    };
    if (fields.Outcome != TDecodeOutcome::doDecoded) {
        add(length, TBitField::bfOther);
        return spans;
    }
    add(fields.AckLength, TBitField::bfAck);
    add(2, TBitField::bfStart); // the start bit and the CDS bit
    add(layout.MultiTurnBits, TBitField::bfMultiTurn);
    add(layout.PositionBits, TBitField::bfPosition);
    add(layout.StatusBits, TBitField::bfStatus);
    add(crcWidth, TBitField::bfCrc);
    if (at < length) {
        add(length - at, TBitField::bfOther);
    }
    return spans;
}

QColor BitFieldColour(TBitField field) {
    switch (field) {
    case TBitField::bfAck: return QColor(255, 255, 0);
    case TBitField::bfStart: return QColor(0, 255, 255);
    case TBitField::bfMultiTurn: return QColor(255, 176, 96);
    case TBitField::bfPosition: return QColor(0, 255, 0);
    case TBitField::bfStatus: return QColor(166, 202, 240);
    case TBitField::bfCrc: return QColor(192, 220, 192);
    case TBitField::bfOther: break;
    }
    return QColor(224, 224, 224);
}

QString BitFieldName(TBitField field) {
    switch (field) {
    case TBitField::bfAck: return QStringLiteral("ACK");
    case TBitField::bfStart: return QStringLiteral("start, CDS");
    case TBitField::bfMultiTurn: return QStringLiteral("multi-turn");
    case TBitField::bfPosition: return QStringLiteral("position");
    case TBitField::bfStatus: return QStringLiteral("status");
    case TBitField::bfCrc: return QStringLiteral("CRC");
    case TBitField::bfOther: break;
    }
    return QStringLiteral("other");
}

TFrameView::TFrameView(QWidget* parent) : QWidget(parent) {
    setAccessibleName(tr("Selected frame"));
    setFocusPolicy(Qt::TabFocus);
    setMinimumHeight(80);
}

void TFrameView::Clear() {
    FHasBits = false;
    FSpans.clear();
    FText = tr("No frame selected.");
    FCrcShown = false;
    setAccessibleDescription(FText);
    update();
}

void TFrameView::ShowFrame(const TCaptureStore& store, std::size_t index, const TFrameLayoutParams& params,
                           const TViewScale& scale) {
    FSpans.clear();
    FHasBits = false;
    FCrcShown = false;
    if (index >= store.Size()) {
        Clear();
        return;
    }
    const std::string input = store.Input(index);
    const bool signal = store.HasTime();
    QString head = signal ? tr("Frame %1, burst %2 at %3 s: %4")
                                .arg(index + 1)
                                .arg(store.Line(index))
                                .arg(store.Time(index), 0, 'g', 10)
                                .arg(QString::fromStdString(input))
                          : tr("Frame %1, line %2: %3").arg(index + 1).arg(store.Line(index)).arg(QString::fromStdString(input));
    if (signal && store.BitCount(index) > 0) {
        head += tr("\n%1 bits   clock %2 kHz   line delay %3 ns   CDM %4")
                    .arg(store.BitCount(index))
                    .arg(store.ClockHz(index) / 1e3, 0, 'g', 6)
                    .arg(store.LineDelay(index) * 1e9, 0, 'g', 5)
                    .arg(store.Cdm(index));
    }
    TFrameFields f;
    try {
        const TFrameLayout layout(params);
        switch (store.Source(index)) {
        case TFrameSource::fsHex:
            if (ParseFrameHex(input, FBits)) {
                FHasBits = true;
                f = DecodeFrameBits(layout, FBits);
                FSpans = FrameBitSpans(params, layout.CrcWidth(), f, FBits.Length);
            } else {
                f.Outcome = TDecodeOutcome::doInvalidInput;
            }
            break;
        case TFrameSource::fsBits:
            if (ParseFrameBitsHex(input, store.BitCount(index), FBits)) {
                FHasBits = true;
                f = DecodeFrameBits(layout, FBits);
                FSpans = FrameBitSpans(params, layout.CrcWidth(), f, FBits.Length);
            } else {
                f.Outcome = TDecodeOutcome::doInvalidInput;
            }
            break;
        case TFrameSource::fsFields: f = DecodeFrameData(layout, store.Fields(index)); break;
        case TFrameSource::fsInvalid:
        case TFrameSource::fsCut: f.Outcome = TDecodeOutcome::doInvalidInput; break;
        }
    } catch (const std::invalid_argument& e) {
        FText = head + QLatin1Char('\n') + QString::fromUtf8(e.what());
        update();
        return;
    }
    if (store.Outcome(index) == TFrameOutcome::foCut) {
        FText = head + QLatin1Char('\n') + tr("The capture (its start, its end or a gap) cuts this frame.");
    } else if (f.Outcome == TDecodeOutcome::doInvalidInput) {
        FText = head + QLatin1Char('\n') + (signal ? tr("Not a frame: the burst could not be decoded.")
                                                     : tr("Not a frame: the input is not hexadecimal frame text."));
    } else if (f.Outcome == TDecodeOutcome::doNoStartBit) {
        FText = head + QLatin1Char('\n') + tr("No start bit: no 0-then-1 pair after the first bit.");
    } else {
        const bool isSigned = params.Signed;
        auto number = [isSigned](std::uint64_t v, bool signedField) {
            return isSigned && signedField ? QString::number(AsSigned(v)) : QString::number(v);
        };
        QStringList lines;
        lines << head;
        QString fieldsText = tr("ACK %1 bits   multi-turn %2   position %3   count %4")
                                 .arg(f.AckLength)
                                 .arg(number(f.MultiTurn, params.MultiTurnBits > 0))
                                 .arg(number(f.Position, params.MultiTurnBits == 0))
                                 .arg(number(f.Count, true));
        if (scale.Enabled) {
            const double count = isSigned ? static_cast<double>(AsSigned(f.Count)) : static_cast<double>(f.Count);
            fieldsText += tr("   scaled %1 %2").arg(count * scale.Factor, 0, 'g', 12).arg(QString::fromStdString(scale.Unit));
        }
        lines << fieldsText;
        lines << tr("error (nE) %1   warning (nW) %2")
                     .arg(f.Error ? tr("active") : tr("no"))
                     .arg(f.Warning ? tr("active") : tr("no"));
        lines << tr("CRC received 0x%1%2   calculated 0x%3%4")
                     .arg(QString::number(f.CrcReceived, 16).toUpper())
                     .arg(params.CrcInverted ? tr(" (0x%1 not inverted)").arg(QString::number(f.CrcNonInverted, 16).toUpper())
                                             : QString())
                     .arg(QString::number(f.CrcCalculated, 16).toUpper())
                     .arg(f.Truncated ? tr("   truncated") : QString());
        FText = lines.join(QLatin1Char('\n'));
        FCrcShown = true;
        FCrcOk = f.CrcOk;
    }
    setAccessibleDescription(FText + (FCrcShown ? (FCrcOk ? tr(" CRC OK") : tr(" CRC error")) : QString()));
    updateGeometry();
    update();
}

QSize TFrameView::sizeHint() const {
    // The bits (two rows for long frames), the legend and the lines of text.
    const int lines = static_cast<int>(FText.count(QLatin1Char('\n'))) + 1;
    return QSize(600, (lines + 1) * fontMetrics().height() + (FHasBits ? 3 * (fontMetrics().height() + 6) + 16 : 8));
}

void TFrameView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const QFontMetrics fm = fontMetrics();
    const int cell = fm.horizontalAdvance(QLatin1Char('0')) + 8;
    const int cellHeight = fm.height() + 6;
    int y = 4;
    if (FHasBits) {
        const int perRow = std::max(8, (width() - 8) / cell);
        for (const TBitSpan& span : FSpans) {
            for (std::int32_t b = span.First; b < span.First + span.Count; ++b) {
                const int x = 4 + (b % perRow) * cell;
                const int top = y + (b / perRow) * (cellHeight + 2);
                const QRect box(x, top, cell - 1, cellHeight);
                painter.fillRect(box, BitFieldColour(span.Field));
                painter.setPen(Qt::black); // the field colours are light in either palette
                painter.drawText(box, Qt::AlignCenter, FBits.Bit(b) ? QStringLiteral("1") : QStringLiteral("0"));
            }
        }
        const int rows = (FBits.Length + perRow - 1) / perRow;
        y += rows * (cellHeight + 2) + 4;
        // The legend.
        int x = 4;
        for (const TBitField field : {TBitField::bfAck, TBitField::bfStart, TBitField::bfMultiTurn,
                                      TBitField::bfPosition, TBitField::bfStatus, TBitField::bfCrc}) {
            painter.fillRect(QRect(x, y + 2, fm.height() - 4, fm.height() - 4), BitFieldColour(field));
            x += fm.height();
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(x, y + fm.ascent(), BitFieldName(field));
            x += fm.horizontalAdvance(BitFieldName(field)) + 14;
        }
        y += fm.height() + 4;
    }
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect textRect(4, y, width() - 8 - (FCrcShown ? 110 : 0), height() - y);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, FText);
    if (FCrcShown) {
        // The verdict as the window shows it: green OK, red error, in words as well.
        const QRect verdict(width() - 106, y, 100, fm.height() + 10);
        painter.fillRect(verdict, FCrcOk ? QColor(0x00, 0x80, 0x00) : QColor(0xFF, 0x00, 0x00));
        painter.setPen(Qt::white);
        painter.drawText(verdict, Qt::AlignCenter, FCrcOk ? tr("CRC OK") : tr("CRC error"));
    }
}
