// The Calculate action and the position-length coupling, driven through the real window with
// clicks and keys: every output, the verdict, the strips under the digits, the clearing of old
// results when a frame does not decode, the denominator that follows the length, the regional
// separators and the help box.
#include "window/windowmath.h"
#include "windowtestsupport.h"

#include <QFontInfo>
#include <QSignalSpy>

#include <memory>

using namespace wt;

namespace {

const QString kHelpText = QStringLiteral(
    "Corvane. Can be used to analyze data from K730-4M interface or other raw data source.\r\n"
    "Input hex string as received from K730 or from SPI interface of the microcontroller.\r\n"
    "Select position data length (see encoder datasheet) and input conversion factors and "
    "measurement units.\r\n"
    "\r\n"
    "Version 1.0. Relese date: 2024-01-04. Author: Olmenvar.");

// The results a decoded frame shows.
struct Shown {
    QString ack, position, status, crcIn, crcNonInv, crcCalc, scaled;
    bool ok;
};


} // namespace

class TestCalculate : public QObject, protected FormFixture {
    Q_OBJECT

private:
    QLineEdit* E(const char* name) { return C<QLineEdit>(name); }
    TSpinEdit* S(const char* name) { return C<TSpinEdit>(name); }

    void SetInput(const QString& text) {
        TypeOver(E("edInput"), text);
        QCOMPARE(E("edInput")->text(), text);
    }

    void Calculate() { QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton); }

    void CheckVerdict(const QColor& colour, const QString& caption) {
        auto* panel = C<QLabel>("pnlCRCok");
        QCOMPARE(Colour(panel), colour);
        QCOMPARE(panel->text(), caption);
        QCOMPARE(panel->accessibleName(), caption);
    }

    void CheckShown(const Shown& x) {
        QCOMPARE(E("edAdckLen")->text(), x.ack);
        QCOMPARE(E("edPosition")->text(), x.position);
        QCOMPARE(E("edStatus")->text(), x.status);
        QCOMPARE(E("edCRCin")->text(), x.crcIn);
        QCOMPARE(E("edCRCinInv")->text(), x.crcNonInv);
        QCOMPARE(E("edCRCcalc")->text(), x.crcCalc);
        QCOMPARE(C<QLabel>("lblPosition")->text(), x.scaled);
        QCOMPARE(C<QLabel>("lblPosition")->size(), C<QLabel>("lblPosition")->sizeHint());
        if (x.ok) {
            CheckVerdict(kGreen, QStringLiteral("CRC OK"));
        } else {
            CheckVerdict(kRed, QStringLiteral("CRC error"));
        }
    }

    // The strips stand side by side under the digits from the label's left edge: ack digits,
    // two, n, two and six, each width rounded on its own from the label's digit width.
    void CheckStrips(int ack, int n) {
        auto* bin = C<QLabel>("lblInputBin");
        QCOMPARE(bin->text().size(), 64);
        QCOMPARE(bin->size(), bin->sizeHint()); // the label has sized itself to the digits
        // In Tahoma the row keeps the window's own size and ends inside the window.
        QCOMPARE(QFontInfo(bin->font()).pixelSize(), 11);
        QVERIFY(bin->x() + bin->width() <= form->width());
        const double w = bin->width() / 64.0;
        const int widths[5] = {RoundEven(ack * w), RoundEven(2 * w), RoundEven(n * w),
                               RoundEven(2 * w), RoundEven(6 * w)};
        const char* colours[5] = {"#ffff00", "#00ffff", "#00ff00", "#a6caf0", "#c0dcc0"};
        int left = bin->x();
        for (int i = 0; i < 5; ++i) {
            auto* strip = C<QWidget>(kStripNames[i]);
            QVERIFY2(strip->isVisible(), kStripNames[i]);
            QCOMPARE(strip->geometry(), QRect(left, 111, widths[i], 17));
            QCOMPARE(Colour(strip).name(), QString::fromLatin1(colours[i]));
            left += widths[i];
        }
    }

    void CheckCleared(const QString& ackText) {
        QCOMPARE(E("edAdckLen")->text(), ackText);
        for (const char* n : {"edPosition", "edStatus", "edCRCin", "edCRCinInv", "edCRCcalc"}) {
            QVERIFY2(E(n)->text().isEmpty(), qPrintable(QString::fromLatin1(n) + ": " + E(n)->text()));
        }
        QCOMPARE(C<QLabel>("lblPosition")->text(), QStringLiteral("Position"));
        CheckVerdict(Neutral(), QStringLiteral("CRC"));
        for (const char* s : kStripNames) {
            QVERIFY2(!C<QWidget>(s)->isVisible(), s);
        }
    }

    static Shown DefaultShown() {
        return {"13 bits", "26440930", "11", "2A", "15", "15", "141.8402 deg", true};
    }

    void DecodeDefault() {
        SetInput(QString::fromLatin1(kDefaultFrame));
        Calculate();
        CheckShown(DefaultShown());
        CheckStrips(13, 26);
    }

private slots:
    void init() { QVERIFY(Open()); }

    void cleanup() { QCOMPARE(Close(), 0); }

    void defaultFrame() {
        Calculate();
        QCOMPARE(E("edInput")->text(), QString::fromLatin1(kDefaultFrame));
        QCOMPARE(C<QLabel>("lblInputBin")->text(), Bits(0xC004C9BA71753000ULL));
        CheckShown(DefaultShown());
        CheckStrips(13, 26);
        // 13 + 2 + 26 + 2 + 6 = 49 digits are marked; the last 15 are bare.
        auto* bin = C<QLabel>("lblInputBin");
        const QRect crc = C<QWidget>("shpCrc")->geometry();
        const double w = bin->width() / 64.0;
        QVERIFY(std::abs(crc.x() + crc.width() - (bin->x() + 49 * w)) <= 2.5);
        QVERIFY(std::abs(bin->x() + bin->width() - (crc.x() + crc.width()) - 15 * w) <= 2.5);
    }

    void decodes_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("numerator"); // typed into seNominator; empty: 360
        QTest::addColumn<QString>("clean");
        QTest::addColumn<int>("ack");
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("crcIn");
        QTest::addColumn<QString>("crcNonInv");
        QTest::addColumn<QString>("crcCalc");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("scaled");

        QTest::newRow("default") << "C004C9BA71753000" << "" << "C004C9BA71753000" << 13
                                 << "26440930" << "11" << "2A" << "15" << "15" << true
                                 << "141.8402 deg";
        QTest::newRow("typed with 0x and blanks") << "0x c004 c9ba 7175 3000" << "" << "c004c9ba71753000"
                                                  << 13 << "26440930" << "11" << "2A" << "15" << "15"
                                                  << true << "141.8402 deg";
        QTest::newRow("warning") << "C004C9BA71548000" << "" << "C004C9BA71548000" << 13
                                 << "26440930" << "10 Warning" << "29" << "16" << "16" << true
                                 << "141.8402 deg";
        QTest::newRow("error") << "C004C9BA71360000" << "" << "C004C9BA71360000" << 13
                               << "26440930" << "01 Error" << "2C" << "13" << "13" << true
                               << "141.8402 deg";
        QTest::newRow("error and warning") << "C004C9BA71178000" << "" << "C004C9BA71178000" << 13
                                           << "26440930" << "00 Error Warning" << "2F" << "10"
                                           << "10" << true << "141.8402 deg";
        QTest::newRow("bad CRC") << "C004C9BA81753000" << "" << "C004C9BA81753000" << 13
                                 << "26440962" << "11" << "2A" << "15" << "30" << false
                                 << "141.8404 deg";
        QTest::newRow("full scale") << "C005FFFFFFF10000" << "" << "C005FFFFFFF10000" << 13
                                    << "67108863" << "11" << "22" << "1D" << "1D" << true
                                    << "360.0000 deg";
        QTest::newRow("short input is right-aligned") << "4C9BA71753" << "" << "4C9BA71753" << 25
                                                      << "26440930" << "11" << "2A" << "15" << "15"
                                                      << true << "141.8402 deg";
        QTest::newRow("leading zeros") << "0000C004C9BA71753000" << "" << "0000C004C9BA71753000"
                                       << 13 << "26440930" << "11" << "2A" << "15" << "15" << true
                                       << "141.8402 deg";
        QTest::newRow("0x in the middle") << "10x5" << "" << "15" << 59 << "41943040"
                                          << "00 Error Warning" << "00" << "3F" << "37" << false
                                          << "225.0000 deg";
        QTest::newRow("latest start bit, frame cut short") << "0000000000000001" << ""
                                                           << "0000000000000001" << 63 << "0"
                                                           << "00 Error Warning" << "00" << "3F"
                                                           << "00" << false << "0.0000 deg";
        // The last two CRC bits lie beyond the word; read as zeros they happen to match, but
        // a frame that was not received in full is never OK.
        QTest::newRow("cut short, CRC matches") << "00000002E567CCF9" << "" << "00000002E567CCF9"
                                                << 30 << "60137267" << "11" << "24" << "1B"
                                                << "1B" << false << "322.6014 deg";
        QTest::newRow("negative numerator") << "C004C9BA71753000" << "-360" << "C004C9BA71753000"
                                            << 13 << "26440930" << "11" << "2A" << "15" << "15"
                                            << true << "-141.8402 deg";
        QTest::newRow("grouped thousands") << "C004C9BA71753000" << "2469:52881860"
                                           << "C004C9BA71753000" << 13 << "26440930" << "11"
                                           << "2A" << "15" << "15" << true << "1,234.5000 deg";
    }

    void decodes() {
        QFETCH(QString, input);
        QFETCH(QString, numerator);
        QFETCH(QString, clean);
        QFETCH(int, ack);
        QFETCH(QString, position);
        QFETCH(QString, status);
        QFETCH(QString, crcIn);
        QFETCH(QString, crcNonInv);
        QFETCH(QString, crcCalc);
        QFETCH(bool, ok);
        QFETCH(QString, scaled);

        if (!numerator.isEmpty()) {
            const QStringList parts = numerator.split(QLatin1Char(':'));
            TypeOver(S("seNominator"), parts.at(0));
            if (parts.size() > 1) {
                TypeOver(S("seDenominator"), parts.at(1));
            }
        }
        SetInput(input);
        Calculate();
        QCOMPARE(E("edInput")->text(), clean);
        QCOMPARE(C<QLabel>("lblInputBin")->text(), Bits(clean.toULongLong(nullptr, 16)));
        CheckShown({QStringLiteral("%1 bits").arg(ack), position, status, crcIn, crcNonInv,
                    crcCalc, scaled, ok});
        CheckStrips(ack, 26);
    }

    void undecodableInputClearsOldResults_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("clean");
        QTest::addColumn<QString>("digits");
        QTest::addColumn<QString>("ackText");
        const QString invalid = QString::fromLatin1(kInvalidMessage);
        QTest::newRow("G1") << "G1" << "G1" << invalid << "";
        QTest::newRow("empty") << "" << "" << invalid << "";
        QTest::newRow("upper-case 0X") << "0X12" << "0X12" << invalid << "";
        QTest::newRow("17 significant digits") << "1C004C9BA71753000" << "1C004C9BA71753000"
                                               << invalid << "";
        QTest::newRow("too long after leading zeros") << "0001C004C9BA71753000"
                                                      << "0001C004C9BA71753000" << invalid << "";
        QTest::newRow("blanks only") << "   " << "" << invalid << "";
        QTest::newRow("all ones") << "FFFFFFFFFFFFFFFF" << "FFFFFFFFFFFFFFFF"
                                  << QString(64, QLatin1Char('1')) << "no start bit";
        QTest::newRow("all zeros") << "0000000000000000" << "0000000000000000"
                                   << QString(64, QLatin1Char('0')) << "no start bit";
        QTest::newRow("only pair at s0 s1") << "4000000000000000" << "4000000000000000"
                                            << Bits(0x4000000000000000ULL) << "no start bit";
    }

    void undecodableInputClearsOldResults() {
        QFETCH(QString, input);
        QFETCH(QString, clean);
        QFETCH(QString, digits);
        QFETCH(QString, ackText);

        DecodeDefault();
        SetInput(input);
        Calculate();
        QCOMPARE(E("edInput")->text(), clean);
        QCOMPARE(C<QLabel>("lblInputBin")->text(), digits);
        CheckCleared(ackText);
        if (QTest::currentTestFailed()) {
            return;
        }
        // The next decoded frame brings everything back.
        DecodeDefault();
    }

    void invalidInputStillFollowsLength() {
        DecodeDefault();
        SetInput(QStringLiteral("g 1"));
        Calculate();
        QTest::keyClick(S("seDataLen"), Qt::Key_Up);
        QCOMPARE(S("seDataLen")->text(), QStringLiteral("27"));
        QCOMPARE(S("seDenominator")->value(), 134217728);
        QCOMPARE(E("edInput")->text(), QStringLiteral("g1"));
        QCOMPARE(C<QLabel>("lblInputBin")->text(), QString::fromLatin1(kInvalidMessage));
        CheckCleared(QString());
    }

    void stepUpTo27() {
        DecodeDefault();
        const int before = C<QWidget>("shpPosition")->width();
        const double w = C<QLabel>("lblInputBin")->width() / 64.0;
        QTest::keyClick(S("seDataLen"), Qt::Key_Up);
        QCOMPARE(S("seDataLen")->value(), 27);
        QCOMPARE(S("seDenominator")->value(), 134217728);
        QCOMPARE(S("seDenominator")->text(), QStringLiteral("134217728"));
        CheckShown({"13 bits", "52881861", "11", "14", "2B", "29", "141.8402 deg", false});
        CheckStrips(13, 27);
        QVERIFY(std::abs(C<QWidget>("shpPosition")->width() - before - w) <= 1.0);
    }

    void stepDownTo13() {
        auto* len = S("seDataLen");
        len->setFocus(Qt::TabFocusReason);
        QSignalSpy changed(len, &TSpinEdit::changed);
        for (int n = 25; n >= 13; --n) {
            QTest::keyClick(len, Qt::Key_Down);
            QCOMPARE(len->value(), n);
            QCOMPARE(S("seDenominator")->value(), 1 << n);
        }
        QCOMPARE(changed.count(), 13); // one change, and so one decode, per step
        QCOMPARE(S("seDenominator")->text(), QStringLiteral("8192"));
        // Stepping decodes at once, without Calculate.
        CheckShown({"13 bits", "3227", "10 Warning", "27", "18", "0D", "141.8115 deg", false});
        CheckStrips(13, 13);
        QCOMPARE(S("seNominator")->value(), 360);
        QCOMPARE(E("edUnit")->text(), QStringLiteral("deg"));
    }

    void typingOneThenTwo() {
        auto* len = S("seDataLen");
        QSignalSpy changed(len, &TSpinEdit::changed);
        len->setFocus(Qt::TabFocusReason);
        len->selectAll();
        QTest::keyClick(len, Qt::Key_1);
        QCOMPARE(len->value(), 1);
        QCOMPARE(S("seDenominator")->value(), 2);
        CheckShown({"13 bits", "0", "11", "09", "36", "05", "0.0000 deg", false});
        QTest::keyClick(len, Qt::Key_2);
        QCOMPARE(len->value(), 12);
        QCOMPARE(S("seDenominator")->value(), 4096);
        CheckShown({"13 bits", "1613", "11", "13", "2C", "27", "141.7676 deg", false});
        CheckStrips(13, 12);
        QCOMPARE(changed.count(), 2);
    }

    void longLengths_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("firstDenominator"); // after the first keystroke
        QTest::addColumn<QString>("textAfterLeaving");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("crcIn");
        QTest::addColumn<QString>("crcNonInv");
        QTest::addColumn<QString>("crcCalc");
        QTest::addColumn<QString>("scaled");
        QTest::newRow("31") << "31" << 8 << "31" << 31 << "846109789" << "01 Error" << "0C" << "33"
                            << "01" << "145.0474 deg";
        // 13 + 2 + 50 + 8 bits do not fit in 64: the frame is cut short and never OK.
        QTest::newRow("50") << "50" << 32 << "50" << 50 << "443605209210880" << "00 Error Warning"
                            << "00" << "3F" << "10" << "76,046,607.2933 deg";
        QTest::newRow("99 corrected to 50") << "99" << 512 << "50" << 50 << "443605209210880"
                                            << "00 Error Warning" << "00" << "3F" << "10"
                                            << "76,046,607.2933 deg";
    }

    void longLengths() {
        QFETCH(QString, typed);
        QFETCH(int, firstDenominator);
        QFETCH(QString, textAfterLeaving);
        QFETCH(int, n);
        QFETCH(QString, position);
        QFETCH(QString, status);
        QFETCH(QString, crcIn);
        QFETCH(QString, crcNonInv);
        QFETCH(QString, crcCalc);
        QFETCH(QString, scaled);

        auto* len = S("seDataLen");
        len->setFocus(Qt::TabFocusReason);
        len->selectAll();
        QSignalSpy changed(len, &TSpinEdit::changed);
        QTest::keyClicks(len, typed.left(1));
        QCOMPARE(S("seDenominator")->value(), firstDenominator);
        QTest::keyClicks(len, typed.mid(1));
        QCOMPARE(len->value(), typed.toInt());
        QCOMPARE(S("seDenominator")->value(), 2100000000);
        QCOMPARE(changed.count(), 2); // one change per keystroke
        E("edUnit")->setFocus(Qt::TabFocusReason);
        QCOMPARE(len->text(), textAfterLeaving);
        QCOMPARE(changed.count(), textAfterLeaving == typed ? 2 : 3); // the correction is one more
        QCOMPARE(S("seDenominator")->value(), 2100000000);
        CheckShown({"13 bits", position, status, crcIn, crcNonInv, crcCalc, scaled, false});
        CheckStrips(13, n);
    }

    void separatorsOfTheSystemLocale() {
        // This executable runs in the C locale: a point for decimals, a comma for thousands.
        QCOMPARE(QLocale::system().decimalPoint(), QStringLiteral("."));
        QCOMPARE(form->Separators().Decimal, u'.');
        QCOMPARE(form->Separators().Thousand, u',');
    }

    void localeChange_data() {
        QTest::addColumn<QString>("decimal");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("scaled");
        QTest::newRow("comma decimals, point thousands") << "," << "." << "1.234,5000 deg";
        QTest::newRow("point decimals, comma thousands") << "." << "," << "1,234.5000 deg";
        QTest::newRow("no-break space thousands") << "," << QString(QChar(0x00A0))
                                                  << QString::fromUtf8("1\u00A0234,5000 deg");
        QTest::newRow("apostrophe thousands") << "." << "'" << "1'234.5000 deg";
    }

    void localeChange() {
#ifndef CORVANE_FAKE_SYSTEM_LOCALE
        QSKIP("Qt's private headers (qt6-base-private-dev) are not installed: the system "
              "locale cannot be changed while the test runs");
#else
        QFETCH(QString, decimal);
        QFETCH(QString, group);
        QFETCH(QString, scaled);
        TypeOver(S("seNominator"), QStringLiteral("2469"));
        TypeOver(S("seDenominator"), QStringLiteral("52881860"));
        {
            FakeSystemLocale regional(decimal, group);
            QCOMPARE(QLocale::system().decimalPoint(), decimal);
            QCOMPARE(QLocale::system().groupSeparator(), group);
            QEvent changed(QEvent::LocaleChange);
            QApplication::sendEvent(form.get(), &changed);
            QCOMPARE(form->Separators().Decimal, decimal.at(0).unicode());
            QCOMPARE(form->Separators().Thousand, group.at(0).unicode());
            Calculate();
            QCOMPARE(C<QLabel>("lblPosition")->text(), scaled);
        }
        // Back to the settings the program started with.
        QCOMPARE(QLocale::system().decimalPoint(), QStringLiteral("."));
        QEvent changed(QEvent::LocaleChange);
        QApplication::sendEvent(form.get(), &changed);
        QCOMPARE(form->Separators().Decimal, u'.');
        QCOMPARE(form->Separators().Thousand, u',');
        Calculate();
        QCOMPARE(C<QLabel>("lblPosition")->text(), QStringLiteral("1,234.5000 deg"));
#endif
    }

    void helpBox() {
        QTest::mouseClick(C<QPushButton>("btnQ"), Qt::LeftButton);
        QTRY_COMPARE(closer->boxes.size(), 1);
        const BoxRecord box = closer->boxes.takeFirst();
        QCOMPARE(box.className, QStringLiteral("QMessageBox"));
        QCOMPARE(box.title, ApplicationTitle(QCoreApplication::applicationFilePath()));
        QCOMPARE(box.title, QStringLiteral("tst_calculate"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QCOMPARE(box.buttonCount, 1);
        QVERIFY(box.hasOk);
        QCOMPARE(box.text, kHelpText);
        // Nothing else happens.
        QCOMPARE(C<QLabel>("lblInputBin")->text(), QStringLiteral("Binary input"));
        QCOMPARE(E("edPosition")->text(), QString());
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestCalculate t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_calculate.moc"
