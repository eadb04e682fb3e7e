// The application's error report: an error of the decoder during Calculate is reported by the
// handler itself, and an exception that still escapes an event handler, from a posted event, a
// timer or a queued call, ends in the same modal critical box from QApplication::notify, the
// last resort. Either way the box is captioned with the application title and the program
// carries on.
//
// The last-resort cases deliver their events to plain objects, not widgets: an exception that
// unwinds through the frames of Qt's widget code skips their clean-up (that code is built
// without it) and leaves a few bytes per event behind, which the leak check would report.
#include "windowtestsupport.h"

#include <functional>
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

// Runs `Throw` from its own event handler when it receives a QEvent::User.
class TThrower : public QObject {
public:
    std::function<void()> Throw;

    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            Throw();
        }
        return QObject::event(event);
    }
};

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

    // What the decoder throws for the default frame and settings with `denominator`.
    static QString DecoderMessage(std::int32_t denominator) {
        try {
            DecodeFrame(u"C004C9BA71753000", 26, 360, denominator, u"deg", TRegionalSeparators{});
        } catch (const std::exception& error) {
            return QString::fromUtf8(error.what());
        }
        return {};
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
        QTest::addColumn<int>("via"); // 0 posted event, 1 timer, 2 queued call
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("report");
        QTest::newRow("posted event, runtime_error") << 0 << int(tkRuntimeError)
                                                     << "Thrown on purpose" << "Thrown on purpose.";
        QTest::newRow("posted event, ends with full stop") << 0 << int(tkRuntimeError)
                                                           << "Ends here." << "Ends here.";
        QTest::newRow("posted event, not a std::exception") << 0 << int(tkNotStd) << ""
                                                            << "Unknown error.";
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

        TThrower host;
        host.Throw = [&] { ThrowIt(kind, message); };

        switch (via) {
        case 0:
            QCoreApplication::postEvent(&host, new QEvent(QEvent::User));
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
        QCOMPARE(box.text, report);
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);

        // The program goes on: the window still decodes.
        QVERIFY(ShowActive(form.get()));
        QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
        CheckDefaultShown();
    }

    void decoderErrorIsReportedByTheHandler_data() {
        QTest::addColumn<bool>("direct"); // call the handler itself, or press Calculate
        QTest::newRow("handler called directly") << true;
        QTest::newRow("Calculate pressed") << false;
    }

    // A denominator of 0 typed and not yet corrected makes the scale infinite; the decoder's
    // error is reported from the handler itself, so it never unwinds through Qt's frames.
    void decoderErrorIsReportedByTheHandler() {
        QFETCH(bool, direct);
        QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
        CheckDefaultShown();
        auto* den = C<TSpinEdit>("seDenominator");
        TypeOver(den, QStringLiteral("0"));
        QCOMPARE(den->value(), 0); // read as typed while the field has the focus
        if (direct) {
            QVERIFY_THROWS_NO_EXCEPTION(form->btnCalculateClick());
        } else {
            // A mouse click would move the focus to the button and so correct the field
            // first; Space on the button clicks it while the field keeps the focus.
            QTest::keyClick(C<QPushButton>("btnCalculate"), Qt::Key_Space);
        }
        QTRY_COMPARE(closer->boxes.size(), 1);
        const BoxRecord box = closer->boxes.takeFirst();
        CheckBox(box);
        const QString message = DecoderMessage(0);
        QVERIFY(!message.isEmpty());
        QCOMPARE(box.text, message + u'.');
        // The run was abandoned; what the previous one wrote stays.
        CheckDefaultShown();
        QCOMPARE(C<QLineEdit>("edInput")->text(), QString::fromLatin1(kDefaultFrame));

        // The window goes on working.
        TypeOver(den, QStringLiteral("67108864"));
        TypeOver(C<QLineEdit>("edInput"), QStringLiteral("C004C9BA81753000"));
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
