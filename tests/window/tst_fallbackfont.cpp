// The window in the fallback font: Wine's Tahoma is looked for in a folder that does not
// exist, and CTest limits the fonts to DejaVu (fallback-fonts.conf), so the window gets
// DejaVu Sans at 11 pixels, which is wider than Tahoma. The binary digits must still end
// inside the window, in the largest pixel size of that font with which they do, with the
// strips under them.
#include "windowtestsupport.h"

#include <QFontDatabase>
#include <QFontInfo>

using namespace wt;

class TestFallbackFont : public QObject, protected FormFixture {
    Q_OBJECT

private:
    QLabel* Digits() { return C<QLabel>("lblInputBin"); }

    // The label's right edge lies inside the window.
    bool EndsInside(const QLabel* label) { return label->x() + label->width() <= form->width(); }

    void Calculate(const QString& input) {
        TypeOver(C<QLineEdit>("edInput"), input);
        QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
    }

private slots:
    void initTestCase() {
        QVERIFY2(!QFontDatabase::hasFamily(QStringLiteral("Tahoma")),
                 "Tahoma is available: this test needs FONTCONFIG_FILE=fallback-fonts.conf");
    }

    void init() { QVERIFY(Open()); }

    void cleanup() { QCOMPARE(Close(), 0); }

    void windowUsesTheFallbackFont() {
        const QFontInfo info(form->font());
        QCOMPARE(info.family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(info.pixelSize(), 11);
        // At its own size the row of 64 digits would run past the window.
        QLabel probe(QString(64, QLatin1Char('0')));
        probe.setFont(form->font());
        QVERIFY(Digits()->x() + probe.sizeHint().width() > form->width());
    }

    void digitRowEndsInsideTheWindow_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("decoded"); // the strips are shown
        QTest::newRow("default frame") << QString::fromLatin1(kDefaultFrame) << true;
        QTest::newRow("widest digits: all ones, no start bit") << "FFFFFFFFFFFFFFFF" << false;
        QTest::newRow("full scale") << "C005FFFFFFF10000" << true;
    }

    void digitRowEndsInsideTheWindow() {
        QFETCH(QString, input);
        QFETCH(bool, decoded);
        Calculate(input);
        QLabel* digits = Digits();
        QCOMPARE(digits->text(), Bits(input.toULongLong(nullptr, 16)));
        QCOMPARE(digits->size(), digits->sizeHint());
        QVERIFY2(EndsInside(digits), qPrintable(QStringLiteral("the digits end at %1")
                                                   .arg(digits->x() + digits->width())));
        // The same font, only smaller, and the largest size that fits.
        const QFontInfo info(digits->font());
        QCOMPARE(info.family(), QStringLiteral("DejaVu Sans"));
        QVERIFY(info.pixelSize() < 11);
        QFont larger = digits->font();
        larger.setPixelSize(info.pixelSize() + 1);
        QLabel probe(digits->text());
        probe.setFont(larger);
        QVERIFY(digits->x() + probe.sizeHint().width() > form->width());

        for (const char* s : kStripNames) {
            auto* strip = C<QWidget>(s);
            QCOMPARE(strip->isVisible(), decoded);
            if (decoded) {
                QVERIFY2(strip->x() >= digits->x() &&
                             strip->x() + strip->width() <= digits->x() + digits->width(),
                         s);
            }
        }
    }

    void shortTextTakesTheFullSizeAgain() {
        Calculate(QString::fromLatin1(kDefaultFrame));
        QVERIFY(QFontInfo(Digits()->font()).pixelSize() < 11);
        Calculate(QStringLiteral("G1"));
        QCOMPARE(Digits()->text(), QString::fromLatin1(kInvalidMessage));
        QCOMPARE(QFontInfo(Digits()->font()).pixelSize(), 11);
        QVERIFY(EndsInside(Digits()));
    }
};

int main(int argc, char** argv) {
    // A folder without Wine's fonts: the window is left with the system's fallback.
    TApplication app(argc, argv, QStringLiteral("/nonexistent/corvane-test-fonts"));
    TestFallbackFont t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_fallbackfont.moc"
