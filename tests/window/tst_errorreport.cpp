// The application's error report: an exception that escapes an event handler, whether it came
// from a click, a timer or a queued call, or from the decoder during Calculate, ends in one
// modal critical box captioned with the application title, and the program carries on.
//
// These tests run apart from the others because an exception that unwinds through Qt's own
// frames skips their clean-up (Qt is built without it), which leaves a few bytes of each such
// event unreleased; CTest turns leak detection off for this executable only.
#include "windowtestsupport.h"

#include <memory>
#include <stdexcept>

using namespace wt;

namespace {

enum ThrowKind { tkRuntimeError, tkLogicError, tkOutOfRange, tkNotStd };

[[noreturn]] void ThrowIt(int kind, const QString& message) {
    const std::string text = message.toStdString();
    switch (kind) {
    case tkRuntimeError:
        throw std::runtime_error(text);
    case tkLogicError:
        throw std::logic_error(text);
    case tkOutOfRange:
        throw std::out_of_range(text);
    default:
        throw 42;
    }
}

} // namespace

class TestErrorReport : public QObject, protected FormFixture {
    Q_OBJECT

private:

    void CheckBox(const BoxRecord& box) {
        QCOMPARE(box.className, QStringLiteral("QMessageBox"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.title, ApplicationTitle(QCoreApplication::applicationFilePath()));
        QCOMPARE(box.title, QStringLiteral("tst_errorreport"));
        QCOMPARE(box.buttonCount, 1);
        QVERIFY(box.hasOk);
    }

    void CheckDefaultShown() {
        QCOMPARE(C<QLineEdit>("edAdckLen")->text(), QStringLiteral("13 bits"));
        QCOMPARE(C<QLineEdit>("edPosition")->text(), QStringLiteral("26440930"));
        QCOMPARE(C<QLineEdit>("edCRCcalc")->text(), QStringLiteral("15"));
        QCOMPARE(C<QLabel>("lblPosition")->text(), QStringLiteral("141.8402 deg"));
        QCOMPARE(C<QLabel>("pnlCRCok")->text(), QStringLiteral("CRC OK"));
        QCOMPARE(Colour(C<QLabel>("pnlCRCok")), kGreen);
    }

private slots:
    void init() { QVERIFY(Open()); }

    void cleanup() { QCOMPARE(Close(), 0); }

    void escapingException_data() {
        QTest::addColumn<int>("via"); // 0 mouse click, 1 timer, 2 queued call
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("report"); // empty: any text
        QTest::newRow("click, runtime_error") << 0 << int(tkRuntimeError) << "Thrown on purpose"
                                              << "Thrown on purpose.";
        QTest::newRow("click, ends with full stop") << 0 << int(tkRuntimeError) << "Ends here."
                                                    << "Ends here.";
        QTest::newRow("click, not a std::exception") << 0 << int(tkNotStd) << "" << "";
        QTest::newRow("timer, logic_error") << 1 << int(tkLogicError) << "From a timer"
                                            << "From a timer.";
        QTest::newRow("queued call, out_of_range") << 2 << int(tkOutOfRange) << "Queued!"
                                                   << "Queued!";
    }

    void escapingException() {
        QFETCH(int, via);
        QFETCH(int, kind);
        QFETCH(QString, message);
        QFETCH(QString, report);

        QWidget host;
        auto* thrower = new QPushButton(QStringLiteral("throw"), &host);
        QObject::connect(thrower, &QPushButton::clicked, &host, [&] { ThrowIt(kind, message); });
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        switch (via) {
        case 0:
            QTest::mouseClick(thrower, Qt::LeftButton);
            break;
        case 1:
            QTimer::singleShot(0, &host, [&] { ThrowIt(kind, message); });
            break;
        default:
            QMetaObject::invokeMethod(&host, [&] { ThrowIt(kind, message); }, Qt::QueuedConnection);
            break;
        }
        QTRY_COMPARE(closer->boxes.size(), 1);
        const BoxRecord box = closer->boxes.takeFirst();
        CheckBox(box);
        if (report.isEmpty()) {
            QVERIFY(!box.text.isEmpty());
        } else {
            QCOMPARE(box.text, report);
        }
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);

        // The program goes on: the window still decodes.
        host.close();
        QVERIFY(ShowActive(form.get()));
        QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
        CheckDefaultShown();
    }

    void zeroDenominatorIsReported() {
        QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
        CheckDefaultShown();
        auto* den = C<TSpinEdit>("seDenominator");
        TypeOver(den, QStringLiteral("0"));
        QCOMPARE(den->value(), 0); // read as typed while the field has the focus
        // A mouse click would move the focus to the button and so correct the field first;
        // Space on the button clicks it while the field keeps the focus.
        QTest::keyClick(C<QPushButton>("btnCalculate"), Qt::Key_Space);
        QTRY_COMPARE(closer->boxes.size(), 1);
        const BoxRecord box = closer->boxes.takeFirst();
        CheckBox(box);
        QVERIFY(!box.text.isEmpty());
        QVERIFY2(box.text.back().unicode() <= u'.', qPrintable(box.text)); // full stop rule
        // The run was abandoned; what the previous one wrote stays.
        CheckDefaultShown();
        // The window goes on working.
        TypeOver(den, QStringLiteral("67108864"));
        auto* input = C<QLineEdit>("edInput");
        input->setFocus(Qt::TabFocusReason);
        input->selectAll();
        QTest::keyClicks(input, QStringLiteral("C004C9BA81753000"));
        QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
        QCOMPARE(C<QLineEdit>("edPosition")->text(), QStringLiteral("26440962"));
        QCOMPARE(C<QLabel>("pnlCRCok")->text(), QStringLiteral("CRC error"));
        QCOMPARE(Colour(C<QLabel>("pnlCRCok")), kRed);
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestErrorReport t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_errorreport.moc"
