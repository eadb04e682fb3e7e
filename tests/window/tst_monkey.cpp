// A seeded random walk over the real window: typed and pasted text in every field, stepped and
// typed position lengths, Calculate, focus moves and the help button, with the window's
// invariants checked after every single event. Under CTest the walk is always the same one
// (a fixed seed), so that a failure repeats; CORVANE_MONKEY_SEED=<number> replays another
// walk, CORVANE_MONKEY_SEED=random takes a new seed (printed), and CORVANE_MONKEY_STEPS
// changes the walk's length.
#include "windowtestsupport.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <deque>
#include <memory>
#include <random>

using namespace wt;

namespace {

// The walk CTest runs.
constexpr quint32 kFixedSeed = 20240104;

const char* const kEditable[] = {"edInput", "edUnit", "seDataLen", "seDenominator", "seNominator"};
const char* const kFocusable[] = {"edInput", "edAdckLen", "edPosition", "edStatus", "edCRCin",
                                  "edCRCinInv", "edCRCcalc", "seDataLen", "btnCalculate",
                                  "edUnit", "seDenominator", "seNominator", "btnQ"};
const char* const kSampleFrames[] = {
    "C004C9BA71753000", "0x c004 c9ba 7175 3000", "C004C9BA71548000", "C004C9BA71360000",
    "C004C9BA71178000", "C004C9BA81753000", "C005FFFFFFF10000", "4C9BA71753", "10x5",
    "0000C004C9BA71753000", "G1", "", "0X12", "1C004C9BA71753000", "0001C004C9BA71753000",
    "FFFFFFFFFFFFFFFF", "0000000000000000", "4000000000000000", "0000000000000001",
    "0x0x12", "c004-c9ba-7175-3000", "ＡＢ12"};
const char* const kLengths[] = {"0", "1", "2", "6", "12", "13", "26", "27", "30", "31", "49",
                                "50", "51", "64", "99", "120", "-3", "", "+5", "007", "-"};
const char* const kScaleValues[] = {"360", "0", "1", "-1", "-360", "10000000", "-10000000",
                                    "99999999", "2100000000", "2147483647", "2147483648",
                                    "67108864", "", "-", "1.5", "1,5"};

} // namespace

class TestMonkey : public QObject {
    Q_OBJECT

private:
    TForm1* form = nullptr;
    std::mt19937 rng;
    std::deque<QString> recent;

    template <class T> T* C(const char* name) { return Ctl<T>(form, name); }

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    bool Chance(int percent) { return Pick(100) < percent; }

    void Log(const QString& what) {
        recent.push_back(what);
        if (recent.size() > 15) {
            recent.pop_front();
        }
    }

    QString RandomText(int maxLength) {
        static const QString alphabet = QString::fromUtf8(
            "0123456789ABCDEFabcdefxXgGzZ  +-.,#_/é٣Ａ\t");
        QString s;
        const int length = 1 + Pick(maxLength);
        for (int i = 0; i < length; ++i) {
            s += alphabet.at(Pick(static_cast<int>(alphabet.size())));
        }
        return s;
    }

    // A frame that decodes with an OK CRC at position length n (1 to 50).
    QString ValidFrame(int n) {
        const int maxAck = 54 - n;
        const int ack = 2 + Pick(std::max(1, maxAck - 1));
        QString bits;
        const int ones = Pick(ack); // leading ones, then at least one zero before the start bit
        bits += QString(ones, QLatin1Char('1'));
        bits += QString(ack - ones, QLatin1Char('0'));
        bits += QLatin1Char('1');                                 // start
        bits += QLatin1Char(Chance(50) ? '1' : '0');               // CDS
        QString data;
        for (int i = 0; i < n + 2; ++i) {
            data += QLatin1Char(Chance(50) ? '1' : '0');
        }
        int crc = 0;
        for (QChar c : data) {
            const int out = (crc >> 5) & 1;
            crc = (crc << 1) & 0x3F;
            if ((out ^ (c == QLatin1Char('1') ? 1 : 0)) != 0) {
                crc ^= 0x03;
            }
        }
        bits += data;
        bits += QString::number((~crc) & 0x3F, 2).rightJustified(6, QLatin1Char('0'));
        while (bits.size() < 64) {
            bits += QLatin1Char(Chance(50) ? '1' : '0');
        }
        return QString::number(bits.toULongLong(nullptr, 2), 16).toUpper().rightJustified(16, QLatin1Char('0'));
    }

    QWidget* FocusField(const char* name, bool byMouse) {
        QWidget* w = C<QWidget>(name);
        if (byMouse) {
            QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(4, w->height() / 2));
        } else {
            w->setFocus(Qt::TabFocusReason);
        }
        return w;
    }

    void SelectAll(QWidget* w) {
        if (auto* s = qobject_cast<TSpinEdit*>(w)) {
            s->selectAll();
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            e->selectAll();
        }
    }

    // One random user action.
    void Act() {
        const int roll = Pick(100);
        if (roll < 18) {
            const char* name = kEditable[Pick(5)];
            QWidget* w = FocusField(name, Chance(30));
            const QString text = RandomText(4);
            Log(QStringLiteral("type \"%1\" into %2").arg(text, QLatin1String(name)));
            TypeText(w, text);
        } else if (roll < 28) {
            const bool intoInput = Chance(80);
            const char* name = intoInput ? "edInput" : kEditable[Pick(5)];
            const QString frame = Chance(50) ? QString::fromUtf8(kSampleFrames[Pick(std::size(kSampleFrames))])
                                             : ValidFrame(1 + Pick(50));
            QGuiApplication::clipboard()->setText(frame);
            QWidget* w = FocusField(name, Chance(30));
            Log(QStringLiteral("paste \"%1\" over %2").arg(frame, QLatin1String(name)));
            QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
        } else if (roll < 42) {
            const int n = C<TSpinEdit>("seDataLen")->value();
            const QString frame = ValidFrame(n >= 1 && n <= 50 ? n : 1 + Pick(50));
            QWidget* w = FocusField("edInput", false);
            SelectAll(w);
            Log(QStringLiteral("type frame %1 and calculate").arg(frame));
            QTest::keyClicks(w, frame);
            QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
        } else if (roll < 54) {
            auto* len = C<TSpinEdit>("seDataLen");
            if (Chance(60)) {
                len->setFocus(Qt::TabFocusReason);
            }
            const bool up = Chance(50);
            const int times = 1 + Pick(3);
            Log(QStringLiteral("step length %1 x%2").arg(up ? "up" : "down").arg(times));
            for (int i = 0; i < times; ++i) {
                QTest::keyClick(len, up ? Qt::Key_Up : Qt::Key_Down);
            }
        } else if (roll < 62) {
            QWidget* w = FocusField("seDataLen", Chance(30));
            SelectAll(w);
            const QString text = QString::fromLatin1(kLengths[Pick(std::size(kLengths))]);
            Log(QStringLiteral("type length \"%1\"").arg(text));
            if (text.isEmpty()) {
                QTest::keyClick(w, Qt::Key_Backspace);
            } else {
                QTest::keyClicks(w, text);
            }
        } else if (roll < 68) {
            const char* name = Chance(50) ? "seNominator" : "seDenominator";
            QWidget* w = FocusField(name, Chance(30));
            SelectAll(w);
            const QString text = QString::fromLatin1(kScaleValues[Pick(std::size(kScaleValues))]);
            Log(QStringLiteral("type \"%1\" into %2").arg(text, QLatin1String(name)));
            if (text.isEmpty()) {
                QTest::keyClick(w, Qt::Key_Backspace);
            } else {
                QTest::keyClicks(w, text);
            }
        } else if (roll < 80) {
            Log(QStringLiteral("click Calculate"));
            QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
        } else if (roll < 92) {
            const int how = Pick(3);
            QWidget* focus = QApplication::focusWidget();
            if (how == 0 && focus) {
                Log(QStringLiteral("Tab"));
                QTest::keyClick(focus, Qt::Key_Tab);
            } else if (how == 1 && focus) {
                Log(QStringLiteral("Backtab"));
                QTest::keyClick(focus, Qt::Key_Backtab, Qt::ShiftModifier);
            } else {
                const char* name = kFocusable[Pick(std::size(kFocusable))];
                if (QLatin1String(name).startsWith(QLatin1String("btn"))) {
                    name = "edUnit"; // clicking a button is an action of its own
                }
                Log(QStringLiteral("click into %1").arg(QLatin1String(name)));
                FocusField(name, true);
            }
        } else if (roll < 99) {
            QWidget* focus = QApplication::focusWidget();
            if (focus) {
                const bool back = Chance(50);
                Log(back ? QStringLiteral("Backspace") : QStringLiteral("Delete"));
                QTest::keyClick(focus, back ? Qt::Key_Backspace : Qt::Key_Delete);
            }
        } else {
            Log(QStringLiteral("click ?"));
            QTest::mouseClick(C<QPushButton>("btnQ"), Qt::LeftButton);
        }
    }

    // Every invariant of the window; the first one broken, or an empty text.
    QString Violation(bool trustLength) {
        auto* panel = C<QLabel>("pnlCRCok");
        const QColor colour = Colour(panel);
        const QString caption = panel->text();
        if (panel->accessibleName() != caption) {
            return QStringLiteral("accessible name \"%1\" differs from caption \"%2\"")
                .arg(panel->accessibleName(), caption);
        }
        const bool green = colour == kGreen, red = colour == kRed, neutral = colour == Neutral();
        if (!(green && caption == QLatin1String("CRC OK")) &&
            !(red && caption == QLatin1String("CRC error")) &&
            !(neutral && caption == QLatin1String("CRC"))) {
            return QStringLiteral("verdict \"%1\" on %2").arg(caption, colour.name());
        }

        const QString digits = C<QLabel>("lblInputBin")->text();
        const QString ackText = C<QLineEdit>("edAdckLen")->text();
        const char* results[] = {"edPosition", "edStatus", "edCRCin", "edCRCinInv", "edCRCcalc"};
        auto resultsEmpty = [&]() -> QString {
            for (const char* n : results) {
                if (!C<QLineEdit>(n)->text().isEmpty()) {
                    return QStringLiteral("%1 holds \"%2\" though nothing was decoded")
                        .arg(QLatin1String(n), C<QLineEdit>(n)->text());
                }
            }
            if (C<QLabel>("lblPosition")->text() != QLatin1String("Position")) {
                return QStringLiteral("lblPosition holds \"%1\" though nothing was decoded")
                    .arg(C<QLabel>("lblPosition")->text());
            }
            return {};
        };

        if (digits == QLatin1String("Binary input")) {
            if (!neutral || !ackText.isEmpty()) {
                return QStringLiteral("results shown while the digits read \"Binary input\"");
            }
            return resultsEmpty();
        }
        const std::optional<RefFrame> anyLength = RefFromBits(digits, 1);
        if (digits == QLatin1String(kInvalidMessage) || (anyLength && !anyLength->hasStart)) {
            const bool invalid = !anyLength;
            if (!neutral) {
                return QStringLiteral("verdict %1 after a run that decoded nothing").arg(caption);
            }
            if (ackText != (invalid ? QString() : QStringLiteral("no start bit"))) {
                return QStringLiteral("edAdckLen holds \"%1\" after %2")
                    .arg(ackText, invalid ? QStringLiteral("invalid input") : QStringLiteral("no start bit"));
            }
            for (const char* s : kStripNames) {
                if (C<QWidget>(s)->isVisibleTo(form)) {
                    return QStringLiteral("%1 visible though nothing was decoded").arg(QLatin1String(s));
                }
            }
            return resultsEmpty();
        }
        if (!anyLength) {
            return QStringLiteral("the digit label holds \"%1\"").arg(digits);
        }
        // A frame with a start bit was decoded.
        if (neutral) {
            return QStringLiteral("neutral verdict next to a decoded frame");
        }
        if (green && (C<QLineEdit>("edCRCcalc")->text().isEmpty() ||
                      C<QLineEdit>("edCRCcalc")->text() != C<QLineEdit>("edCRCinInv")->text())) {
            return QStringLiteral("green although the computed CRC %1 differs from the non-inverted %2")
                .arg(C<QLineEdit>("edCRCcalc")->text(), C<QLineEdit>("edCRCinInv")->text());
        }

        const int n = C<TSpinEdit>("seDataLen")->value();
        if (!trustLength || n < 1 || n > 50) {
            return {};
        }
        const RefFrame f = *RefFromBits(digits, n);
        const QString expected[] = {QStringLiteral("%1 bits").arg(f.ack),
                                    QString::number(f.position),
                                    StatusText(f.status),
                                    Hex2(f.crcReceived),
                                    Hex2((~f.crcReceived) & 0x3F),
                                    Hex2(f.crcCalculated)};
        const char* fields[] = {"edAdckLen", "edPosition", "edStatus", "edCRCin", "edCRCinInv", "edCRCcalc"};
        for (int i = 0; i < 6; ++i) {
            if (C<QLineEdit>(fields[i])->text() != expected[i]) {
                return QStringLiteral("%1 holds \"%2\", the digits give \"%3\" (n %4)")
                    .arg(QLatin1String(fields[i]), C<QLineEdit>(fields[i])->text(), expected[i])
                    .arg(n);
            }
        }
        const bool ok = f.fits && f.crcCalculated == ((~f.crcReceived) & 0x3F);
        if (green != ok) {
            return QStringLiteral("verdict %1 but the frame's CRC is %2 (fits: %3)")
                .arg(caption, ok ? QStringLiteral("good") : QStringLiteral("bad"))
                .arg(f.fits);
        }

        auto* bin = C<QLabel>("lblInputBin");
        const double w = bin->width() / 64.0;
        int total = 0;
        int left = bin->x();
        for (const char* s : kStripNames) {
            const QRect g = C<QWidget>(s)->geometry();
            if (!C<QWidget>(s)->isVisibleTo(form) || g.x() != left || g.y() != 111 || g.height() != 17) {
                return QStringLiteral("%1 at %2,%3 %4x%5 (visible %6), expected left %7")
                    .arg(QLatin1String(s)).arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())
                    .arg(C<QWidget>(s)->isVisibleTo(form)).arg(left);
            }
            left += g.width();
            total += g.width();
        }
        const double span = w * (f.ack + n + 10);
        if (std::abs(total - span) > 2.5) {
            return QStringLiteral("strips cover %1 px, the digits %2 px").arg(total).arg(span);
        }
        return {};
    }

    QString SpinOutOfRange() {
        for (const char* name : {"seDataLen", "seDenominator", "seNominator"}) {
            auto* s = C<TSpinEdit>(name);
            if (s->hasFocus()) {
                continue;
            }
            if (s->value() < s->minimum() || s->value() > s->maximum()) {
                return QStringLiteral("%1 reads %2 (text \"%3\") after losing the focus")
                    .arg(QLatin1String(name)).arg(s->value()).arg(s->text());
            }
            // Out of the focus a field shows what the next calculation reads; only the
            // cleared field (read as the minimum) is empty.
            bool number = false;
            const qlonglong shown = s->text().toLongLong(&number);
            if (!s->text().isEmpty() && (!number || shown != s->value())) {
                return QStringLiteral("%1 shows \"%2\" but reads %3 after losing the focus")
                    .arg(QLatin1String(name), s->text()).arg(s->value());
            }
        }
        return {};
    }

private slots:
    void walk() {
        const QString seedText = qEnvironmentVariable("CORVANE_MONKEY_SEED");
        quint32 seed = kFixedSeed;
        if (seedText == QLatin1String("random")) {
            seed = QRandomGenerator::system()->generate();
        } else if (!seedText.isEmpty()) {
            bool seeded = false;
            seed = seedText.toUInt(&seeded);
            QVERIFY2(seeded, "CORVANE_MONKEY_SEED is a number or \"random\"");
        }
        bool counted = false;
        int steps = qEnvironmentVariable("CORVANE_MONKEY_STEPS").toInt(&counted);
        if (!counted || steps <= 0) {
            steps = 3000;
        }
        qInfo("monkey seed %u, %d steps (replay with CORVANE_MONKEY_SEED=%u)", seed, steps, seed);
        rng.seed(seed);

        ModalCloser closer;
        TForm1 window;
        form = &window;
        QVERIFY(ShowActive(form));
        QSignalSpy lengthChanged(C<TSpinEdit>("seDataLen"), &TSpinEdit::changed);
        QSignalSpy clicked(C<QPushButton>("btnCalculate"), &QPushButton::clicked);

        QElapsedTimer clock;
        clock.start();
        bool trustLength = true; // false while the last run may have ended in the error report
        int errorReports = 0, helpBoxes = 0, green = 0, red = 0, neutral = 0;
        for (int step = 0; step < steps; ++step) {
            const auto boxesBefore = closer.boxes.size();
            lengthChanged.clear();
            clicked.clear();
            Act();
            QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
            if (!form->isActiveWindow()) {
                form->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(form));
            }
            bool reported = false;
            for (auto i = boxesBefore; i < closer.boxes.size(); ++i) {
                const BoxRecord& box = closer.boxes.at(i);
                if (box.icon == QMessageBox::Critical) {
                    reported = true;
                    ++errorReports;
                    Log(QStringLiteral("error report: %1").arg(box.text));
                } else {
                    QVERIFY2(box.icon == QMessageBox::NoIcon && box.text.startsWith(QLatin1String("Corvane.")),
                             qPrintable(QStringLiteral("unexpected box \"%1\"").arg(box.text)));
                    ++helpBoxes;
                }
            }
            if (reported) {
                trustLength = false;
            } else if (!lengthChanged.isEmpty() || !clicked.isEmpty()) {
                trustLength = true;
            }
            QString broken = Violation(trustLength);
            if (broken.isEmpty()) {
                broken = SpinOutOfRange();
            }
            if (!broken.isEmpty()) {
                QString history;
                for (const QString& r : recent) {
                    history += QStringLiteral("\n    ") + r;
                }
                QFAIL(qPrintable(QStringLiteral("seed %1, step %2: %3\n  last actions:%4")
                                     .arg(seed).arg(step).arg(broken, history)));
            }
            const QColor colour = Colour(C<QLabel>("pnlCRCok"));
            green += colour == kGreen;
            red += colour == kRed;
            neutral += colour == Neutral();
        }
        // Closing the window takes the focus from whatever field held it, as leaving would.
        QVERIFY(form->close());
        QString broken = Violation(true);
        if (broken.isEmpty()) {
            broken = SpinOutOfRange();
        }
        QVERIFY2(broken.isEmpty(), qPrintable(QStringLiteral("seed %1, after closing: %2").arg(seed).arg(broken)));
        qInfo("monkey: %d steps in %lld ms; verdict after a step: %d green, %d red, %d neutral; "
              "%d error reports, %d help boxes",
              steps, static_cast<long long>(clock.elapsed()), green, red, neutral, errorReports,
              helpBoxes);
        QVERIFY2(green > 0 && red > 0 && neutral > 0, "the walk reached every verdict");
        form = nullptr;
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestMonkey t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_monkey.moc"
