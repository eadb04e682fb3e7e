// The window started under German regional settings (LC_ALL=de_DE.UTF-8, set by CTest): a
// comma for decimals and a point for thousands, read at start-up and handed to the decoder,
// and the spin fields accept the comma instead of the point. Qt takes the locale from the
// environment with its own data, so the glibc locale need not be generated.
#include "windowtestsupport.h"

#include <memory>

using namespace wt;


class TestLocale : public QObject, protected FormFixture {
    Q_OBJECT

private:

    void Calculate() { QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton); }

private slots:
    void initTestCase() {
        QVERIFY2(QLocale::system().decimalPoint() == QStringLiteral(",") &&
                     QLocale::system().groupSeparator() == QStringLiteral("."),
                 "this test needs LC_ALL=de_DE.UTF-8 in its environment");
    }

    void init() { QVERIFY(Open()); }

    void cleanup() { QCOMPARE(Close(), 0); }

    void separatorsReadAtStartup() {
        QCOMPARE(form->Separators().Decimal, u',');
        QCOMPARE(form->Separators().Thousand, u'.');
    }

    void scaledText_data() {
        QTest::addColumn<QString>("length");      // typed into seDataLen; empty: 26
        QTest::addColumn<QString>("numerator");   // typed into seNominator
        QTest::addColumn<QString>("denominator"); // typed into seDenominator; empty: as set
        QTest::addColumn<QString>("scaled");
        QTest::newRow("default") << "" << "360" << "" << "141,8402 deg";
        QTest::newRow("negative") << "" << "-360" << "" << "-141,8402 deg";
        QTest::newRow("thousands") << "" << "2469" << "52881860" << "1.234,5000 deg";
        QTest::newRow("millions") << "50" << "360" << "" << "76.046.607,2933 deg";
    }

    void scaledText() {
        QFETCH(QString, length);
        QFETCH(QString, numerator);
        QFETCH(QString, denominator);
        QFETCH(QString, scaled);
        if (!length.isEmpty()) {
            TypeOver(C<TSpinEdit>("seDataLen"), length);
        }
        TypeOver(C<TSpinEdit>("seNominator"), numerator);
        if (!denominator.isEmpty()) {
            TypeOver(C<TSpinEdit>("seDenominator"), denominator);
        }
        Calculate();
        QCOMPARE(C<QLineEdit>("edPosition")->text().isEmpty(), false);
        QCOMPARE(C<QLabel>("lblPosition")->text(), scaled);
    }

    void spinFieldTakesTheRegionalSeparator_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::newRow("comma passes") << "," << "360,";
        QTest::newRow("point is refused") << "." << "360";
    }

    void spinFieldTakesTheRegionalSeparator() {
        QFETCH(QString, typed);
        QFETCH(QString, text);
        auto* s = C<TSpinEdit>("seNominator");
        s->setFocus(Qt::TabFocusReason);
        SpinLine(s)->deselect();
        SpinLine(s)->end(false);
        QTest::keyClicks(s, typed);
        QCOMPARE(s->text(), text);
    }

    void localeChangeWhileRunning() {
#ifndef CORVANE_FAKE_SYSTEM_LOCALE
        QSKIP("Qt's private headers (qt6-base-private-dev) are not installed: the system "
              "locale cannot be changed while the test runs");
#else
        TypeOver(C<TSpinEdit>("seNominator"), QStringLiteral("2469"));
        TypeOver(C<TSpinEdit>("seDenominator"), QStringLiteral("52881860"));
        Calculate();
        QCOMPARE(C<QLabel>("lblPosition")->text(), QStringLiteral("1.234,5000 deg"));
        {
            FakeSystemLocale english(QStringLiteral("."), QStringLiteral(","));
            QEvent changed(QEvent::LocaleChange);
            QApplication::sendEvent(form.get(), &changed);
            QCOMPARE(form->Separators().Decimal, u'.');
            QCOMPARE(form->Separators().Thousand, u',');
            Calculate();
            QCOMPARE(C<QLabel>("lblPosition")->text(), QStringLiteral("1,234.5000 deg"));
        }
        QEvent changed(QEvent::LocaleChange);
        QApplication::sendEvent(form.get(), &changed);
        QCOMPARE(form->Separators().Decimal, u',');
        Calculate();
        QCOMPARE(C<QLabel>("lblPosition")->text(), QStringLiteral("1.234,5000 deg"));
#endif
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestLocale t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_locale.moc"
