// Shared helpers of the window tests: control lookup, the verdict colours, a watcher that
// records and closes modal message boxes, and a bit-by-bit reading of a BiSS-C frame from its
// 64 binary digits that the tests compare the window's results with.
#pragma once

#include "window/application.h"
#include "window/main.h"
#include "window/spinedit.h"
#include "window/windowmath.h"

#include "referencedecoder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#ifdef CORVANE_FAKE_SYSTEM_LOCALE
#include <private/qlocale_p.h>
#endif

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace wt {

inline const QColor kGreen(0x00, 0x80, 0x00);
inline const QColor kRed(0xFF, 0x00, 0x00);

inline const char* const kDefaultFrame = "C004C9BA71753000";
inline const char* const kInvalidMessage = "incorrect input data!";

// The five strips in the order the window lays them.
inline const std::array<const char*, 5> kStripNames = {"shpAck", "shpStart", "shpPosition",
                                                       "shpStatus", "shpCrc"};

// The neutral verdict colour: the button face of the application's palette.
inline QColor Neutral() {
    return QApplication::palette().color(QPalette::Button);
}

// The colour a panel or strip paints itself with.
inline QColor Colour(const QWidget* w) {
    return w->palette().color(QPalette::Window);
}

template <class T> T* Ctl(const QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

// The line edit inside a spin field (QAbstractSpinBox::lineEdit() is protected).
inline QLineEdit* SpinLine(const QWidget* spin) {
    return spin->findChild<QLineEdit*>();
}

// 64 binary digits of `word`, the first received bit first.
inline QString Bits(std::uint64_t word) {
    return QString::number(static_cast<qulonglong>(word), 2).rightJustified(64, QLatin1Char('0'));
}

// One modal box as the watcher found it.
struct BoxRecord {
    QString className;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttonCount = 0;
    bool hasOk = false;
};

// Polls for a modal widget (the nested event loop of QMessageBox::exec runs the timer), records
// what it shows and closes it with its OK button, so that no test can hang on a box.
class ModalCloser : public QObject {
public:
    explicit ModalCloser(QObject* parent = nullptr) : QObject(parent) {
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, this, [this] { Poll(); });
        FTimer.start();
    }

    QList<BoxRecord> boxes;

    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == FClosing) {
            return;
        }
        FClosing = modal;
        BoxRecord r;
        r.className = QString::fromLatin1(modal->metaObject()->className());
        r.title = modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            r.text = box->text();
            r.icon = box->icon();
            r.buttonCount = static_cast<int>(box->buttons().size());
            QAbstractButton* ok = box->button(QMessageBox::Ok);
            r.hasOk = ok != nullptr;
            boxes.append(r);
            if (ok != nullptr) {
                ok->click();
            } else {
                box->reject();
            }
        } else {
            boxes.append(r);
            modal->close();
        }
    }

private:
    QTimer FTimer;
    QPointer<QWidget> FClosing;
};

// A frame read bit by bit from its 64 digits, independently of the decoder, for position
// lengths 1 to 50: the start bit is the 1 of the first 0-then-1 pair from the second bit on.
struct RefFrame {
    bool hasStart = false;
    int ack = 0;          // bits before the start bit
    bool fits = false;    // the whole frame lies inside the 64 bits
    std::uint64_t position = 0;
    int status = 0;       // nE nW
    int crcReceived = 0;
    int crcCalculated = 0;
};

inline std::optional<RefFrame> RefFromBits(const QString& bits, int n) {
    if (bits.size() != 64 || n < 1 || n > 50) {
        return std::nullopt;
    }
    for (QChar c : bits) {
        if (c != QLatin1Char('0') && c != QLatin1Char('1')) {
            return std::nullopt;
        }
    }
    // The digits as received bits, read by the shared bit-by-bit reference decoder.
    TFrameBits received;
    received.Length = 64;
    for (int i = 0; i < 64; ++i) {
        if (bits.at(i) == QLatin1Char('1')) {
            received.Words[0] |= std::uint64_t{1} << (63 - i);
        }
    }
    TFrameLayoutParams layout;
    layout.PositionBits = n;
    const TFrameFields fields = ReferenceDecode(layout, received);
    RefFrame f;
    f.hasStart = fields.Outcome == TDecodeOutcome::doDecoded;
    if (!f.hasStart) {
        return f;
    }
    f.ack = fields.AckLength;
    f.fits = !fields.Truncated;
    f.position = fields.Position;
    f.status = fields.StatusBits;
    f.crcReceived = fields.CrcReceived;
    f.crcCalculated = fields.CrcCalculated;
    return f;
}

inline QString Hex2(int v) {
    return QString::number(v, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

inline QString StatusText(int status) {
    QString s = QString::number(status, 2).rightJustified(2, QLatin1Char('0'));
    if ((status & 2) == 0) {
        s += QStringLiteral(" Error");
    }
    if ((status & 1) == 0) {
        s += QStringLiteral(" Warning");
    }
    return s;
}

// Round half to even, as the strips are rounded.
inline int RoundEven(double v) {
    return static_cast<int>(std::nearbyint(v));
}

// Types `text` into `w` key by key. QTest::keyClicks only knows ASCII; other characters go as
// key events that carry just their text, as an input method delivers them.
// A tab moves the focus, and the keys after it go where the focus went.
inline void TypeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F) {
            QTest::keyClick(w, char(c.unicode()));
        } else if (c == QLatin1Char('\t')) {
            QTest::keyClick(w, Qt::Key_Tab);
            if (QApplication::focusWidget() != nullptr) {
                w = QApplication::focusWidget();
            }
        } else {
            QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

#ifdef CORVANE_FAKE_SYSTEM_LOCALE
// Stands in for the operating system's regional settings while it exists: QLocale::system()
// takes its separators from the newest QSystemLocale. The window only learns of the change
// from the QEvent::LocaleChange that the test then sends, as the platform would.
class FakeSystemLocale : public QSystemLocale {
public:
    FakeSystemLocale(QString decimal, QString group)
        : FDecimal(std::move(decimal)), FGroup(std::move(group)) {}
    QVariant query(QueryType type, QVariant in) const override {
        switch (type) {
        case DecimalPoint:
            return FDecimal;
        case GroupSeparator:
            return FGroup;
        default:
            return QSystemLocale::query(type, in);
        }
    }

private:
    QString FDecimal, FGroup;
};
#endif

// Gives `w` (an edit or a spin field) the focus by keyboard, selects its text and types `keys`
// over it; an empty `keys` clears it with Backspace.
inline void TypeOver(QWidget* w, const QString& keys) {
    w->setFocus(Qt::TabFocusReason);
    if (auto* s = qobject_cast<TSpinEdit*>(w)) {
        s->selectAll();
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->selectAll();
    }
    if (keys.isEmpty()) {
        QTest::keyClick(w, Qt::Key_Backspace);
    } else {
        QTest::keyClicks(w, keys);
    }
}

// Shows `w` and waits until it is the active window with its first focus given.
inline bool ShowActive(QWidget* w) {
    w->show();
    w->activateWindow();
    return QTest::qWaitForWindowActive(w);
}

// One window per test function and a watcher that closes any modal box it opens; the
// suites inherit it next to QObject and call Open() from init() and Close() from cleanup().
class FormFixture {
protected:
    std::unique_ptr<TForm1> form;
    std::unique_ptr<ModalCloser> closer;

    template <class T> T* C(const char* name) { return Ctl<T>(form.get(), name); }

    // Creates the window; `active` also shows it and waits until it has the focus.
    bool Open(bool active = true) {
        closer = std::make_unique<ModalCloser>();
        form = std::make_unique<TForm1>();
        return !active || ShowActive(form.get());
    }

    // Destroys the window and returns how many boxes were left unclaimed: a test that expects
    // a box takes it out of the list, so any other count is a failure.
    int Close() {
        form.reset();
        const int boxes = static_cast<int>(closer->boxes.size());
        closer.reset();
        return boxes;
    }
};

} // namespace wt
