// The window driven as a user drives it: open a capture, select frames in the table and the
// plot, fail to open another and keep the first.
#include "view/frameview.h"
#include "view/plotwidget.h"
#include "view/recordtable.h"
#include "view/viewwindow.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QDialog>
#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QSplitter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>

#include "view/captureloader.h"
#include "view/signalview.h"

#include <gtest/gtest.h>

#include <sstream>

#include <map>

namespace {

bool WaitForLoad(const TViewWindow& window) {
    for (int i = 0; i < 200 && window.IsLoading(); ++i) {
        QTest::qWait(25);
    }
    return !window.IsLoading();
}

QString Sample(const char* file) {
    return QString::fromLatin1(CORVANE_CAPTURES_DIR) + QLatin1Char('/') + QLatin1String(file);
}

// Opens the sample capture `file` and waits until it is loaded.
bool OpenSample(TViewWindow& window, const char* file) {
    window.OpenFile(Sample(file));
    return WaitForLoad(window);
}

} // namespace

TEST(Window, OpensACaptureAndSelectsFramesBothWays) {
    TViewWindow window;
    window.resize(1200, 800);
    window.show();
    EXPECT_EQ(window.Loaded(), nullptr);
    ASSERT_TRUE(OpenSample(window, "hex-frames.txt"));
    ASSERT_NE(window.Loaded(), nullptr);
    EXPECT_TRUE(window.Message().isEmpty()) << window.Message().toStdString();
    EXPECT_EQ(window.Table()->model()->rowCount(), 6);

    // A row chosen in the table selects the frame in the plot and the frame view.
    window.Table()->setCurrentIndex(window.Table()->model()->index(3, 0));
    ASSERT_TRUE(window.Plot()->Scene().Selected.has_value());
    EXPECT_EQ(*window.Plot()->Scene().Selected, 3U);
    EXPECT_TRUE(window.FrameView()->Description().contains(QStringLiteral("C00491A2B3B6B000"), Qt::CaseInsensitive));

    // A click on the plot at frame 1's pixel selects row 1.
    TPlotWidget* plot = window.Plot();
    const TPlotGeometry g = plot->Geometry();
    const int x = g.Curve.left() + static_cast<int>(XToPixel(plot->Scene().View, 1.0, g.Curve.width()));
    QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(x, g.Curve.center().y()));
    EXPECT_EQ(window.Table()->currentIndex().row(), 1);
    EXPECT_EQ(*plot->Scene().Selected, 1U);
}

TEST(Window, AFailedOpenKeepsTheLastGoodView) {
    TViewWindow window;
    window.show();
    ASSERT_TRUE(OpenSample(window, "hex-frames.txt"));
    const TLoadedCapture* first = window.Loaded();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(OpenSample(window, "no-such-capture.txt"));
    EXPECT_EQ(window.Loaded(), first);
    EXPECT_EQ(window.Table()->model()->rowCount(), 6);
    EXPECT_TRUE(window.Message().contains(QStringLiteral("cannot open"))) << window.Message().toStdString();
    // A binary capture without a frame size: the reader's message, the view unchanged.
    ASSERT_TRUE(OpenSample(window, "binary-frames.bin"));
    EXPECT_EQ(window.Loaded(), first);
    EXPECT_FALSE(window.Message().isEmpty());
}

TEST(Window, WheelZoomKeepsThePointUnderTheCursor) {
    TViewWindow window;
    window.resize(1200, 800);
    window.show();
    ASSERT_TRUE(OpenSample(window, "saleae-table.csv"));
    TPlotWidget* plot = window.Plot();
    const TPlotGeometry g = plot->Geometry();
    const QPoint at(g.Curve.left() + g.Curve.width() / 3, g.Curve.center().y());
    const TViewport before = plot->Scene().View;
    const double x = PixelToX(before, at.x() - g.Curve.left(), g.Curve.width());
    QWheelEvent wheel(QPointF(at), plot->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &wheel);
    const TViewport after = plot->Scene().View;
    EXPECT_LT(after.X1 - after.X0, before.X1 - before.X0);
    EXPECT_NEAR(XToPixel(after, x, g.Curve.width()), at.x() - g.Curve.left(), 1e-6);
    // F fits the whole capture again.
    QTest::keyClick(&window, Qt::Key_F);
    EXPECT_DOUBLE_EQ(plot->Scene().View.X0, before.X0);
    EXPECT_DOUBLE_EQ(plot->Scene().View.X1, before.X1);
}

TEST(Window, ShortcutsGoToCrcErrorsAndFlags) {
    TViewWindow window;
    window.show();
    ASSERT_TRUE(OpenSample(window, "hex-frames.txt"));
    // Frames 3 (nE) and 4 (nW) carry flags, frame 5 a CRC error.
    QTest::keyClick(&window, Qt::Key_F8);
    EXPECT_EQ(window.Table()->currentIndex().row(), 5);
    QTest::keyClick(&window, Qt::Key_F8, Qt::ShiftModifier);
    EXPECT_EQ(window.Table()->currentIndex().row(), 5); // no CRC error before it
    QTest::keyClick(&window, Qt::Key_F9, Qt::ShiftModifier);
    EXPECT_EQ(window.Table()->currentIndex().row(), 4);
    QTest::keyClick(&window, Qt::Key_F9, Qt::ShiftModifier);
    EXPECT_EQ(window.Table()->currentIndex().row(), 3);
    QTest::keyClick(&window, Qt::Key_F9);
    EXPECT_EQ(window.Table()->currentIndex().row(), 4);
}

TEST(Window, ALayoutChangeDecodesAgain) {
    TViewWindow window;
    window.show();
    ASSERT_TRUE(OpenSample(window, "hex-frames.txt"));
    ASSERT_EQ(window.Loaded()->Capture.Store.Totals().CrcOk, 5U);
    QSpinBox* bits = nullptr;
    for (QSpinBox* box : window.findChildren<QSpinBox*>()) {
        if (box->accessibleName() == QStringLiteral("Single-turn position bits")) {
            bits = box;
        }
    }
    ASSERT_NE(bits, nullptr);
    // A frame chosen and a stretch zoomed into stay through the change, the frame decoded anew.
    window.SelectFrame(3);
    const QString before = window.FrameView()->Description();
    TViewport zoomed = window.Plot()->Scene().View;
    zoomed.X0 = 2.5;
    zoomed.X1 = 4.5;
    window.Plot()->SetView(zoomed);
    bits->setValue(24);
    // The change waits a moment for more edits, then loads again.
    for (int i = 0; i < 100 && (window.Loaded()->Capture.Settings.Layout.PositionBits != 24 || window.IsLoading()); ++i) {
        QTest::qWait(25);
    }
    ASSERT_EQ(window.Loaded()->Capture.Settings.Layout.PositionBits, 24);
    EXPECT_LT(window.Loaded()->Capture.Store.Totals().CrcOk, 5U);
    ASSERT_TRUE(window.Plot()->Scene().Selected.has_value());
    EXPECT_EQ(*window.Plot()->Scene().Selected, 3U);
    EXPECT_EQ(window.Table()->currentIndex().row(), 3);
    EXPECT_NE(window.FrameView()->Description(), before);
    EXPECT_EQ(window.Plot()->Scene().View.X0, 2.5);
    EXPECT_EQ(window.Plot()->Scene().View.X1, 4.5);
    // A layout that cannot be: a message, and the last good view stays.
    const TLoadedCapture* good = window.Loaded();
    for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
        if (edit->accessibleName() == QStringLiteral("CRC polynomial")) {
            edit->setText(QStringLiteral("zz"));
            emit edit->textEdited(edit->text());
        }
    }
    QTest::qWait(700);
    EXPECT_EQ(window.Loaded(), good);
    EXPECT_TRUE(window.Message().contains(QStringLiteral("layout"))) << window.Message().toStdString();
}

TEST(Window, LinesOfAFrameReadForTheCaptureBeforeAreDropped) {
    TViewWindow window;
    window.show();
    ASSERT_TRUE(OpenSample(window, "signal-biss.sr"));
    // Another file loads; before its view is shown the user picks a frame of the signal
    // capture still on screen, and the lines of that frame are read after the new load ended.
    window.OpenFile(Sample("hex-frames.txt"));
    QThreadPool::globalInstance()->waitForDone();
    window.SelectFrame(9);
    QThreadPool::globalInstance()->waitForDone();
    ASSERT_TRUE(WaitForLoad(window));
    QTest::qWait(50);
    ASSERT_EQ(window.Loaded()->Capture.FormatName, "hex");
    EXPECT_FALSE(window.IsReadingLines());
    EXPECT_TRUE(window.SignalView()->Window().Edges.empty());
    EXPECT_EQ(window.FrameView()->Description().toStdString(), "No frame selected.");
}

TEST(Window, ACancelledFirstLoadClaimsNoEarlierCapture) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("long.txt"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const QByteArray line("C004C9BA71753000\n");
        QByteArray text;
        for (int i = 0; i < 400000; ++i) {
            text += line;
        }
        ASSERT_EQ(file.write(text), text.size());
    }
    TViewWindow window;
    window.show();
    QPushButton* cancel = nullptr;
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Cancel")) {
            cancel = button;
        }
    }
    ASSERT_NE(cancel, nullptr);
    window.OpenFile(path);
    cancel->click();
    ASSERT_TRUE(WaitForLoad(window));
    ASSERT_EQ(window.Loaded(), nullptr);
    EXPECT_TRUE(window.Message().contains(QStringLiteral("cancelled"))) << window.Message().toStdString();
    EXPECT_FALSE(window.Message().contains(QStringLiteral("loaded before"))) << window.Message().toStdString();

    // With a capture on screen the message says that it stays.
    ASSERT_TRUE(OpenSample(window, "hex-frames.txt"));
    window.OpenFile(path);
    cancel->click();
    ASSERT_TRUE(WaitForLoad(window));
    EXPECT_EQ(window.Loaded()->Capture.FormatName, "hex");
    EXPECT_TRUE(window.Message().contains(QStringLiteral("loaded before"))) << window.Message().toStdString();
}

TEST(Window, RegisterAccessesNameTheFileAndKeepThePathInTheTooltip) {
    TViewWindow window;
    window.show();
    ASSERT_TRUE(OpenSample(window, "signal-registers.sr"));
    const QTableWidget* table = window.RegisterTable();
    ASSERT_GT(table->rowCount(), 0);
    ASSERT_EQ(table->horizontalHeaderItem(0)->text(), QStringLiteral("source"));
    EXPECT_EQ(table->item(0, 0)->text().toStdString(), "signal-registers.sr");
    EXPECT_EQ(QFileInfo(table->item(0, 0)->toolTip()).canonicalFilePath().toStdString(),
              QFileInfo(Sample("signal-registers.sr")).canonicalFilePath().toStdString());
    // The frame column stays beside it, not pushed out by a long path.
    EXPECT_LT(table->columnWidth(0), 2 * table->fontMetrics().horizontalAdvance(QStringLiteral("signal-registers.sr")));
}

TEST(Window, TheCursorReadsTheFrameNumberTheTableShows) {
    TViewWindow window;
    window.resize(1200, 800);
    window.show();
    ASSERT_TRUE(OpenSample(window, "hex-frames.txt"));
    TPlotWidget* plot = window.Plot();
    QSignalSpy spy(plot, &TPlotWidget::CursorText);
    const TPlotGeometry g = plot->Geometry();
    // Near the pixel of the frame in table row 4 (index 3), a little to the right of it.
    const double x = XToPixel(plot->Scene().View, 3.3, g.Curve.width());
    QTest::mouseMove(plot, QPoint(g.Curve.left() + static_cast<int>(x), g.Curve.center().y()));
    ASSERT_FALSE(spy.isEmpty());
    const QString text = spy.last().at(0).toString();
    EXPECT_TRUE(text.startsWith(QStringLiteral("frame 4 "))) << text.toStdString();
}

TEST(Window, EveryAltKeyReachesOneControl) {
    // Two controls on one Alt key make Qt hop between them instead of acting: Alt+F must open
    // the File menu, not wait for a second press.
    TViewWindow window;
    window.show();
    std::map<QChar, QStringList> owners;
    auto note = [&owners](const QString& text) {
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
            if (text[i] == QLatin1Char('&')) {
                if (text[i + 1] != QLatin1Char('&')) {
                    owners[text[i + 1].toLower()] << text;
                }
                ++i;
            }
        }
    };
    for (QAction* action : window.menuBar()->actions()) {
        note(action->text());
    }
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (label->buddy() != nullptr) {
            note(label->text());
        }
    }
    for (const QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        note(button->text());
    }
    for (const QTabWidget* tabs : window.findChildren<QTabWidget*>()) {
        for (int i = 0; i < tabs->count(); ++i) {
            note(tabs->tabText(i));
        }
    }
    ASSERT_GT(owners.size(), 10U);
    for (const auto& [key, texts] : owners) {
        EXPECT_EQ(texts.size(), 1) << "Alt+" << QString(key).toStdString() << ": "
                                   << texts.join(QStringLiteral(", ")).toStdString();
    }
}

TEST(Window, NothingToExportWithoutACapture) {
    TViewWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    // A file dialog would wait for an answer: close whatever modal window comes up.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
    });
    guard.start(100);
    for (const QKeyCombination keys : {QKeyCombination(Qt::CTRL, Qt::Key_E), QKeyCombination(Qt::CTRL | Qt::SHIFT, Qt::Key_E)}) {
        QTest::keyClick(&window, keys.key(), keys.keyboardModifiers());
        EXPECT_TRUE(window.Message().contains(QStringLiteral("nothing to export"))) << window.Message().toStdString();
        for (QToolButton* button : window.findChildren<QToolButton*>()) {
            if (button->accessibleName() == QStringLiteral("Dismiss the message")) {
                button->click();
            }
        }
        EXPECT_TRUE(window.Message().isEmpty());
    }
}

TEST(Window, ReturnInFindLayoutAppliesTheHighlightedLayout) {
    TViewWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    TLoadSettings settings;
    std::string error;
    ASSERT_TRUE(ParseLoadArguments({"-n", "24", Sample("hex-frames.txt").toStdString()}, settings, error)) << error;
    window.Open(settings);
    ASSERT_TRUE(WaitForLoad(window));
    ASSERT_EQ(window.Loaded()->Capture.Store.Totals().CrcOk, 0U);
    // The candidates come up in a dialog of their own, the best one highlighted: Return takes it.
    bool offered = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&offered] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QListWidget* list = dialog != nullptr ? dialog->findChild<QListWidget*>() : nullptr;
        if (list != nullptr && !offered) {
            offered = true;
            EXPECT_TRUE(list->currentItem()->text().startsWith(QStringLiteral("26 bits"))) << list->currentItem()->text().toStdString();
            QTest::keyClick(list, Qt::Key_Return);
            if (dialog->isVisible()) {
                dialog->reject(); // the test goes on either way
            }
        }
    });
    answer.start(50);
    QPushButton* find = nullptr;
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->text().startsWith(QStringLiteral("Find"))) {
            find = button;
        }
    }
    ASSERT_NE(find, nullptr);
    find->click();
    for (int i = 0; i < 200 && (!offered || window.IsLoading() || window.Loaded()->Capture.Settings.Layout.PositionBits != 26); ++i) {
        QTest::qWait(25);
    }
    EXPECT_TRUE(offered);
    EXPECT_EQ(window.Loaded()->Capture.Settings.Layout.PositionBits, 26);
    EXPECT_EQ(window.Loaded()->Capture.Store.Totals().CrcOk, 5U);
}

TEST(Window, TabLeavesTheTables) {
    TViewWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(OpenSample(window, "signal-registers.sr"));
    for (QAbstractItemView* table : {static_cast<QAbstractItemView*>(window.Table()),
                                     static_cast<QAbstractItemView*>(window.RegisterTable())}) {
        QTabWidget* tabs = window.findChild<QTabWidget*>();
        ASSERT_NE(tabs, nullptr);
        tabs->setCurrentIndex(table == window.Table() ? 0 : 2);
        table->setFocus();
        table->setCurrentIndex(table->model()->index(0, 0));
        ASSERT_EQ(QApplication::focusWidget(), table);
        QTest::keyClick(table, Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), table) << table->accessibleName().toStdString();
        EXPECT_EQ(table->currentIndex().column(), 0);
    }
}

TEST(Window, SplittersKeepTheirPlaceFromOneWindowToTheNext) {
    // The places are the test's own: none before it, none left for the tests after it.
    QSettings().remove(QStringLiteral("view"));
    struct TForget {
        ~TForget() { QSettings().remove(QStringLiteral("view")); }
    } forget;
    std::map<QString, QList<int>> placed;
    {
        TViewWindow window;
        window.resize(1200, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        for (QSplitter* splitter : window.findChildren<QSplitter*>()) {
            if (splitter->objectName().isEmpty()) {
                continue;
            }
            // The first part a third of what it had, the rest to the second.
            QList<int> sizes = splitter->sizes();
            ASSERT_GE(sizes.size(), 2);
            const int moved = sizes[0] - sizes[0] / 3;
            sizes[0] -= moved;
            sizes[1] += moved;
            splitter->setSizes(sizes);
            placed[splitter->objectName()] = splitter->sizes();
        }
        ASSERT_EQ(placed.size(), 4U);
        window.close();
    }
    TViewWindow again;
    again.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    EXPECT_EQ(again.size(), QSize(1200, 800));
    for (const auto& [name, sizes] : placed) {
        const QSplitter* splitter = again.findChild<QSplitter*>(name);
        ASSERT_NE(splitter, nullptr) << name.toStdString();
        const QList<int> now = splitter->sizes();
        ASSERT_EQ(now.size(), sizes.size());
        for (qsizetype i = 0; i < now.size(); ++i) {
            EXPECT_NEAR(now[i], sizes[i], 2) << name.toStdString() << " part " << i;
        }
    }
}

TEST(Window, TheSourceOfAMarkedFrameIsNotCutBehindItsMark) {
    // Rows measured for the column's width carry no mark; a CRC error comes later.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("x.txt"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (int line = 1; line <= 300; ++line) {
            file.write(line == 250 ? "C0055555556AB000\n" : "C004C9BA71753000\n");
        }
    }
    TViewWindow window;
    window.resize(1200, 800);
    window.show();
    window.OpenFile(path);
    ASSERT_TRUE(WaitForLoad(window));
    const QTableView* table = window.Table();
    const QModelIndex marked = table->model()->index(249, 0);
    ASSERT_TRUE(marked.data(Qt::DecorationRole).isValid());
    const QString text = marked.data().toString();
    ASSERT_EQ(text.toStdString(), "x.txt:250");
    // As wide as the cell of the marked row asks to be, mark and text.
    QStyleOptionViewItem option;
    option.initFrom(table);
    option.font = table->font();
    option.decorationSize = table->iconSize().isValid()
                                ? table->iconSize()
                                : QSize(table->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, table),
                                        table->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, table));
    option.features |= QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasDisplay;
    const int wanted = table->itemDelegate()->sizeHint(option, marked).width();
    EXPECT_GE(table->columnWidth(0), wanted);
    EXPECT_GE(wanted, table->fontMetrics().horizontalAdvance(text) + option.decorationSize.width());
}

TEST(Window, FindLayoutDuringALoadSaysWhyItWaits) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("long.txt"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray text;
        for (int i = 0; i < 400000; ++i) {
            text += "C004C9BA71753000\n";
        }
        ASSERT_EQ(file.write(text), text.size());
    }
    TViewWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(OpenSample(window, "hex-frames.txt"));
    window.OpenFile(path);
    ASSERT_TRUE(window.IsLoading());
    QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(window.statusBar()->currentMessage().contains(QStringLiteral("Find Layout")))
        << window.statusBar()->currentMessage().toStdString();
    ASSERT_TRUE(WaitForLoad(window));
    EXPECT_EQ(window.Loaded()->Capture.Store.Size(), 400000U);
}

TEST(Window, AnExportedPlotNamedWithoutATypeTakesTheChosenFilters) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TViewWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(OpenSample(window, "hex-frames.txt"));
    for (const char* type : {"svg", "png"}) {
        bool answered = false;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || answered) {
                return;
            }
            answered = true;
            for (const QString& filter : dialog->nameFilters()) {
                if (filter.contains(QLatin1String(type))) {
                    dialog->selectNameFilter(filter);
                }
            }
            // Typed into the name field, as a user does.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(dir.filePath(QStringLiteral("plot-%1").arg(QLatin1String(type))));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        answer.start(50);
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier);
        EXPECT_TRUE(answered) << QDir(dir.path()).entryList(QDir::Files).join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(window.Message().isEmpty()) << window.Message().toStdString();
        EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("plot-%1.%1").arg(QLatin1String(type))))) << type;
    }
}

TEST(Window, ExportsTheRecordsInTheBackground) {
    // The file holds the capture's CSV records, the status bar says so; an unwritable place
    // gives a message; a capture opened meanwhile does not change what is written.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TViewWindow window;
    window.show();
    ASSERT_TRUE(OpenSample(window, "hex-frames.txt"));
    std::ostringstream expected;
    ASSERT_TRUE(TRecordSource(window.Loaded()->Capture).WriteCsv(expected));
    const QString path = dir.filePath(QStringLiteral("records.csv"));
    window.ExportRecords(path);
    window.OpenFile(Sample("csv-frames.csv"));
    for (int i = 0; i < 200 && (window.IsExportingRecords() || window.IsLoading()); ++i) {
        QTest::qWait(25);
    }
    ASSERT_FALSE(window.IsExportingRecords());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), expected.str());
    EXPECT_TRUE(window.statusBar()->currentMessage().contains(QStringLiteral("Wrote 6 records")))
        << window.statusBar()->currentMessage().toStdString();
    EXPECT_TRUE(window.Message().isEmpty()) << window.Message().toStdString();

    window.ExportRecords(dir.filePath(QStringLiteral("missing/records.csv")));
    for (int i = 0; i < 200 && window.IsExportingRecords(); ++i) {
        QTest::qWait(25);
    }
    EXPECT_TRUE(window.Message().contains(QStringLiteral("cannot write the records"))) << window.Message().toStdString();
}
