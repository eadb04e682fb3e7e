#include "view/viewwindow.h"

#include "view/frameview.h"
#include "view/plotexport.h"
#include "view/plotwidget.h"
#include "view/recordtable.h"
#include "view/signalview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTableWidget>
#include <QTabWidget>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <fstream>

namespace {

constexpr int MaxRecent = 8;

QString Hex(std::uint32_t value) {
    return QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

bool ParseNumber(const QString& text, std::uint32_t& value) {
    bool ok = false;
    const QString t = text.trimmed();
    const qulonglong v = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.mid(2).toULongLong(&ok, 16)
                                                                              : t.toULongLong(&ok, 10);
    if (!ok || v > 0xFFFFFFFFULL) {
        return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

QString Count(std::uint64_t n) {
    return QLocale().toString(static_cast<qulonglong>(n));
}

} // namespace

TViewWindow::TViewWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("corvaneView"));
    setAcceptDrops(true);
    FCancel = std::make_shared<std::atomic<bool>>(false);
    FProgress = std::make_shared<TLoadProgress>();

    FPlot = new TPlotWidget;
    FModel = new TRecordTableModel(this);
    FTable = new QTableView;
    FTable->setModel(FModel);
    FTable->setAccessibleName(tr("Records"));
    FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTable->setSelectionMode(QAbstractItemView::SingleSelection);
    FTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    FTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    FTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Columns sized to their contents look at the first rows only, however long the capture.
    FTable->horizontalHeader()->setResizeContentsPrecision(200);
    FTable->setWordWrap(false);
    // The records are read, not edited: Tab goes on to the next control instead of walking
    // the cells, so that the keyboard can leave the table (arrows move between rows).
    FTable->setTabKeyNavigation(false);
    FFrameView = new TFrameView;
    FFrameView->Clear();
    FSignalView = new TSignalView;
    FSignalView->ShowText(tr("The lines MA and SLO of a frame show here for signal captures."));
    FLinesCancel = std::make_shared<std::atomic<bool>>(false);
    FFrameSplit = new QSplitter(Qt::Vertical);
    FFrameSplit->setObjectName(QStringLiteral("frameSplit"));
    FFrameSplit->addWidget(FFrameView);
    FFrameSplit->addWidget(FSignalView);
    FFrameSplit->setStretchFactor(0, 0);
    FFrameSplit->setStretchFactor(1, 1);
    FFrameSplit->setChildrenCollapsible(false);

    // Beside the records: corvane-decode's summary and the register traffic.
    auto monospace = [](QPlainTextEdit* edit) {
        edit->setReadOnly(true);
        edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        edit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    };
    FSummaryText = new QPlainTextEdit;
    FSummaryText->setAccessibleName(tr("Summary of the capture"));
    monospace(FSummaryText);
    FRegisterTable = new QTableWidget;
    FRegisterTable->setAccessibleName(tr("Register accesses"));
    FRegisterTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FRegisterTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    FRegisterTable->verticalHeader()->hide();
    FRegisterTable->setTabKeyNavigation(false);
    FRegisterMap = new QPlainTextEdit;
    FRegisterMap->setAccessibleName(tr("Register map"));
    monospace(FRegisterMap);
    auto* registers = new QSplitter(Qt::Vertical);
    registers->addWidget(FRegisterTable);
    registers->addWidget(FRegisterMap);
    FTabs = new QTabWidget;
    FTabs->addTab(FTable, tr("&Records"));
    FTabs->addTab(FSummaryText, tr("S&ummary"));
    FTabs->addTab(registers, tr("R&egisters"));
    connect(FRegisterTable, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        // The access's frame: the burst number, found among the frames by its line.
        if (!FLoaded || row < 0) {
            return;
        }
        const QTableWidgetItem* item = FRegisterTable->item(row, 1);
        const TCaptureStore& store = FLoaded->Capture.Store;
        const std::uint64_t frame = item != nullptr ? item->text().toULongLong() : 0;
        for (std::size_t i = 0; i < store.Size(); ++i) {
            if (store.Line(i) == frame) {
                SelectFrame(i);
                FTabs->setCurrentIndex(0);
                return;
            }
        }
    });

    // The message bar: errors stay here until dismissed or the next good load.
    FMessageBar = new QWidget;
    auto* messageLayout = new QHBoxLayout(FMessageBar);
    messageLayout->setContentsMargins(8, 4, 4, 4);
    FMessage = new QLabel;
    FMessage->setWordWrap(true);
    FMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FMessage->setAccessibleName(tr("Message"));
    auto* dismiss = new QToolButton;
    dismiss->setText(tr("Dismiss"));
    dismiss->setAccessibleName(tr("Dismiss the message"));
    connect(dismiss, &QToolButton::clicked, this, &TViewWindow::ClearMessage);
    messageLayout->addWidget(FMessage, 1);
    messageLayout->addWidget(dismiss);
    FMessageBar->setAutoFillBackground(true);
    QPalette messagePalette = FMessageBar->palette();
    messagePalette.setColor(QPalette::Window, QColor(0xE5, 0x30, 0x30).lighter(170));
    messagePalette.setColor(QPalette::WindowText, Qt::black);
    FMessageBar->setPalette(messagePalette);
    FMessageBar->hide();

    FBottomSplit = new QSplitter(Qt::Horizontal);
    FBottomSplit->setObjectName(QStringLiteral("bottomSplit"));
    FBottomSplit->addWidget(FTabs);
    FBottomSplit->addWidget(FFrameSplit);
    FBottomSplit->setStretchFactor(0, 3);
    FBottomSplit->setStretchFactor(1, 2);
    FRightSplit = new QSplitter(Qt::Vertical);
    FRightSplit->setObjectName(QStringLiteral("rightSplit"));
    FRightSplit->addWidget(FPlot);
    FRightSplit->addWidget(FBottomSplit);
    FRightSplit->setStretchFactor(0, 1);
    FRightSplit->setStretchFactor(1, 1);

    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(FMessageBar);
    rightLayout->addWidget(FRightSplit, 1);

    FMainSplit = new QSplitter(Qt::Horizontal);
    FMainSplit->setObjectName(QStringLiteral("mainSplit"));
    FMainSplit->addWidget(BuildSidePanel());
    FMainSplit->addWidget(right);
    FMainSplit->setStretchFactor(1, 1);
    setCentralWidget(FMainSplit);

    FCursor = new QLabel;
    FCursor->setAccessibleName(tr("Cursor position"));
    FProgressBar = new QProgressBar;
    // Wide enough for the count of a long capture, which would otherwise wrap and be cut.
    FProgressBar->setMinimumWidth(fontMetrics().horizontalAdvance(tr("%1 frames").arg(Count(999999999))) + 32);
    FProgressBar->setMaximumWidth(std::max(240, FProgressBar->minimumWidth()));
    FProgressBar->setAccessibleName(tr("Loading progress"));
    FProgressBar->hide();
    FCancelButton = new QPushButton(tr("Cancel"));
    FCancelButton->hide();
    connect(FCancelButton, &QPushButton::clicked, this, [this] { FCancel->store(true); });
    statusBar()->addWidget(FCursor, 1);
    statusBar()->addPermanentWidget(FProgressBar);
    statusBar()->addPermanentWidget(FCancelButton);

    FProgressTimer = new QTimer(this);
    FProgressTimer->setInterval(100);
    connect(FProgressTimer, &QTimer::timeout, this, [this] {
        const std::uint64_t total = FProgress->TotalBytes;
        if (total > 0) {
            FProgressBar->setRange(0, 1000);
            FProgressBar->setValue(static_cast<int>(FProgress->Bytes * 1000 / total));
        } else {
            FProgressBar->setRange(0, 0);
        }
        FProgressBar->setFormat(tr("%1 frames").arg(Count(FProgress->Frames)));
    });
    FPanelTimer = new QTimer(this);
    FPanelTimer->setSingleShot(true);
    FPanelTimer->setInterval(400);
    connect(FPanelTimer, &QTimer::timeout, this, [this] {
        if (FLoaded || FLoading || !FFile->text().isEmpty()) {
            StartLoad(SettingsFromPanel());
        }
    });

    connect(FPlot, &TPlotWidget::CursorText, FCursor, &QLabel::setText);
    connect(FPlot, &TPlotWidget::FrameClicked, this, [this](std::size_t i) { SelectFrame(i); });
    connect(FTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && (!FSelected || *FSelected != static_cast<std::size_t>(current.row()))) {
                    SelectFrame(static_cast<std::size_t>(current.row()));
                }
            });

    BuildActions();
    UpdateTitle();
    UpdateSummary();

    QSettings settings;
    restoreGeometry(settings.value(QStringLiteral("view/geometry")).toByteArray());
    if (!settings.contains(QStringLiteral("view/geometry"))) {
        resize(1280, 860);
    }
    FMainSplit->restoreState(settings.value(QStringLiteral("view/mainSplit")).toByteArray());
    FRightSplit->restoreState(settings.value(QStringLiteral("view/rightSplit")).toByteArray());
    FBottomSplit->restoreState(settings.value(QStringLiteral("view/bottomSplit")).toByteArray());
    FFrameSplit->restoreState(settings.value(QStringLiteral("view/frameSplit")).toByteArray());
}

TViewWindow::~TViewWindow() {
    // A load still running writes into its own capture; let it stop before the window goes.
    FCancel->store(true);
    FLinesCancel->store(true);
    QThreadPool::globalInstance()->waitForDone();
}

void TViewWindow::closeEvent(QCloseEvent* event) {
    QSettings settings;
    settings.setValue(QStringLiteral("view/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("view/mainSplit"), FMainSplit->saveState());
    settings.setValue(QStringLiteral("view/rightSplit"), FRightSplit->saveState());
    settings.setValue(QStringLiteral("view/bottomSplit"), FBottomSplit->saveState());
    settings.setValue(QStringLiteral("view/frameSplit"), FFrameSplit->saveState());
    QMainWindow::closeEvent(event);
}

void TViewWindow::BuildActions() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* open = file->addAction(tr("&Open\u2026"), this, &TViewWindow::ShowChoose);
    open->setShortcut(QKeySequence::Open);
    QAction* openFolder = file->addAction(tr("Open &Folder\u2026"), this, &TViewWindow::ShowChooseFolder);
    openFolder->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    FRecentMenu = file->addMenu(tr("Open &Recent"));
    RebuildRecentMenu();
    file->addSeparator();
    QAction* exportPlot = file->addAction(tr("&Export Plot\u2026"), this, &TViewWindow::ExportPlotDialog);
    exportPlot->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    QAction* exportCsv = file->addAction(tr("Export &Records as CSV\u2026"), this, &TViewWindow::ExportCsvDialog);
    exportCsv->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* view = menuBar()->addMenu(tr("&View"));
    QAction* fit = view->addAction(tr("&Fit"), FPlot, &TPlotWidget::Fit);
    fit->setShortcut(QKeySequence(Qt::Key_F));
    QAction* zoomIn = view->addAction(tr("Zoom &In"), this, [this] {
        const TViewport& v = FPlot->Scene().View;
        FPlot->SetView(ZoomX(v, (v.X0 + v.X1) / 2, 0.5));
    });
    zoomIn->setShortcut(QKeySequence::ZoomIn);
    QAction* zoomOut = view->addAction(tr("Zoom &Out"), this, [this] {
        const TViewport& v = FPlot->Scene().View;
        FPlot->SetView(ZoomX(v, (v.X0 + v.X1) / 2, 2.0));
    });
    zoomOut->setShortcut(QKeySequence::ZoomOut);

    QMenu* go = menuBar()->addMenu(tr("&Go"));
    go->addAction(tr("&Next CRC Error"), QKeySequence(Qt::Key_F8), this, [this] { GoToMark(true, fmCrcError); });
    go->addAction(tr("&Previous CRC Error"), QKeySequence(Qt::SHIFT | Qt::Key_F8), this,
                  [this] { GoToMark(false, fmCrcError); });
    go->addAction(tr("Next &Flag"), QKeySequence(Qt::Key_F9), this,
                  [this] { GoToMark(true, fmError | fmWarning); });
    go->addAction(tr("Previous F&lag"), QKeySequence(Qt::SHIFT | Qt::Key_F9), this,
                  [this] { GoToMark(false, fmError | fmWarning); });

    QMenu* tools = menuBar()->addMenu(tr("&Tools"));
    tools->addAction(tr("Find &Layout\u2026"), QKeySequence(Qt::CTRL | Qt::Key_L), this, &TViewWindow::FindLayout);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&About corvane-view"), this, [this] {
        QMessageBox::about(this, tr("About corvane-view"),
                           tr("<p><b>corvane-view</b> %1</p><p>Looks at a whole capture of BiSS-C frames: "
                              "the position against time or frame, the records and each frame's bits.</p>"
                              "<p>Corvane, MIT licence.</p>")
                               .arg(QApplication::applicationVersion()));
    });
}

QWidget* TViewWindow::BuildSidePanel() {
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    auto named = [](QWidget* w, const QString& name) {
        w->setAccessibleName(name);
        return w;
    };

    FFile = new QLineEdit;
    FFile->setReadOnly(true);
    form->addRow(tr("File"), named(FFile, tr("Capture file")));
    FFormat = new QComboBox;
    for (const std::string& name : InputFormatNames()) {
        FFormat->addItem(QString::fromStdString(name));
    }
    form->addRow(tr("F&ormat"), named(FFormat, tr("Input format")));
    FColumn = new QLineEdit;
    FColumn->setPlaceholderText(QStringLiteral("miso"));
    form->addRow(tr("Colum&n"), named(FColumn, tr("Column or data line")));
    FClock = new QLineEdit;
    FClock->setPlaceholderText(QStringLiteral("MA"));
    FClock->setToolTip(tr("Signal captures: the clock channel, by name or 0-based index"));
    form->addRow(tr("Cloc&k channel"), named(FClock, tr("Clock channel")));
    FData = new QLineEdit;
    FData->setPlaceholderText(QStringLiteral("SLO"));
    FData->setToolTip(tr("Signal captures: the data channel, by name or 0-based index"));
    form->addRow(tr("&Data channel"), named(FData, tr("Data channel")));
    FFrameBytes = new QSpinBox;
    FFrameBytes->setRange(0, 32);
    FFrameBytes->setSpecialValueText(tr("not set"));
    form->addRow(tr("Frame &bytes"), named(FFrameBytes, tr("Bytes per frame")));
    FMultiTurn = new QSpinBox;
    FMultiTurn->setRange(0, 32);
    form->addRow(tr("&Multi-turn bits"), named(FMultiTurn, tr("Multi-turn bits")));
    FPositionBits = new QSpinBox;
    FPositionBits->setRange(1, 64);
    form->addRow(tr("&Position bits"), named(FPositionBits, tr("Single-turn position bits")));
    FStatusBits = new QSpinBox;
    FStatusBits->setRange(0, 2);
    form->addRow(tr("&Status bits"), named(FStatusBits, tr("Status bits")));
    FCrc = new QLineEdit;
    form->addRow(tr("&CRC polynomial"), named(FCrc, tr("CRC polynomial")));
    FCrcStart = new QLineEdit;
    form->addRow(tr("CRC start"), named(FCrcStart, tr("CRC start value")));
    FCrcInverted = new QCheckBox(tr("CRC sent &inverted"));
    form->addRow(FCrcInverted);
    FGray = new QCheckBox(tr("Gra&y code"));
    form->addRow(FGray);
    FSigned = new QCheckBox(tr("Signed (t&wo's complement)"));
    form->addRow(FSigned);
    FScale = new QLineEdit;
    FScale->setPlaceholderText(QStringLiteral("NUM/DEN[:UNIT]"));
    form->addRow(tr("Sc&ale"), named(FScale, tr("Scale")));
    FJump = new QDoubleSpinBox;
    FJump->setRange(0, 1e18);
    FJump->setDecimals(3);
    FJump->setSpecialValueText(tr("off"));
    form->addRow(tr("&Jump threshold"), named(FJump, tr("Jump threshold in plotted units")));
    layout->addLayout(form);

    auto* findLayout = new QPushButton(tr("Find &Layout\u2026"));
    connect(findLayout, &QPushButton::clicked, this, &TViewWindow::FindLayout);
    layout->addWidget(findLayout);

    FSummary = new QLabel;
    FSummary->setWordWrap(true);
    FSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FSummary->setAccessibleName(tr("Summary"));
    FSummary->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    layout->addWidget(FSummary);
    // The legend of the marks.
    auto* legend = new QLabel;
    QString legendText;
    for (const TFrameMark mark : MarkLanes) {
        legendText += QStringLiteral("<span style=\"color:%1\">\u25A0</span> %2<br>")
                          .arg(MarkColour(mark).name(), MarkName(mark));
    }
    legend->setText(legendText);
    legend->setAccessibleName(tr("Legend of the marks"));
    layout->addWidget(legend);
    layout->addStretch(1);

    SetPanel(TLoadSettings{});
    for (QSpinBox* box : {FFrameBytes, FMultiTurn, FPositionBits, FStatusBits}) {
        connect(box, &QSpinBox::valueChanged, this, &TViewWindow::PanelChanged);
    }
    for (QLineEdit* edit : {FColumn, FClock, FData, FCrc, FCrcStart, FScale}) {
        connect(edit, &QLineEdit::textEdited, this, &TViewWindow::PanelChanged);
    }
    for (QCheckBox* box : {FCrcInverted, FGray, FSigned}) {
        connect(box, &QCheckBox::toggled, this, &TViewWindow::PanelChanged);
    }
    connect(FFormat, &QComboBox::currentIndexChanged, this, &TViewWindow::PanelChanged);
    connect(FJump, &QDoubleSpinBox::valueChanged, FPlot, &TPlotWidget::SetJumpThreshold);

    auto* scroll = new QScrollArea;
    scroll->setWidget(panel);
    scroll->setWidgetResizable(true);
    scroll->setMinimumWidth(220);
    scroll->setFrameShape(QFrame::NoFrame);
    return scroll;
}

void TViewWindow::PanelChanged() {
    if (!FSettingPanel) {
        FPanelTimer->start();
    }
}

void TViewWindow::SetPanel(const TLoadSettings& s) {
    FSettingPanel = true;
    FFile->setText(QString::fromStdString(s.File));
    FFormat->setCurrentText(QString::fromStdString(s.Format));
    FColumn->setText(QString::fromStdString(s.Column));
    FClock->setText(QString::fromStdString(s.ClockChannel));
    FData->setText(QString::fromStdString(s.DataChannel));
    FFrameBytes->setValue(static_cast<int>(s.FrameBytes));
    FMultiTurn->setValue(s.Layout.MultiTurnBits);
    FPositionBits->setValue(s.Layout.PositionBits);
    FStatusBits->setValue(s.Layout.StatusBits);
    FCrc->setText(Hex(s.Layout.CrcPolynomial));
    FCrcStart->setText(Hex(s.Layout.CrcStart));
    FCrcInverted->setChecked(s.Layout.CrcInverted);
    FGray->setChecked(s.Layout.Coding == TPositionCoding::pcGray);
    FSigned->setChecked(s.Layout.Signed);
    FScale->setText(QString::fromStdString(s.ScaleText));
    FSettingPanel = false;
}

TLoadSettings TViewWindow::SettingsFromPanel() const {
    TLoadSettings s;
    s.File = FFile->text().toStdString();
    s.Format = FFormat->currentText().toStdString();
    s.Column = FColumn->text().trimmed().toStdString();
    s.ClockChannel = FClock->text().trimmed().toStdString();
    s.DataChannel = FData->text().trimmed().toStdString();
    s.FrameBytes = static_cast<std::uint32_t>(FFrameBytes->value());
    s.Layout.MultiTurnBits = FMultiTurn->value();
    s.Layout.PositionBits = FPositionBits->value();
    s.Layout.StatusBits = FStatusBits->value();
    // A polynomial or start value that is not a number is left invalid, so the check names it.
    if (!ParseNumber(FCrc->text(), s.Layout.CrcPolynomial)) {
        s.Layout.CrcPolynomial = 0;
    }
    if (!ParseNumber(FCrcStart->text(), s.Layout.CrcStart)) {
        s.Layout.CrcStart = 0xFFFFFFFFU;
    }
    s.Layout.CrcInverted = FCrcInverted->isChecked();
    s.Layout.Coding = FGray->isChecked() ? TPositionCoding::pcGray : TPositionCoding::pcBinary;
    s.Layout.Signed = FSigned->isChecked();
    s.ScaleText = FScale->text().trimmed().toStdString();
    return s;
}

void TViewWindow::OpenFile(const QString& file) {
    TLoadSettings s = SettingsFromPanel();
    s.File = file.toStdString();
    FSettingPanel = true;
    FFile->setText(file);
    FSettingPanel = false;
    StartLoad(s);
}

void TViewWindow::Open(const TLoadSettings& settings) {
    SetPanel(settings);
    StartLoad(settings);
}

void TViewWindow::SetJumpThreshold(double threshold) {
    FJump->setValue(threshold);
}

void TViewWindow::StartLoad(const TLoadSettings& settings) {
    if (settings.File.empty()) {
        return;
    }
    const std::string problem = CheckLoadSettings(settings);
    if (!problem.empty()) {
        ShowMessage(QString::fromStdString(problem));
        return;
    }
    // A load already running is cancelled; its result is dropped by its generation.
    FCancel->store(true);
    FCancel = std::make_shared<std::atomic<bool>>(false);
    FProgress = std::make_shared<TLoadProgress>();
    const unsigned generation = ++FGeneration;
    FLoading = true;
    FProgressBar->setValue(0);
    FProgressBar->show();
    FCancelButton->show();
    FProgressTimer->start();
    auto cancel = FCancel;
    auto progress = FProgress;
    QThreadPool::globalInstance()->start([this, settings, cancel, progress, generation] {
        auto loaded = std::make_shared<TLoadedCapture>();
        std::string error;
        const TLoadResult result = LoadCapture(settings, loaded->Capture, *progress, *cancel, error);
        if (result == TLoadResult::lrOk) {
            loaded->Envelope.Build(loaded->Capture.Store);
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, result, loaded, error] {
                FinishLoad(generation, result, loaded, QString::fromStdString(error));
            },
            Qt::QueuedConnection);
    });
}

void TViewWindow::FinishLoad(unsigned generation, TLoadResult result, std::shared_ptr<TLoadedCapture> loaded,
                             const QString& error) {
    if (generation != FGeneration) {
        return; // a later load replaced this one
    }
    FLoading = false;
    FProgressTimer->stop();
    FProgressBar->hide();
    FCancelButton->hide();
    if (result == TLoadResult::lrFailed) {
        ShowMessage(error);
        return;
    }
    if (result == TLoadResult::lrCancelled) {
        ShowMessage(FLoaded ? tr("Loading cancelled; the view shows the capture loaded before.")
                            : tr("Loading cancelled."));
        return;
    }
    ClearMessage();
    // The same file decoded again (another layout, scale or channels) keeps the frame chosen
    // and the stretch of the capture in view: its frames and times are the same ones.
    const bool again = FLoaded && FLoaded->Capture.Settings.File == loaded->Capture.Settings.File;
    const std::size_t keptFrame = again && FSelected ? *FSelected : SIZE_MAX;
    const TViewport keptView = FPlot->Scene().View;
    // The table and the plot let go of the old capture before it is freed.
    FModel->Clear();
    FPlot->SetCapture(nullptr, nullptr, {});
    FRecords.reset();
    FLoaded = std::move(loaded);
    FSelected.reset();
    const TCapture& capture = FLoaded->Capture;
    FRecords = std::make_unique<TRecordSource>(capture);
    const TCaptureStore* store = &capture.Store;
    TRecordSource* records = FRecords.get();
    FModel->SetRecords(records->Columns(), store->Size(),
                       [records](std::size_t i) { return records->Fields(i); },
                       [store](std::size_t i) { return store->Marks(i); });
    // The source (file and place) and the frame as read are shown whole; the rest keep the
    // header's width.
    for (int column = 0; column < std::min(2, FModel->columnCount()); ++column) {
        FTable->resizeColumnToContents(column);
    }
    // A marked frame's colour goes before the source's text, though the rows measured may have
    // no mark: room for it, so that the text is not cut on the rows that matter most.
    if (FModel->columnCount() > 0 && FModel->rowCount() > 0) {
        // What the mark adds to a cell, as the table's delegate lays mark and text out.
        QStyleOptionViewItem option;
        option.initFrom(FTable);
        option.font = FTable->font();
        const int icon = FTable->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, FTable);
        option.decorationSize = FTable->iconSize().isValid() ? FTable->iconSize() : QSize(icon, icon);
        option.features = QStyleOptionViewItem::HasDisplay;
        const QModelIndex first = FModel->index(0, 0);
        const int plain = FTable->itemDelegate()->sizeHint(option, first).width();
        option.features |= QStyleOptionViewItem::HasDecoration;
        const int marked = FTable->itemDelegate()->sizeHint(option, first).width();
        FTable->setColumnWidth(0, FTable->columnWidth(0) + std::max(0, marked - plain));
    }
    FPlot->SetCapture(store, &FLoaded->Envelope, capture.Scale);
    if (again) {
        TViewport view = FPlot->Scene().View; // the new values' range
        view.X0 = keptView.X0;
        view.X1 = keptView.X1;
        FPlot->SetView(view);
    }
    FPlot->SetJumpThreshold(FJump->value());
    FFrameView->Clear();
    // Lines of a frame of the capture before, read or still being read, are dropped.
    FLinesCancel->store(true);
    ++FLinesGeneration;
    FReadingLines = false;
    FSignalView->ShowText(capture.Store.HasTime() ? tr("Select a frame to see its lines MA and SLO.")
                                                  : tr("The lines MA and SLO of a frame show here for signal captures."));
    ShowCaptureDetails();
    if (FFormat->currentText() == QLatin1String("auto")) {
        FStatusBits->setToolTip(QString());
    }
    UpdateRecent(QString::fromStdString(capture.Settings.File));
    UpdateSummary();
    UpdateTitle();
    if (keptFrame != SIZE_MAX) {
        SelectFrame(keptFrame); // shown as the new layout decodes it
    }
}

void TViewWindow::SelectFrame(std::size_t i) {
    if (!FLoaded || i >= FLoaded->Capture.Store.Size()) {
        return;
    }
    FSelected = i;
    FPlot->SetSelected(i);
    if (i < static_cast<std::size_t>(FModel->rowCount())) {
        const QModelIndex index = FModel->index(static_cast<int>(i), 0);
        if (FTable->currentIndex().row() != index.row()) {
            FTable->setCurrentIndex(index);
        }
        FTable->scrollTo(index);
    }
    const TCapture& c = FLoaded->Capture;
    FFrameView->ShowFrame(c.Store, i, c.Settings.Layout, c.Scale);
    // The frame's text is never cut off: the lines below give way to it.
    const QList<int> sizes = FFrameSplit->sizes();
    const int wanted = FFrameView->sizeHint().height();
    if (sizes.size() == 2 && sizes[0] < wanted && sizes[0] + sizes[1] > wanted) {
        FFrameSplit->setSizes({wanted, sizes[0] + sizes[1] - wanted});
    }
    if (c.Store.HasTime()) {
        ReadFrameLines(i);
    }
}

void TViewWindow::ReadFrameLines(std::size_t i) {
    // A read still running for another frame is cancelled; its result is dropped.
    FLinesCancel->store(true);
    FLinesCancel = std::make_shared<std::atomic<bool>>(false);
    const unsigned generation = ++FLinesGeneration;
    FReadingLines = true;
    FSignalView->ShowText(tr("Reading the lines of burst %1\u2026").arg(FLoaded->Capture.Store.Line(i)));
    const TCaptureStore& store = FLoaded->Capture.Store;
    double from = 0.0;
    double to = 0.0;
    FrameWindowSpan(store, i, from, to);
    const double f0 = store.Time(i);
    const int bits = store.BitCount(i);
    const double clock = store.ClockHz(i);
    const double delay = store.LineDelay(i);
    if (!FLoaded->Lines) {
        FLoaded->Lines = std::make_shared<TSignalLines>(FLoaded->Capture);
    }
    std::shared_ptr<TSignalLines> lines = FLoaded->Lines;
    auto cancel = FLinesCancel;
    QThreadPool::globalInstance()->start([this, lines, cancel, generation, from, to, f0, bits, clock, delay] {
        auto window = std::make_shared<TSignalWindow>();
        std::string error;
        const TLoadResult result = lines->Read(from, to, *window, *cancel, error);
        if (result == TLoadResult::lrCancelled) {
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, result, window, error, f0, bits, clock, delay] {
                if (generation != FLinesGeneration) {
                    return;
                }
                FReadingLines = false;
                if (result == TLoadResult::lrOk) {
                    FSignalView->ShowWindow(*window, f0, bits, clock, delay);
                } else {
                    FSignalView->ShowText(QString::fromStdString(error));
                }
            },
            Qt::QueuedConnection);
    });
}

void TViewWindow::ShowCaptureDetails() {
    const TCapture& c = FLoaded->Capture;
    FSummaryText->setPlainText(QString::fromStdString(c.SummaryText));
    FRegisterTable->clear();
    FRegisterTable->setColumnCount(static_cast<int>(c.RegisterColumns.size()));
    QStringList titles;
    for (const std::string& column : c.RegisterColumns) {
        titles << QString::fromStdString(column);
    }
    FRegisterTable->setHorizontalHeaderLabels(titles);
    FRegisterTable->setRowCount(static_cast<int>(c.RegisterRows.size()));
    for (std::size_t r = 0; r < c.RegisterRows.size(); ++r) {
        const auto& row = c.RegisterRows[r];
        for (std::size_t k = 0; k < row.size() && k < c.RegisterColumns.size(); ++k) {
            const QString field = QString::fromStdString(row[k]);
            auto* item = new QTableWidgetItem(field);
            if (c.RegisterColumns[k] == "source") {
                // Every access comes from the one file: its name, as the records show it, keeps
                // the columns after it in view; the tooltip has the whole path.
                item->setText(QFileInfo(field).fileName());
                item->setToolTip(field);
            }
            FRegisterTable->setItem(static_cast<int>(r), static_cast<int>(k), item);
        }
    }
    FRegisterTable->resizeColumnsToContents();
    if (!c.Store.HasTime()) {
        FRegisterMap->setPlainText(tr("Register traffic is read from the CDM and CDS bits of signal captures."));
    } else if (c.RegisterRows.empty()) {
        FRegisterMap->setPlainText(tr("No register accesses in the capture."));
    } else {
        FRegisterMap->setPlainText(QString::fromStdString(c.RegisterMapText));
    }
}

void TViewWindow::GoToMark(bool forward, std::uint8_t mask) {
    if (!FLoaded) {
        return;
    }
    const TCaptureStore& store = FLoaded->Capture.Store;
    const std::size_t from = FSelected ? *FSelected : (forward ? SIZE_MAX : store.Size());
    const std::size_t found =
        FindMarkedFrame(store.Size(), from, forward, mask, [&store](std::size_t i) { return store.Marks(i); });
    if (found == SIZE_MAX) {
        statusBar()->showMessage(tr("No more such frames."), 3000);
        return;
    }
    SelectFrame(found);
}

void TViewWindow::ShowMessage(const QString& text) {
    FMessage->setText(text);
    FMessageBar->show();
}

void TViewWindow::ClearMessage() {
    FMessage->clear();
    FMessageBar->hide();
}

QString TViewWindow::Message() const {
    return FMessageBar->isHidden() ? QString() : FMessage->text();
}

void TViewWindow::UpdateSummary() {
    if (!FLoaded) {
        FSummary->setText(tr("No capture loaded.\n\nOpen one with File \u2192 Open (Ctrl+O) or drop a file on "
                             "the window."));
        return;
    }
    const TCapture& c = FLoaded->Capture;
    const TCaptureTotals& t = c.Store.Totals();
    QString text = tr("<b>%1</b><br>format %2<br>").arg(QFileInfo(QString::fromStdString(c.Settings.File)).fileName().toHtmlEscaped(),
                                                       QString::fromStdString(c.FormatName));
    text += tr("frames %1<br>decoded %2<br>CRC OK %3<br>CRC errors %4<br>error flags %5<br>warning flags %6<br>"
               "invalid input %7<br>no start bit %8<br>cut %9")
                .arg(Count(t.Frames), Count(t.Decoded), Count(t.CrcOk), Count(t.CrcErrors), Count(t.Errors),
                     Count(t.Warnings), Count(t.InvalidInput), Count(t.NoStartBit), Count(t.Cut));
    if (t.Decoded > 0) {
        const QString unit = c.Scale.Enabled ? QString::fromStdString(c.Scale.Unit).toHtmlEscaped() : QString();
        double lo = PlotValue(c.Scale, t.Minimum);
        double hi = PlotValue(c.Scale, t.Maximum);
        if (lo > hi) {
            std::swap(lo, hi);
        }
        text += tr("<br>range %1 to %2 %3").arg(lo, 0, 'g', 12).arg(hi, 0, 'g', 12).arg(unit);
    }
    FSummary->setText(text);
}

void TViewWindow::UpdateTitle() {
    if (FLoaded) {
        setWindowTitle(tr("%1 \u2014 corvane-view")
                           .arg(QFileInfo(QString::fromStdString(FLoaded->Capture.Settings.File)).fileName()));
    } else {
        setWindowTitle(tr("corvane-view"));
    }
}

void TViewWindow::UpdateRecent(const QString& file) {
    QSettings settings;
    QStringList recent = settings.value(QStringLiteral("view/recent")).toStringList();
    const QString path = QFileInfo(file).absoluteFilePath();
    recent.removeAll(path);
    recent.prepend(path);
    while (recent.size() > MaxRecent) {
        recent.removeLast();
    }
    settings.setValue(QStringLiteral("view/recent"), recent);
    RebuildRecentMenu();
}

void TViewWindow::RebuildRecentMenu() {
    FRecentMenu->clear();
    const QStringList recent = QSettings().value(QStringLiteral("view/recent")).toStringList();
    for (const QString& file : recent) {
        FRecentMenu->addAction(file, this, [this, file] { OpenFile(file); });
    }
    FRecentMenu->setEnabled(!recent.isEmpty());
}

QString TViewWindow::StartFolder() const {
    // Captures of one session usually lie together: the folder of the capture shown, else of
    // the one opened last.
    QString file = FLoaded ? QString::fromStdString(FLoaded->Capture.Settings.File) : QString();
    if (file.isEmpty()) {
        file = QSettings().value(QStringLiteral("view/recent")).toStringList().value(0);
    }
    return file.isEmpty() ? QString() : QFileInfo(file).absolutePath();
}

QString TViewWindow::StartPath(const QString& name) const {
    const QString folder = StartFolder();
    return folder.isEmpty() ? name : QDir(folder).filePath(name);
}

void TViewWindow::ShowChoose() {
    const QString file = QFileDialog::getOpenFileName(
        this, tr("Open Capture"), StartFolder(),
        tr("Captures (*.txt *.csv *.tsv *.hex *.bin *.log *.sr *.vcd);;All files (*)"));
    if (!file.isEmpty()) {
        OpenFile(file);
    }
}

void TViewWindow::ShowChooseFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Open Capture Folder"), StartFolder());
    if (!folder.isEmpty()) {
        OpenFile(folder);
    }
}

void TViewWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !event->mimeData()->urls().isEmpty() &&
        event->mimeData()->urls().first().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void TViewWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) {
        OpenFile(urls.first().toLocalFile());
        event->acceptProposedAction();
    }
}

void TViewWindow::ExportPlotDialog() {
    if (!FLoaded) {
        ShowMessage(tr("No capture loaded: nothing to export."));
        return;
    }
    const QString pngFilter = tr("PNG image (*.png)");
    const QString svgFilter = tr("SVG drawing (*.svg)");
    QString filter;
    QString path = QFileDialog::getSaveFileName(this, tr("Export Plot"), StartPath(QStringLiteral("plot.png")),
                                                pngFilter + QStringLiteral(";;") + svgFilter, &filter);
    if (path.isEmpty()) {
        return;
    }
    // A name typed without its type gets the one of the filter chosen.
    if (QFileInfo(path).suffix().isEmpty()) {
        path += filter == svgFilter ? QStringLiteral(".svg") : QStringLiteral(".png");
    }
    QString error;
    TPlotScene scene = FPlot->Scene();
    scene.CursorX.reset();
    if (!ExportPlot(scene, path, FPlot->size() * FPlot->devicePixelRatioF(), FPlot->palette(), error)) {
        ShowMessage(error);
    }
}

void TViewWindow::ExportCsvDialog() {
    if (!FRecords) {
        ShowMessage(tr("No capture loaded: nothing to export."));
        return;
    }
    QString path =
        QFileDialog::getSaveFileName(this, tr("Export Records"), StartPath(QStringLiteral("records.csv")), tr("CSV (*.csv)"));
    if (path.isEmpty()) {
        return;
    }
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".csv");
    }
    ExportRecords(path);
}

void TViewWindow::ExportRecords(const QString& path) {
    if (!FLoaded) {
        ShowMessage(tr("No capture loaded: nothing to export."));
        return;
    }
    if (FExportingRecords) {
        statusBar()->showMessage(tr("The records are still being written: try again when they are."), 5000);
        return;
    }
    // Millions of records take seconds: they are written in the background from the capture
    // shown now, which the job keeps even if another is opened meanwhile.
    FExportingRecords = true;
    statusBar()->showMessage(tr("Writing the records to %1\u2026").arg(QDir::toNativeSeparators(path)));
    std::shared_ptr<const TLoadedCapture> loaded = FLoaded;
    QThreadPool::globalInstance()->start([this, loaded, path] {
        std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
        const bool written = out && TRecordSource(loaded->Capture).WriteCsv(out);
        const auto count = static_cast<qulonglong>(loaded->Capture.Store.Size());
        QMetaObject::invokeMethod(
            this,
            [this, written, count, path] {
                FExportingRecords = false;
                if (written) {
                    statusBar()->showMessage(tr("Wrote %L1 records to %2").arg(count).arg(QDir::toNativeSeparators(path)),
                                             10000);
                } else {
                    statusBar()->clearMessage();
                    ShowMessage(tr("%1: cannot write the records").arg(path));
                }
            },
            Qt::QueuedConnection);
    });
}

void TViewWindow::FindLayout() {
    if (!FLoaded) {
        ShowMessage(tr("Open a capture first: the layout is found from its frames."));
        return;
    }
    if (FLoading) {
        // One job at a time; say why nothing happens rather than ignore the command.
        statusBar()->showMessage(tr("Find Layout waits for the capture being read: try again when it is loaded."), 5000);
        return;
    }
    // The scan tries hundreds of layouts on every frame: in the background, like a load,
    // and cancelled by the same button.
    FCancel = std::make_shared<std::atomic<bool>>(false);
    const unsigned generation = ++FGeneration;
    FLoading = true;
    FProgressBar->setRange(0, 0);
    FProgressBar->setFormat(tr("Finding the layout"));
    FProgressBar->show();
    FCancelButton->show();
    auto loaded = FLoaded;
    auto cancel = FCancel;
    QThreadPool::globalInstance()->start([this, loaded, cancel, generation] {
        auto candidates = std::make_shared<std::vector<TLayoutCandidate>>(ScanLayouts(loaded->Capture, 10, *cancel));
        const bool cancelled = cancel->load();
        QMetaObject::invokeMethod(
            this,
            [this, generation, candidates, cancelled] {
                if (generation != FGeneration) {
                    return;
                }
                FLoading = false;
                FProgressBar->hide();
                FCancelButton->hide();
                if (!cancelled) {
                    ShowCandidates(*candidates);
                }
            },
            Qt::QueuedConnection);
    });
}

void TViewWindow::ShowCandidates(const std::vector<TLayoutCandidate>& candidates) {
    if (candidates.empty()) {
        ShowMessage(tr("No layout found under which a frame passes its CRC."));
        return;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Find Layout"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(tr("Layouts under which frames pass, most first (position bits with 2 status "
                                    "bits and no multi-turn bits):")));
    auto* list = new QListWidget;
    list->setAccessibleName(tr("Layout candidates"));
    const auto frames = FLoaded->Capture.Store.Size();
    for (const TLayoutCandidate& c : candidates) {
        list->addItem(tr("%1 bits, CRC %2 %3, start %4: %5 of %6 frames")
                          .arg(c.PositionBits)
                          .arg(Hex(c.Crc), c.CrcInverted ? tr("inverted") : tr("not inverted"), Hex(c.CrcStart))
                          .arg(Count(c.Passed), Count(frames)));
    }
    list->setCurrentRow(0);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Apply | QDialogButtonBox::Cancel);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    // Return takes the highlighted candidate, as a double click does; set once the button is
    // in the dialog, which would otherwise make the first button after the list (Cancel) its
    // default.
    buttons->button(QDialogButtonBox::Apply)->setDefault(true);
    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) {
        return;
    }
    const TLayoutCandidate& chosen = candidates[static_cast<std::size_t>(list->currentRow())];
    TLoadSettings s = SettingsFromPanel();
    s.Layout.MultiTurnBits = 0;
    s.Layout.PositionBits = chosen.PositionBits;
    s.Layout.StatusBits = 2;
    s.Layout.CrcPolynomial = chosen.Crc;
    s.Layout.CrcStart = chosen.CrcStart;
    s.Layout.CrcInverted = chosen.CrcInverted;
    SetPanel(s);
    StartLoad(s);
}
