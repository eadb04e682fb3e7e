// The window's pure functions, without any window system: where the strips go under the
// digits (rounding halves to even), the denominator that follows the position length, the
// title of the message boxes and the full-stop rule of the error report.
#include "window/windowmath.h"

#include <QList>
#include <QtTest>

#include <limits>

class TestWindowMath : public QObject {
    Q_OBJECT

private slots:
    void stripRounding_data() {
        QTest::addColumn<int>("labelLeft");
        QTest::addColumn<int>("labelWidth");
        QTest::addColumn<int>("ack");
        QTest::addColumn<int>("n");
        QTest::addColumn<QList<int>>("lefts");
        QTest::addColumn<QList<int>>("widths");
        // w = 6.5: 84.5 -> 84, 13, 169, 13, 39.
        QTest::newRow("w 6.5") << 16 << 416 << 13 << 26 << QList<int>{16, 100, 113, 282, 295}
                               << QList<int>{84, 13, 169, 13, 39};
        // w = 6.25: 81.25 -> 81, 12.5 -> 12, 162.5 -> 162, 12, 37.5 -> 38.
        QTest::newRow("w 6.25") << 16 << 400 << 13 << 26 << QList<int>{16, 97, 109, 271, 283}
                                << QList<int>{81, 12, 162, 12, 38};
        // w = 6.75: 87.75 -> 88, 13.5 -> 14, 175.5 -> 176, 14, 40.5 -> 40.
        QTest::newRow("w 6.75") << 0 << 432 << 13 << 26 << QList<int>{0, 88, 102, 278, 292}
                                << QList<int>{88, 14, 176, 14, 40};
        QTest::newRow("w 7, n 1, ack 2") << 16 << 448 << 2 << 1 << QList<int>{16, 30, 44, 51, 65}
                                         << QList<int>{14, 14, 7, 14, 42};
        QTest::newRow("w 7, n 50, ack 63") << 16 << 448 << 63 << 50
                                           << QList<int>{16, 457, 471, 821, 835}
                                           << QList<int>{441, 14, 350, 14, 42};
    }

    void stripRounding() {
        QFETCH(int, labelLeft);
        QFETCH(int, labelWidth);
        QFETCH(int, ack);
        QFETCH(int, n);
        QFETCH(QList<int>, lefts);
        QFETCH(QList<int>, widths);
        const TStripGeometry g = LayStrips(labelLeft, labelWidth, 64, ack, n);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(g.Left[i], lefts.at(i));
            QCOMPARE(g.Width[i], widths.at(i));
        }
    }

    void denominatorForLength_data() {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("denominator");
        QTest::newRow("0") << 0 << 1;
        QTest::newRow("-5") << -5 << 1;
        QTest::newRow("1") << 1 << 2;
        QTest::newRow("13") << 13 << 8192;
        QTest::newRow("26") << 26 << 67108864;
        QTest::newRow("30") << 30 << 1073741824;
        QTest::newRow("31") << 31 << 2100000000;
        QTest::newRow("50") << 50 << 2100000000;
        QTest::newRow("99") << 99 << 2100000000;
        QTest::newRow("INT32_MIN") << std::numeric_limits<int>::min() << 1;
        QTest::newRow("INT32_MAX") << std::numeric_limits<int>::max() << 2100000000;
    }

    void denominatorForLength() {
        QFETCH(int, n);
        QFETCH(int, denominator);
        QCOMPARE(DenominatorForLength(n), denominator);
    }

    void applicationTitle_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("windows exe") << "C:/x/Corvane.exe" << "Corvane";
        QTest::newRow("upper case exe") << "C:/Program Files/CORVANE.EXE" << "Corvane";
        QTest::newRow("linux upper case") << "/usr/bin/CORVANE" << "Corvane";
        QTest::newRow("linux") << "/usr/bin/Corvane" << "Corvane";
        QTest::newRow("first character kept") << "/usr/bin/corvane" << "corvane";
        QTest::newRow("up to the first dot") << "my.app.exe" << "my";
        QTest::newRow("dots in folders ignored") << "/opt/x.y/corvane.bin" << "corvane";
        QTest::newRow("mixed case") << "/usr/bin/cORVane" << "corvane";
        QTest::newRow("non-ASCII") << QString::fromUtf8("/tmp/ÄBÇ.exe") << QString::fromUtf8("Äbç");
        QTest::newRow("name starts with dot") << "/a/b/.hidden" << "";
    }

    void applicationTitle() {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(ApplicationTitle(path), title);
    }

    void errorReportText_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("report");
        QTest::newRow("letter") << "Division by zero" << "Division by zero.";
        QTest::newRow("full stop") << "Done." << "Done.";
        QTest::newRow("bang") << "Bang!" << "Bang!";
        QTest::newRow("parenthesis") << "(x)" << "(x)";
        QTest::newRow("hyphen") << "a-" << "a-";
        QTest::newRow("comma") << "a," << "a,";
        QTest::newRow("blank") << "trailing " << "trailing ";
        QTest::newRow("slash is above the full stop") << "a/" << "a/.";
        QTest::newRow("digit") << "7" << "7.";
        QTest::newRow("non-ASCII") << QString::fromUtf8("über") << QString::fromUtf8("über.");
        QTest::newRow("empty") << "" << "";
    }

    void errorReportText() {
        QFETCH(QString, message);
        QFETCH(QString, report);
        QCOMPARE(ErrorReportText(message), report);
    }
};

QTEST_APPLESS_MAIN(TestWindowMath)

#include "tst_windowmath.moc"
