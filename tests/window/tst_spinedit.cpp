// The spin field: value read from the text, limiting on set and on leaving, stepping, refused
// characters and the change signal; on its own and as the window's position length.
#include "windowtestsupport.h"

#include <QClipboard>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QVBoxLayout>

#include <limits>
#include <memory>

using namespace wt;

class TestSpinEdit : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QWidget> host;
    TSpinEdit* spin = nullptr;  // range 1 to 50, value 26, like the position length
    QLineEdit* other = nullptr; // somewhere to move the focus to
    std::unique_ptr<ModalCloser> closer;

    void Focus(QWidget* w) {
        w->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(w->hasFocus());
    }

    // Pastes `text` over the whole text of the field, as Ctrl+V from the clipboard does.
    void PasteOver(QWidget* s, const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(s, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(s, Qt::Key_V, Qt::ControlModifier);
    }

    QRect ArrowRect(TSpinEdit* s, QStyle::SubControl which) {
        QStyleOptionSpinBox opt;
        opt.initFrom(s);
        opt.subControls = QStyle::SC_All;
        opt.buttonSymbols = s->buttonSymbols();
        opt.frame = s->hasFrame();
        opt.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
        return s->style()->subControlRect(QStyle::CC_SpinBox, &opt, which, s);
    }

private slots:
    void init() {
        closer = std::make_unique<ModalCloser>();
        host = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(host.get());
        spin = new TSpinEdit(host.get());
        spin->setRange(1, 50);
        spin->setValue(26);
        other = new QLineEdit(host.get());
        layout->addWidget(spin);
        layout->addWidget(other);
        QVERIFY(ShowActive(host.get()));
    }

    void cleanup() {
        host.reset();
        const int boxes = static_cast<int>(closer->boxes.size());
        closer.reset();
        QCOMPARE(boxes, 0);
    }

    void typedBeyondRangeIsReadAsTypedUntilLeaving() {
        Focus(spin);
        QSignalSpy changed(spin, &TSpinEdit::changed);
        TypeOver(spin, QStringLiteral("99"));
        QCOMPARE(spin->text(), QStringLiteral("99"));
        QCOMPARE(spin->value(), 99);
        QCOMPARE(changed.count(), 2); // "9", then "99"
        Focus(other);
        QCOMPARE(spin->text(), QStringLiteral("50"));
        QCOMPARE(spin->value(), 50);
        QCOMPARE(changed.count(), 3); // the write-back is a change too
    }

    void clearedFieldReadsMinimumAndStaysEmpty() {
        Focus(spin);
        QSignalSpy changed(spin, &TSpinEdit::changed);
        TypeOver(spin, QString());
        QCOMPARE(spin->text(), QString());
        QCOMPARE(spin->value(), 1);
        QCOMPARE(changed.count(), 1);
        Focus(other);
        QCOMPARE(spin->text(), QString());
        QCOMPARE(spin->value(), 1);
        QCOMPARE(changed.count(), 1);
    }

    void leavingInRangeTextWritesNothing() {
        Focus(spin);
        TypeOver(spin, QStringLiteral("7"));
        QSignalSpy changed(spin, &TSpinEdit::changed);
        Focus(other);
        QCOMPARE(spin->text(), QStringLiteral("7"));
        QCOMPARE(changed.count(), 0);
    }

    void leavingBelowRangeWritesMinimum() {
        Focus(spin);
        TypeOver(spin, QStringLiteral("0"));
        QCOMPARE(spin->value(), 0);
        Focus(other);
        QCOMPARE(spin->text(), QStringLiteral("1"));
        QCOMPARE(spin->value(), 1);
    }

    void pastedTextLosesSurroundingBlanks_data() {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("line break, as a spreadsheet cell copies") << "26\n" << "26" << 26;
        QTest::newRow("carriage return and line feed") << "13\r\n" << "13" << 13;
        QTest::newRow("blanks and a tab on both sides") << " \t 7 \n" << "7" << 7;
        QTest::newRow("no-break space before") << QString::fromUtf8("\u00A042") << "42" << 42;
        QTest::newRow("only a line break") << "\n" << "" << 1;
        QTest::newRow("blank inside stays") << "2 6" << "2 6" << 1;
        QTest::newRow("letters stay") << "abc" << "abc" << 1;
    }

    void pastedTextLosesSurroundingBlanks() {
        QFETCH(QString, pasted);
        QFETCH(QString, text);
        QFETCH(int, value);
        Focus(spin);
        // The text at each change: a handler of the change must never see the blanks. The
        // listener ends with this function (the field writes back when the host goes).
        QStringList seen;
        QObject listener;
        QObject::connect(spin, &TSpinEdit::changed, &listener, [&] { seen << spin->text(); });
        PasteOver(spin, pasted);
        QCOMPARE(spin->text(), text);
        QCOMPARE(spin->value(), value);
        QCOMPARE(seen, QStringList{text});
    }

    void leavingShowsTheValueUsed_data() {
        // Range 1 to 50. What is left in the field after it lost the focus is what the next
        // calculation reads, apart from the cleared field, which reads the minimum and stays
        // empty.
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("text");  // after leaving
        QTest::addColumn<int>("value");
        QTest::newRow("letters") << "abc" << "1" << 1;
        QTest::newRow("two minus signs") << "--5" << "1" << 1;
        QTest::newRow("decimal fraction") << "1.5" << "1" << 1;
        QTest::newRow("lone minus") << "-" << "1" << 1;
        QTest::newRow("lone plus") << "+" << "1" << 1;
        QTest::newRow("blank inside") << "2 6" << "1" << 1;
        QTest::newRow("far above int32") << "99999999999999999999" << "50" << 50;
        QTest::newRow("just above int32") << "2147483648" << "50" << 50;
        QTest::newRow("far below int32") << "-99999999999999999999" << "1" << 1;
        QTest::newRow("leading zeros inside the range stay") << "007" << "007" << 7;
        QTest::newRow("plus sign inside the range stays") << "+5" << "+5" << 5;
    }

    void leavingShowsTheValueUsed() {
        QFETCH(QString, pasted);
        QFETCH(QString, text);
        QFETCH(int, value);
        Focus(spin);
        PasteOver(spin, pasted);
        QCOMPARE(spin->text(), pasted); // left as it is while the field has the focus
        QSignalSpy changed(spin, &TSpinEdit::changed);
        Focus(other);
        QCOMPARE(spin->text(), text);
        QCOMPARE(spin->value(), value);
        QCOMPARE(changed.count(), text == pasted ? 0 : 1);
    }

    void stepping_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("how"); // 0 Up key, 1 Down key, 2 up arrow, 3 down arrow
        QTest::addColumn<int>("expected");
        QTest::newRow("Up key at 50 stays 50") << 50 << 0 << 50;
        QTest::newRow("up arrow at 50 stays 50") << 50 << 2 << 50;
        QTest::newRow("Down key at 1 stays 1") << 1 << 1 << 1;
        QTest::newRow("down arrow at 1 stays 1") << 1 << 3 << 1;
        QTest::newRow("Up key 26 to 27") << 26 << 0 << 27;
        QTest::newRow("Down key 26 to 25") << 26 << 1 << 25;
        QTest::newRow("up arrow 26 to 27") << 26 << 2 << 27;
        QTest::newRow("down arrow 26 to 25") << 26 << 3 << 25;
        QTest::newRow("Up key 49 to 50") << 49 << 0 << 50;
    }

    void stepping() {
        QFETCH(int, start);
        QFETCH(int, how);
        QFETCH(int, expected);
        Focus(spin);
        spin->setValue(start);
        QSignalSpy changed(spin, &TSpinEdit::changed);
        switch (how) {
        case 0:
            QTest::keyClick(spin, Qt::Key_Up);
            break;
        case 1:
            QTest::keyClick(spin, Qt::Key_Down);
            break;
        default: {
            const QRect r = ArrowRect(spin, how == 2 ? QStyle::SC_SpinBoxUp : QStyle::SC_SpinBoxDown);
            QVERIFY(r.isValid());
            QTest::mouseClick(spin, Qt::LeftButton, {}, r.center());
            break;
        }
        }
        QCOMPARE(spin->text(), QString::number(expected));
        QCOMPARE(spin->value(), expected);
        QCOMPARE(changed.count(), expected != start ? 1 : 0);
    }

    void steppingFromTypedTextLimits() {
        // Stepping sets the value, and setting limits it.
        Focus(spin);
        TypeOver(spin, QStringLiteral("99"));
        QTest::keyClick(spin, Qt::Key_Down);
        QCOMPARE(spin->text(), QStringLiteral("50"));
        TypeOver(spin, QString());
        QTest::keyClick(spin, Qt::Key_Up);
        QCOMPARE(spin->text(), QStringLiteral("2"));
    }

    void setValueLimits_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("inside") << 13 << "13";
        QTest::newRow("minimum") << 1 << "1";
        QTest::newRow("maximum") << 50 << "50";
        QTest::newRow("above") << 99 << "50";
        QTest::newRow("below") << 0 << "1";
        QTest::newRow("int32 max") << std::numeric_limits<int>::max() << "50";
        QTest::newRow("int32 min") << std::numeric_limits<int>::min() << "1";
    }

    void setValueLimits() {
        QFETCH(int, value);
        QFETCH(QString, text);
        QSignalSpy changed(spin, &TSpinEdit::changed);
        spin->setValue(value);
        QCOMPARE(spin->text(), text);
        QCOMPARE(changed.count(), 1);
    }

    void valueRead_data() {
        // Read as seNominator reads it: range -10000000 to 10000000.
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("value");
        const qint64 minimum = -10000000;
        QTest::newRow("empty") << "" << minimum;
        QTest::newRow("lone minus") << "-" << minimum;
        QTest::newRow("lone plus") << "+" << minimum;
        QTest::newRow("number") << "123" << qint64(123);
        QTest::newRow("zero") << "0" << qint64(0);
        QTest::newRow("leading zeros") << "007" << qint64(7);
        QTest::newRow("negative") << "-42" << qint64(-42);
        QTest::newRow("plus sign") << "+42" << qint64(42);
        QTest::newRow("above the range, read as typed") << "99999999" << qint64(99999999);
        QTest::newRow("int32 max") << "2147483647" << qint64(2147483647);
        QTest::newRow("int32 min") << "-2147483648" << qint64(-2147483648LL);
        // A decimal number beyond 32 bits reads as the range limit on its side.
        const qint64 maximum = 10000000;
        QTest::newRow("just above int32") << "2147483648" << maximum;
        QTest::newRow("far above int32") << "99999999999999999999" << maximum;
        QTest::newRow("far above int32, plus sign") << "+99999999999999999999" << maximum;
        QTest::newRow("just below int32") << "-2147483649" << minimum;
        QTest::newRow("far below int32") << "-99999999999999999999" << minimum;
        QTest::newRow("sign after digits") << "1-" << minimum;
        QTest::newRow("two signs") << "--1" << minimum;
        QTest::newRow("decimal point") << "1.5" << minimum;
    }

    void valueRead() {
        QFETCH(QString, typed);
        QFETCH(qint64, value);
        spin->setRange(-10000000, 10000000);
        spin->setValue(360);
        Focus(spin);
        TypeOver(spin, typed);
        QCOMPARE(spin->text(), typed);
        QCOMPARE(qint64(spin->value()), value);
    }

    void refusedCharacters_data() {
        // The test runs in the C locale: its decimal separator is the point.
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text"); // after typing onto "26" with the cursor at the end
        QTest::newRow("letter") << "a" << "26";
        QTest::newRow("capital") << "Z" << "26";
        QTest::newRow("hex digit letter") << "F" << "26";
        QTest::newRow("blank") << " " << "26";
        QTest::newRow("comma is not the separator here") << "," << "26";
        QTest::newRow("hash") << "#" << "26";
        QTest::newRow("exponent") << "e" << "26";
        QTest::newRow("Arabic-Indic digit") << QString::fromUtf8("٣") << "26";
        QTest::newRow("full-width digit") << QString::fromUtf8("７") << "26";
        QTest::newRow("letter with accent") << QString::fromUtf8("é") << "26";
        QTest::newRow("digits pass") << "7" << "267";
        QTest::newRow("plus passes") << "+" << "26+";
        QTest::newRow("minus passes") << "-" << "26-";
        QTest::newRow("decimal separator passes") << "." << "26.";
        QTest::newRow("mixed") << "1x2y" << "2612";
    }

    void refusedCharacters() {
        QFETCH(QString, typed);
        QFETCH(QString, text);
        Focus(spin);
        spin->setValue(26);
        SpinLine(spin)->deselect();
        SpinLine(spin)->end(false);
        QSignalSpy changed(spin, &TSpinEdit::changed);
        TypeText(spin, typed);
        QCOMPARE(spin->text(), text);
        if (text == QLatin1String("26")) {
            QCOMPARE(changed.count(), 0);
        }
    }

    void controlCharactersPass() {
        Focus(spin);
        spin->setValue(26);
        SpinLine(spin)->deselect();
        SpinLine(spin)->end(false);
        QTest::keyClick(spin, Qt::Key_Backspace);
        QCOMPARE(spin->text(), QStringLiteral("2"));
        QTest::keyClick(spin, Qt::Key_Home);
        QTest::keyClick(spin, Qt::Key_Delete);
        QCOMPARE(spin->text(), QString());
    }

    void enterIsRefused() {
        Focus(spin);
        TypeOver(spin, QStringLiteral("99"));
        QSignalSpy changed(spin, &TSpinEdit::changed);
        QTest::keyClick(spin, Qt::Key_Return);
        QTest::keyClick(spin, Qt::Key_Enter);
        QCOMPARE(spin->text(), QStringLiteral("99"));
        QCOMPARE(changed.count(), 0);
        QVERIFY(spin->hasFocus());
    }

    void windowFieldsLimitOnLeaving_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");  // after leaving
        QTest::addColumn<qint64>("value");
        QTest::newRow("denominator above") << "seDenominator" << "2100000001" << "2100000000"
                                           << qint64(2100000000);
        QTest::newRow("denominator 2^31 - 1") << "seDenominator" << "2147483647" << "2100000000"
                                              << qint64(2100000000);
        QTest::newRow("denominator 0") << "seDenominator" << "0" << "1" << qint64(1);
        QTest::newRow("denominator negative") << "seDenominator" << "-5" << "1" << qint64(1);
        QTest::newRow("numerator above") << "seNominator" << "10000001" << "10000000"
                                         << qint64(10000000);
        QTest::newRow("numerator below") << "seNominator" << "-10000001" << "-10000000"
                                         << qint64(-10000000);
        QTest::newRow("numerator inside") << "seNominator" << "-360" << "-360" << qint64(-360);
        // Beyond 32 bits: read as the range limit on its side, and shown as that on leaving.
        QTest::newRow("numerator beyond int32") << "seNominator" << "99999999999" << "10000000"
                                                << qint64(10000000);
        QTest::newRow("numerator below int32") << "seNominator" << "-99999999999" << "-10000000"
                                               << qint64(-10000000);
        QTest::newRow("length beyond int32") << "seDataLen" << "2147483648" << "50"
                                             << qint64(50);
        QTest::newRow("length negative") << "seDataLen" << "-3" << "1" << qint64(1);
    }

    void windowFieldsLimitOnLeaving() {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, text);
        QFETCH(qint64, value);
        TForm1 form;
        QVERIFY(ShowActive(&form));
        auto* s = form.findChild<TSpinEdit*>(field);
        QVERIFY(s);
        Focus(s);
        TypeOver(s, typed);
        QCOMPARE(s->text(), typed);
        Focus(Ctl<QWidget>(&form, "edUnit"));
        QCOMPARE(s->text(), text);
        QCOMPARE(qint64(s->value()), value);
    }

    void windowUsesWhatTheFieldShows() {
        // A length pasted with a line break, as a spreadsheet cell copies, decodes as shown.
        TForm1 form;
        QVERIFY(ShowActive(&form));
        auto* len = Ctl<TSpinEdit>(&form, "seDataLen");
        Focus(len);
        QTest::keyClick(len, Qt::Key_Down); // 25: the paste below is a change
        PasteOver(len, QStringLiteral("26\r\n"));
        QCOMPARE(Ctl<QLabel>(&form, "pnlCRCok")->text(), QStringLiteral("CRC OK"));
        QCOMPARE(Ctl<QLineEdit>(&form, "edPosition")->text(), QStringLiteral("26440930"));
        QCOMPARE(Ctl<TSpinEdit>(&form, "seDenominator")->value(), 67108864);
        QCOMPARE(len->text(), QStringLiteral("26"));

        // A numerator typed far beyond 32 bits scales by the field's maximum, not its minimum.
        auto* num = Ctl<TSpinEdit>(&form, "seNominator");
        Focus(num);
        TypeOver(num, QStringLiteral("99999999999999999999"));
        // Space on Calculate clicks it while the field keeps the focus and its text.
        QTest::keyClick(Ctl<QPushButton>(&form, "btnCalculate"), Qt::Key_Space);
        QCOMPARE(num->text(), QStringLiteral("99999999999999999999"));
        QCOMPARE(Ctl<QLabel>(&form, "lblPosition")->text(), QStringLiteral("3,940,005.6005 deg"));
        Focus(Ctl<QWidget>(&form, "edUnit"));
        QCOMPARE(num->text(), QStringLiteral("10000000"));
    }

    void changedOnEveryTextChange() {
        Focus(spin);
        QSignalSpy changed(spin, &TSpinEdit::changed);
        SpinLine(spin)->end(false);
        QTest::keyClick(spin, Qt::Key_Backspace); // "2"   typed
        QCOMPARE(changed.count(), 1);
        QTest::keyClicks(spin, QStringLiteral("3")); // "23" typed
        QCOMPARE(changed.count(), 2);
        QTest::keyClick(spin, Qt::Key_Up); // "24" stepped
        QCOMPARE(changed.count(), 3);
        spin->setValue(40); // set by the program
        QCOMPARE(changed.count(), 4);
        spin->stepDown(); // "39"
        QCOMPARE(changed.count(), 5);
        QCOMPARE(spin->text(), QStringLiteral("39"));
    }

    void windowPositionLength() {
        // The same behaviour on the window's own field, where each change re-runs the decode.
        TForm1 form;
        QVERIFY(ShowActive(&form));
        auto* len = Ctl<TSpinEdit>(&form, "seDataLen");
        auto* den = Ctl<TSpinEdit>(&form, "seDenominator");
        QVERIFY(len && den);
        // A length typed beyond the range and corrected on leaving: tst_calculate, longLengths.
        Focus(len);
        TypeOver(len, QString());
        QCOMPARE(len->value(), 1);
        QCOMPARE(den->value(), 2);
        Focus(Ctl<QWidget>(&form, "edUnit"));
        QCOMPARE(len->text(), QString());
        QCOMPARE(len->value(), 1);

        Focus(len);
        len->setValue(50);
        QTest::keyClick(len, Qt::Key_Up);
        QCOMPARE(len->text(), QStringLiteral("50"));
    }

    void closingWindowCorrectsTypedLength() {
        // Closing the window is leaving the field: the typed length is corrected and decoded.
        TForm1 form;
        QVERIFY(ShowActive(&form));
        auto* len = Ctl<TSpinEdit>(&form, "seDataLen");
        Focus(len);
        TypeOver(len, QStringLiteral("99"));
        QVERIFY(form.close());
        QCOMPARE(len->text(), QStringLiteral("50"));
        QCOMPARE(Ctl<TSpinEdit>(&form, "seDenominator")->value(), 2100000000);
        QCOMPARE(Ctl<QLineEdit>(&form, "edPosition")->text(), QStringLiteral("443605209210880"));
    }

    // Kept last: a failure here ends the process.
    void destroyingWindowWithTypedLength() {
        // The program may end with the window still open (the application quits); the field
        // then loses the focus while the window is being destroyed.
        auto form = std::make_unique<TForm1>();
        QVERIFY(ShowActive(form.get()));
        auto* len = Ctl<TSpinEdit>(form.get(), "seDataLen");
        Focus(len);
        TypeOver(len, QStringLiteral("0"));
        QCOMPARE(len->value(), 0);
        // Leaving the field writes the corrected length 1; the half-destroyed window must not
        // react to that change any more (it would set the denominator to 2).
        int denominatorChanges = 0;
        QObject::connect(Ctl<TSpinEdit>(form.get(), "seDenominator"), &TSpinEdit::changed,
                         [&denominatorChanges] { ++denominatorChanges; });
        QSignalSpy lengthChanged(len, &TSpinEdit::changed);
        form.reset();
        QCOMPARE(lengthChanged.count(), 1);
        QCOMPARE(denominatorChanges, 0);
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestSpinEdit t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_spinedit.moc"
