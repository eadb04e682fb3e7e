// What assistive technology sees of the window: a name on every input and output field, the
// verdict in words on the verdict panel, and the keyboard order of the fields.
#include "windowtestsupport.h"

#include <QAccessible>
#include <QAccessibleInterface>

#include <memory>

using namespace wt;

class TestAccessibility : public QObject, protected FormFixture {
    Q_OBJECT

private:

    static QString AccessibleName(QWidget* w) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        return iface ? iface->text(QAccessible::Name) : QString();
    }

    void SetInputAndCalculate(const QString& text) {
        auto* input = C<QLineEdit>("edInput");
        input->selectAll();
        QTest::keyClicks(input, text);
        QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
    }

private slots:
    void init() { QVERIFY(Open()); }

    void cleanup() { QCOMPARE(Close(), 0); }

    void everyFieldHasAName_data() {
        QTest::addColumn<QString>("name");
        for (const char* n : {"edInput", "edAdckLen", "edPosition", "edStatus", "edCRCin",
                              "edCRCinInv", "edCRCcalc", "seDataLen", "edUnit", "seDenominator",
                              "seNominator", "lblInputBin", "lblPosition", "pnlCRCok",
                              "btnCalculate", "btnQ"}) {
            QTest::newRow(n) << QString::fromLatin1(n);
        }
    }

    void everyFieldHasAName() {
        QFETCH(QString, name);
        // Empty output fields still need their name, so look before and after a decode.
        for (int pass = 0; pass < 2; ++pass) {
            auto* w = form->findChild<QWidget*>(name);
            QVERIFY(w);
            const QString accessible = AccessibleName(w).trimmed();
            QVERIFY2(!accessible.isEmpty(),
                     qPrintable(QStringLiteral("%1 has no accessible name (pass %2)").arg(name).arg(pass)));
            QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
        }
    }

    void outputNamesDoNotChangeWithTheirValue() {
        // A field's name says what it is; the value is read separately.
        const char* outputs[] = {"edAdckLen", "edPosition", "edStatus", "edCRCin", "edCRCinInv",
                                 "edCRCcalc"};
        QStringList before;
        for (const char* n : outputs) {
            before << AccessibleName(C<QWidget>(n));
        }
        QTest::mouseClick(C<QPushButton>("btnCalculate"), Qt::LeftButton);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(AccessibleName(C<QWidget>(outputs[i])), before.at(i));
        }
    }

    void verdictInWords_data() {
        QTest::addColumn<QString>("input");  // empty: nothing decoded yet
        QTest::addColumn<QString>("caption");
        QTest::newRow("start-up") << "" << "CRC";
        QTest::newRow("good frame") << "C004C9BA71753000" << "CRC OK";
        QTest::newRow("bad CRC") << "C004C9BA81753000" << "CRC error";
        QTest::newRow("frame cut short") << "0000000000000001" << "CRC error";
        QTest::newRow("invalid input after a good frame") << "C004C9BA71753000|G1" << "CRC";
        QTest::newRow("no start bit after a good frame") << "C004C9BA71753000|FFFFFFFFFFFFFFFF"
                                                         << "CRC";
    }

    void verdictInWords() {
        QFETCH(QString, input);
        QFETCH(QString, caption);
        if (!input.isEmpty()) {
            for (const QString& frame : input.split(QLatin1Char('|'))) {
                SetInputAndCalculate(frame);
            }
        }
        auto* panel = C<QLabel>("pnlCRCok");
        QCOMPARE(panel->text(), caption);
        QCOMPARE(panel->accessibleName(), caption);
        QCOMPARE(AccessibleName(panel), caption);
    }

    void focusChainMatchesTabOrder() {
        const QStringList expected = {"edInput", "edAdckLen", "edPosition", "edStatus", "edCRCin",
                                      "edCRCinInv", "edCRCcalc", "seDataLen", "btnCalculate",
                                      "edUnit", "seDenominator", "seNominator", "btnQ"};
        // Walk the focus chain once round from the window, keeping the widgets a Tab can reach;
        // a spin field's inner edit stands for the field.
        QStringList chain;
        QWidget* w = form.get();
        for (int guard = 0; guard < 1000; ++guard) {
            w = w->nextInFocusChain();
            if (w == form.get()) {
                break;
            }
            QWidget* owner = w;
            for (QWidget* p = w; p && p != form.get(); p = p->parentWidget()) {
                if (qobject_cast<TSpinEdit*>(p)) {
                    owner = p;
                }
            }
            QWidget* target = owner->focusProxy() ? owner->focusProxy() : owner;
            if (!(target->focusPolicy() & Qt::TabFocus) || !owner->isVisibleTo(form.get()) ||
                !owner->isEnabled()) {
                continue;
            }
            if (!chain.isEmpty() && chain.last() == owner->objectName()) {
                continue;
            }
            chain << owner->objectName();
        }
        QCOMPARE(chain, expected);
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestAccessibility t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_accessibility.moc"
