// The main window as it opens: every control of the stored layout, the window frame, fonts,
// hints, focus and tab order, the start-up state, the application title and the error report's
// text rule, and the logo picture including damaged ones.
#include "window/jpegimage.h"
#include "windowtestsupport.h"

#include <QFile>
#include <QFontInfo>
#include <QFrame>
#include <QIcon>
#include <QPixmap>
#include <QRandomGenerator>

#include <memory>

using namespace wt;

namespace {

// Offsets of the JPEG markers of `data` up to and including the first SOS, walking the
// segments from SOI on; empty when the data is not laid out as a JPEG.
QList<QPair<int, quint8>> JpegMarkers(const QByteArray& data) {
    QList<QPair<int, quint8>> markers;
    if (data.size() < 4 || quint8(data[0]) != 0xFF || quint8(data[1]) != 0xD8) {
        return markers;
    }
    int pos = 2;
    while (pos + 4 <= data.size()) {
        if (quint8(data[pos]) != 0xFF) {
            break;
        }
        const quint8 marker = quint8(data[pos + 1]);
        markers.append({pos, marker});
        const int length = (quint8(data[pos + 2]) << 8) | quint8(data[pos + 3]);
        if (marker == 0xDA) {
            break;
        }
        pos += 2 + length;
    }
    return markers;
}

int MarkerOffset(const QByteArray& data, quint8 marker) {
    for (const auto& m : JpegMarkers(data)) {
        if (m.second == marker) {
            return m.first;
        }
    }
    return -1;
}

QByteArray ReadLogo() {
    QFile f(QStringLiteral(CORVANE_LOGO_PATH));
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.readAll();
}

} // namespace

class TestLayout : public QObject, protected FormFixture {
    Q_OBJECT

private:

    // Position of `w` relative to `base` (the form unless stated).
    static QPoint PosIn(const QWidget* w, const QWidget* base) { return w->mapTo(base, QPoint(0, 0)); }

    void DecodeDefault() {
        auto* btn = C<QPushButton>("btnCalculate");
        QVERIFY(btn);
        QTest::mouseClick(btn, Qt::LeftButton);
        QCOMPARE(C<QLineEdit>("edPosition")->text(), QStringLiteral("26440930"));
    }

private slots:
    void init() { QVERIFY(Open(false)); }

    void cleanup() { QCOMPARE(Close(), 0); }

    void controlTable_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("parentName"); // the control it sits in; empty: the window
        QTest::addColumn<QRect>("place");         // width -1: a label sizing itself
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("minimum");      // spin fields only
        QTest::addColumn<qint64>("maximum");
        QTest::addColumn<QString>("colour");      // "#RRGGBB", "neutral" or empty
        QTest::addColumn<int>("readOnly");        // edits: 0 or 1; others -1

        const qint64 na = 0;
        auto strip = [&](const char* n, QRect r, const char* c) {
            QTest::newRow(n) << "QWidget" << "" << r << "" << na << na << c << -1;
        };
        auto label = [&](const char* n, int x, int y, const char* t, const char* parent = "") {
            QTest::newRow(n) << "QLabel" << parent << QRect(x, y, -1, -1) << t << na << na << ""
                             << -1;
        };
        auto edit = [&](const char* n, QRect r, const char* t, int ro) {
            QTest::newRow(n) << "QLineEdit" << "" << r << t << na << na << "" << ro;
        };
        auto spin = [&](const char* n, QRect r, const char* t, qint64 lo, qint64 hi) {
            QTest::newRow(n) << "TSpinEdit" << "" << r << t << lo << hi << "" << -1;
        };

        strip("shpCrc", QRect(231, 111, 25, 17), "#C0DCC0");
        strip("shpStatus", QRect(197, 111, 25, 17), "#A6CAF0");
        strip("shpPosition", QRect(166, 111, 25, 17), "#00FF00");
        strip("shpStart", QRect(135, 111, 25, 17), "#00FFFF");
        strip("shpAck", QRect(104, 111, 25, 17), "#FFFF00");
        label("Label1", 16, 80, "HEX input data");
        label("lbl1", 16, 144, "ACK length");
        label("Label2", 16, 232, "Position");
        label("Label3", 17, 280, "Status");
        label("Label4", 16, 336, "CRC (inverted)");
        label("Label5", 17, 390, "CRC calculated");
        label("Label6", 16, 363, "CRC non-inverted");
        label("Label7", 16, 189, "Position Length");
        label("Label8", 243, 167, "Encoder resolution");
        label("lblPosition", 243, 230, "Position");
        label("lblInputBin", 16, 112, "Binary input");
        edit("edInput", QRect(104, 77, 185, 21), "C004C9BA71753000", 0);
        edit("edAdckLen", QRect(104, 141, 121, 21), "", 1);
        edit("edPosition", QRect(104, 229, 121, 21), "", 1);
        edit("edStatus", QRect(104, 277, 121, 21), "", 1);
        edit("edCRCin", QRect(139, 333, 86, 21), "", 1);
        edit("edCRCinInv", QRect(139, 360, 86, 21), "", 1);
        edit("edCRCcalc", QRect(139, 387, 86, 21), "", 1);
        spin("seDataLen", QRect(104, 186, 121, 22), "26", 1, 50);
        QTest::newRow("pnlCRCok") << "QLabel" << "" << QRect(243, 366, 70, 41) << "CRC" << na
                                  << na << "neutral" << -1;
        QTest::newRow("btnCalculate") << "QPushButton" << "" << QRect(350, 363, 75, 50)
                                      << "Calculate" << na << na << "" << -1;
        edit("edUnit", QRect(384, 186, 41, 21), "deg", 0);
        spin("seDenominator", QRect(299, 186, 81, 22), "67108864", 1, 2100000000);
        spin("seNominator", QRect(243, 186, 53, 22), "360", -10000000, 10000000);
        QTest::newRow("pnl2Mid") << "QFrame" << "" << QRect(0, 49, 448, 8) << "" << na << na
                                 << "#FF8040" << -1;
        QTest::newRow("pnl1Top") << "QFrame" << "" << QRect(0, 0, 448, 49) << "" << na << na
                                 << "#FFFFFF" << -1;
        QTest::newRow("Image2") << "QLabel" << "pnl1Top" << QRect(317, 9, 126, 31) << "" << na
                                << na << "" << -1;
        label("Label9", 17, 17, "Corvane", "pnl1Top");
        QTest::newRow("btnQ") << "QPushButton" << "" << QRect(416, 63, 24, 24) << "?" << na << na
                              << "" << -1;
    }

    void controlTable() {
        QFETCH(QString, kind);
        QFETCH(QString, parentName);
        QFETCH(QRect, place);
        QFETCH(QString, text);
        QFETCH(qint64, minimum);
        QFETCH(qint64, maximum);
        QFETCH(QString, colour);
        QFETCH(int, readOnly);

        const QString name = QString::fromLatin1(QTest::currentDataTag());
        auto* w = form->findChild<QWidget*>(name);
        QVERIFY2(w, qPrintable(name + " is missing"));
        QVERIFY2(w->inherits(kind.toLatin1().constData()),
                 qPrintable(name + " is a " + w->metaObject()->className()));
        QVERIFY(w->isVisibleTo(form.get()));

        const QWidget* base = form.get();
        if (!parentName.isEmpty()) {
            base = form->findChild<QWidget*>(parentName);
            QVERIFY(base);
            QVERIFY2(base->isAncestorOf(w), qPrintable(name + " is not inside " + parentName));
        }
        QCOMPARE(PosIn(w, base), place.topLeft());
        if (place.width() >= 0) {
            QCOMPARE(w->size(), place.size());
        }

        if (auto* l = qobject_cast<QLabel*>(w)) {
            QCOMPARE(l->text(), text);
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            QCOMPARE(e->text(), text);
            QCOMPARE(e->isReadOnly(), readOnly == 1);
        } else if (auto* s = qobject_cast<TSpinEdit*>(w)) {
            QCOMPARE(s->text(), text);
            QCOMPARE(qint64(s->value()), text.toLongLong());
            QCOMPARE(qint64(s->minimum()), minimum);
            QCOMPARE(qint64(s->maximum()), maximum);
        } else if (auto* b = qobject_cast<QPushButton*>(w)) {
            QCOMPARE(b->text(), text);
        }

        if (colour == QLatin1String("neutral")) {
            QVERIFY(w->autoFillBackground());
            QCOMPARE(Colour(w), Neutral());
        } else if (!colour.isEmpty()) {
            QVERIFY2(w->autoFillBackground(), qPrintable(name + " does not paint its colour"));
            QCOMPARE(Colour(w).name(QColor::HexRgb).toUpper(), colour);
            if (auto* f = qobject_cast<QFrame*>(w)) {
                QCOMPARE(f->frameShape(), QFrame::NoFrame); // no outline, no bevel
            }
        }
    }

    void labelsSizeToTextAndStripsLieBelow() {
        // The strips come first among the controls on the window's surface, so every label
        // there is drawn over them; those labels have a transparent background.
        auto* bin = C<QLabel>("lblInputBin");
        QVERIFY(bin);
        QWidget* surface = bin->parentWidget();
        const QObjectList order = surface->children();
        int lastStrip = -1;
        for (const char* s : kStripNames) {
            auto* strip = C<QWidget>(s);
            QVERIFY(strip);
            QCOMPARE(strip->parentWidget(), surface);
            lastStrip = std::max(lastStrip, static_cast<int>(order.indexOf(strip)));
        }
        const QList<QLabel*> labels = surface->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
        for (QLabel* l : labels) {
            if (l->objectName() == QLatin1String("pnlCRCok")) {
                continue; // the verdict panel paints its own colour
            }
            QVERIFY2(order.indexOf(l) > lastStrip, qPrintable(l->objectName() + " lies under a strip"));
            QVERIFY2(!l->autoFillBackground(), qPrintable(l->objectName() + " is not transparent"));
            QCOMPARE(l->size(), l->sizeHint());
        }
    }

    void windowFrame() {
        QCOMPARE(form->objectName(), QStringLiteral("Form1"));
        QCOMPARE(form->windowTitle(), QStringLiteral("Corvane"));
        QVERIFY(ShowActive(form.get()));
        QCOMPARE(form->size(), QSize(448, 444));
        QCOMPARE(form->minimumSize(), QSize(448, 444));
        QCOMPARE(form->maximumSize(), QSize(448, 444));
        form->resize(600, 500);
        QCOMPARE(form->size(), QSize(448, 444));
        const Qt::WindowFlags flags = form->windowFlags();
        QVERIFY(form->isWindow());
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QCOMPARE(Colour(form.get()), Neutral());
        const QIcon icon = form->windowIcon();
        QVERIFY(!icon.isNull());
        const QList<QSize> sizes = icon.availableSizes();
        QVERIFY2(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)),
                 "the icon holds a 16 x 16 and a 32 x 32 image");
    }

    void fonts_data() {
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("bold");
        QTest::newRow("Form1") << 11 << false;
        QTest::newRow("edInput") << 11 << false;
        QTest::newRow("Label1") << 11 << false;
        QTest::newRow("lblInputBin") << 11 << false;
        QTest::newRow("btnCalculate") << 11 << false;
        QTest::newRow("lblPosition") << 13 << true;
        QTest::newRow("Label9") << 12 << true;
    }

    void fonts() {
        QFETCH(int, pixels);
        QFETCH(bool, bold);
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        QWidget* w = name == QLatin1String("Form1") ? form.get() : form->findChild<QWidget*>(name);
        QVERIFY(w);
        const QFontInfo info(w->font());
        QCOMPARE(info.pixelSize(), pixels);
        QCOMPARE(info.bold(), bold);
        // Wine's Tahoma (fonts-wine) is a dependency of the program and of its build.
        QCOMPARE(info.family(), QStringLiteral("Tahoma"));
    }

    void panelsAndButtons() {
        auto* verdict = C<QLabel>("pnlCRCok");
        QVERIFY(verdict);
        QCOMPARE(verdict->frameShape(), QFrame::Panel);
        QCOMPARE(verdict->frameShadow(), QFrame::Raised);
        QCOMPARE(verdict->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        QCOMPARE(verdict->alignment() & Qt::AlignVertical_Mask, Qt::AlignVCenter);
        for (const char* n : {"pnlCRCok", "pnl1Top", "pnl2Mid", "Image2"}) {
            auto* w = C<QWidget>(n);
            QVERIFY(w);
            QVERIFY2(w->focusPolicy() == Qt::NoFocus, n);
        }
        for (const char* n : {"btnCalculate", "btnQ"}) {
            auto* b = C<QPushButton>(n);
            QVERIFY(b);
            QVERIFY2(!b->isDefault() && !b->autoDefault(), n);
        }
        // No accelerators anywhere.
        for (QLabel* l : form->findChildren<QLabel*>()) {
            QVERIFY2(!l->text().contains(QLatin1Char('&')), qPrintable(l->objectName()));
        }
        for (QAbstractButton* b : form->findChildren<QAbstractButton*>()) {
            QVERIFY2(!b->text().contains(QLatin1Char('&')), qPrintable(b->objectName()));
        }
    }

    void hintsOnlyWhereListed() {
        const QHash<QString, QString> hints = {
            {QStringLiteral("edUnit"), QStringLiteral("Units")},
            {QStringLiteral("seDenominator"), QStringLiteral("Denominator")},
            {QStringLiteral("seNominator"), QStringLiteral("Nominator")},
            {QStringLiteral("Image2"), QStringLiteral("Double click to visit https://corvane.example")},
        };
        QCOMPARE(form->toolTip(), QString());
        for (QWidget* w : form->findChildren<QWidget*>()) {
            const QString expected = hints.value(w->objectName());
            QVERIFY2(w->toolTip() == expected,
                     qPrintable(QStringLiteral("%1 (%2) has the hint \"%3\"")
                                    .arg(w->objectName(), w->metaObject()->className(), w->toolTip())));
        }
    }

    void startupState() {
        QVERIFY(ShowActive(form.get()));
        QTest::qWait(50); // no event may decode behind the user's back
        for (const char* n : {"edAdckLen", "edPosition", "edStatus", "edCRCin", "edCRCinInv", "edCRCcalc"}) {
            QVERIFY2(C<QLineEdit>(n)->text().isEmpty(), n);
        }
        QCOMPARE(C<QLineEdit>("edInput")->text(), QString::fromLatin1(kDefaultFrame));
        QCOMPARE(C<QLabel>("lblInputBin")->text(), QStringLiteral("Binary input"));
        QCOMPARE(C<QLabel>("lblPosition")->text(), QStringLiteral("Position"));
        auto* verdict = C<QLabel>("pnlCRCok");
        QCOMPARE(verdict->text(), QStringLiteral("CRC"));
        QCOMPARE(verdict->accessibleName(), QStringLiteral("CRC"));
        QCOMPARE(Colour(verdict), Neutral());
        QCOMPARE(C<TSpinEdit>("seDenominator")->value(), 67108864);
        const int lefts[] = {104, 135, 166, 197, 231};
        for (int i = 0; i < 5; ++i) {
            auto* strip = C<QWidget>(kStripNames[i]);
            QVERIFY2(strip->isVisible(), kStripNames[i]);
            QCOMPARE(strip->geometry(), QRect(lefts[i], 111, 25, 17));
        }
    }

    void focusAndTabOrder() {
        QVERIFY(ShowActive(form.get()));
        auto* input = C<QLineEdit>("edInput");
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(input));
        QCOMPARE(input->selectedText(), QString::fromLatin1(kDefaultFrame));

        // Fill the read-only edits so that their selection can be seen.
        DecodeDefault();
        QCOMPARE(QApplication::focusWidget(), C<QWidget>("btnCalculate"));

        const QStringList order = {"edInput", "edAdckLen", "edPosition", "edStatus", "edCRCin",
                                   "edCRCinInv", "edCRCcalc", "seDataLen", "btnCalculate",
                                   "edUnit", "seDenominator", "seNominator", "btnQ"};
        auto focusName = [this]() -> QString {
            QWidget* f = QApplication::focusWidget();
            for (QWidget* w = f; w && w != form.get(); w = w->parentWidget()) {
                if (qobject_cast<TSpinEdit*>(w)) {
                    return w->objectName();
                }
            }
            return f ? f->objectName() : QStringLiteral("<none>");
        };
        auto checkSelectedAll = [this](const QString& name) {
            QWidget* w = form->findChild<QWidget*>(name);
            QLineEdit* e = qobject_cast<QLineEdit*>(w);
            if (qobject_cast<TSpinEdit*>(w)) {
                e = SpinLine(w);
            }
            if (e) {
                QVERIFY2(!e->text().isEmpty(), qPrintable(name));
                QVERIFY2(e->selectedText() == e->text(),
                         qPrintable(name + " selected \"" + e->selectedText() + "\""));
            }
        };

        // Forward from Calculate round the whole chain and back to Calculate.
        const int start = static_cast<int>(order.indexOf(QStringLiteral("btnCalculate")));
        for (int step = 1; step <= order.size(); ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            const QString expected = order.at((start + step) % order.size());
            QCOMPARE(focusName(), expected);
            checkSelectedAll(expected);
            if (QTest::currentTestFailed()) {
                return;
            }
        }
        // And backwards.
        for (int step = 1; step <= order.size(); ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            const QString expected = order.at((start - step + 2 * order.size()) % order.size());
            QCOMPARE(focusName(), expected);
            checkSelectedAll(expected);
            if (QTest::currentTestFailed()) {
                return;
            }
        }

        // A mouse click gives the focus without selecting the text.
        auto* unit = C<QLineEdit>("edUnit");
        QTest::mouseClick(unit, Qt::LeftButton, {}, QPoint(unit->width() - 4, unit->height() / 2));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(unit));
        QCOMPARE(unit->selectedText(), QString());
    }

    void selectAllOnFocus_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("selected");
        const QPair<const char*, Qt::FocusReason> reasons[] = {
            {"Tab", Qt::TabFocusReason},       {"Backtab", Qt::BacktabFocusReason},
            {"shortcut", Qt::ShortcutFocusReason}, {"program", Qt::OtherFocusReason},
            {"window activated", Qt::ActiveWindowFocusReason}, {"mouse", Qt::MouseFocusReason}};
        for (const char* field : {"edInput", "edAdckLen", "edUnit", "seDataLen", "seDenominator",
                                  "seNominator"}) {
            for (const auto& r : reasons) {
                QTest::addRow("%s, %s", field, r.first)
                    << QString::fromLatin1(field) << int(r.second)
                    << (r.second != Qt::MouseFocusReason);
            }
        }
    }

    void selectAllOnFocus() {
        QFETCH(QString, field);
        QFETCH(int, reason);
        QFETCH(bool, selected);
        QVERIFY(ShowActive(form.get()));
        DecodeDefault(); // gives the read-only edits a text; the focus is now on Calculate
        QWidget* w = form->findChild<QWidget*>(field);
        QVERIFY(w);
        QLineEdit* e = qobject_cast<TSpinEdit*>(w) ? SpinLine(w) : qobject_cast<QLineEdit*>(w);
        QVERIFY(e && !e->text().isEmpty());
        e->deselect();
        w->setFocus(static_cast<Qt::FocusReason>(reason));
        QTRY_VERIFY(w->hasFocus());
        QCOMPARE(e->selectedText(), selected ? e->text() : QString());
    }

    void logoAsset() {
        const QByteArray data = ReadLogo();
        QVERIFY2(!data.isEmpty(), CORVANE_LOGO_PATH);
        const int sof = MarkerOffset(data, 0xC0); // baseline
        QVERIFY2(sof > 0, "the logo is a baseline JPEG");
        QVERIFY(MarkerOffset(data, 0xDA) > sof);
        const auto byteAt = [&data, sof](int i) { return int(quint8(data[sof + i])); };
        QCOMPARE((byteAt(5) << 8) | byteAt(6), 31);  // height
        QCOMPARE((byteAt(7) << 8) | byteAt(8), 126); // width
        QCOMPARE(byteAt(9), 3);                      // colour components
    }

    void logoDecodes() {
        const QImage image = DecodeJpeg(ReadLogo());
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(126, 31));

        auto* logo = C<QLabel>("Image2");
        QVERIFY(logo);
        QVERIFY(!logo->pixmap().isNull());
        QCOMPARE(logo->pixmap().size(), QSize(126, 31));
        QVERIFY(logo->hasScaledContents());
        QCOMPARE(logo->cursor().shape(), Qt::PointingHandCursor);
    }

    void damagedLogo_data() {
        const QByteArray logo = ReadLogo();
        QVERIFY(!logo.isEmpty());
        const int sof = MarkerOffset(logo, 0xC0);
        const int sos = MarkerOffset(logo, 0xDA);
        QVERIFY(sof > 0 && sos > sof);
        const int scanStart = sos + 2 + ((quint8(logo[sos + 2]) << 8) | quint8(logo[sos + 3]));

        QTest::addColumn<QByteArray>("data");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("this is not a picture");
        QByteArray garbage(4096, '\0');
        QRandomGenerator rng(20240104);
        for (char& c : garbage) {
            c = char(rng.bounded(256));
        }
        QTest::newRow("random bytes") << garbage;
        QTest::newRow("SOI then random bytes") << (QByteArray("\xFF\xD8", 2) + garbage);
        QTest::newRow("SOI only") << logo.left(2);
        QTest::newRow("cut at 20 bytes") << logo.left(20);
        QTest::newRow("cut inside the frame header") << logo.left(sof + 6);
        QTest::newRow("cut before the scan") << logo.left(sos);
        QTest::newRow("cut just after the scan header") << logo.left(scanStart + 1);
        QTest::newRow("cut halfway through the scan") << logo.left((scanStart + logo.size()) / 2);
        QByteArray zeroWidth = logo;
        zeroWidth[sof + 7] = 0;
        zeroWidth[sof + 8] = 0;
        QTest::newRow("frame width 0") << zeroWidth;
        QByteArray badComponents = logo;
        badComponents[sof + 9] = char(0); // no colour component at all
        QTest::newRow("no components") << badComponents;
    }

    void damagedLogo() {
        QFETCH(QByteArray, data);
        // libjpeg's own error handler would end the process; reaching the checks is part of
        // the test.
        const QImage image = DecodeJpeg(data);
        QVERIFY(image.isNull());
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestLayout t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_layout.moc"
