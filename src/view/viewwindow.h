// The main window of corvane-view: the side panel with the input and layout settings, the
// plot, the records and the selected frame, with loading in the background.
#pragma once

#include "view/capturemodel.h"
#include "view/captureloader.h"
#include "view/envelope.h"

#include <QMainWindow>

#include <atomic>
#include <memory>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QPlainTextEdit;
class QSplitter;
class QTableView;
class QTableWidget;
class QTabWidget;
class QTimer;
class TFrameView;
class TPlotWidget;
class TRecordTableModel;
class TSignalView;

// A capture with its envelope, as a load delivers it.
struct TLoadedCapture {
    TCapture Capture;
    TEnvelope Envelope;
    // A signal capture's lines, read again for the selected frames (made at the first).
    std::shared_ptr<TSignalLines> Lines;
};

class TViewWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit TViewWindow(QWidget* parent = nullptr);
    ~TViewWindow() override;

    // Starts loading `file` with the side panel's settings.
    void OpenFile(const QString& file);
    // Puts `settings` into the side panel and loads its file.
    void Open(const TLoadSettings& settings);
    // The jump threshold of the side panel, in plotted units (0: off).
    void SetJumpThreshold(double threshold);
    // Whether a load is running.
    bool IsLoading() const { return FLoading; }
    const TLoadedCapture* Loaded() const { return FLoaded.get(); }
    QString Message() const;
    TPlotWidget* Plot() const { return FPlot; }
    QTableView* Table() const { return FTable; }
    TFrameView* FrameView() const { return FFrameView; }
    TSignalView* SignalView() const { return FSignalView; }
    // The register accesses of a signal capture's control channel, one row each.
    QTableWidget* RegisterTable() const { return FRegisterTable; }
    QPlainTextEdit* SummaryText() const { return FSummaryText; }
    // Whether the lines of the selected frame are being read.
    bool IsReadingLines() const { return FReadingLines; }
    // Selects frame i in the plot, the table and the frame view.
    void SelectFrame(std::size_t i);
    // Writes the records of the capture shown to `path` as CSV in the background; the status
    // bar says when they are written, the message bar why not.
    void ExportRecords(const QString& path);
    bool IsExportingRecords() const { return FExportingRecords; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildActions();
    QWidget* BuildSidePanel();
    TLoadSettings SettingsFromPanel() const;
    void SetPanel(const TLoadSettings& settings);
    void StartLoad(const TLoadSettings& settings);
    void FinishLoad(unsigned generation, TLoadResult result, std::shared_ptr<TLoadedCapture> loaded,
                    const QString& error);
    void ShowMessage(const QString& text);
    void ClearMessage();
    void UpdateSummary();
    void UpdateRecent(const QString& file);
    void RebuildRecentMenu();
    // The folder the open dialogs start in.
    QString StartFolder() const;
    // `name` in StartFolder(), where a save dialog starts.
    QString StartPath(const QString& name) const;
    void ShowChoose();
    void ShowChooseFolder();
    // Reads the lines of frame i of a signal capture in the background for the signal view.
    void ReadFrameLines(std::size_t i);
    void ShowCaptureDetails();
    void ExportPlotDialog();
    void ExportCsvDialog();
    void FindLayout();
    void ShowCandidates(const std::vector<TLayoutCandidate>& candidates);
    void GoToMark(bool forward, std::uint8_t mask);
    void PanelChanged();
    void UpdateTitle();

    std::shared_ptr<TLoadedCapture> FLoaded;
    std::unique_ptr<TRecordSource> FRecords;
    std::shared_ptr<std::atomic<bool>> FCancel;
    std::shared_ptr<TLoadProgress> FProgress;
    unsigned FGeneration = 0;
    bool FLoading = false;
    std::optional<std::size_t> FSelected;

    TPlotWidget* FPlot = nullptr;
    QTableView* FTable = nullptr;
    TRecordTableModel* FModel = nullptr;
    TFrameView* FFrameView = nullptr;
    TSignalView* FSignalView = nullptr;
    QSplitter* FFrameSplit = nullptr;
    QTabWidget* FTabs = nullptr;
    QPlainTextEdit* FSummaryText = nullptr;
    QTableWidget* FRegisterTable = nullptr;
    QPlainTextEdit* FRegisterMap = nullptr;
    bool FExportingRecords = false;
    unsigned FLinesGeneration = 0;
    bool FReadingLines = false;
    std::shared_ptr<std::atomic<bool>> FLinesCancel;
    QSplitter* FMainSplit = nullptr;
    QSplitter* FRightSplit = nullptr;
    QSplitter* FBottomSplit = nullptr;
    QLabel* FMessage = nullptr;
    QWidget* FMessageBar = nullptr;
    QLabel* FSummary = nullptr;
    QLabel* FCursor = nullptr;
    QProgressBar* FProgressBar = nullptr;
    QPushButton* FCancelButton = nullptr;
    QTimer* FProgressTimer = nullptr;
    QTimer* FPanelTimer = nullptr;
    QMenu* FRecentMenu = nullptr;

    QLineEdit* FFile = nullptr;
    QComboBox* FFormat = nullptr;
    QLineEdit* FColumn = nullptr;
    QLineEdit* FClock = nullptr;
    QLineEdit* FData = nullptr;
    QSpinBox* FFrameBytes = nullptr;
    QSpinBox* FMultiTurn = nullptr;
    QSpinBox* FPositionBits = nullptr;
    QSpinBox* FStatusBits = nullptr;
    QLineEdit* FCrc = nullptr;
    QLineEdit* FCrcStart = nullptr;
    QCheckBox* FCrcInverted = nullptr;
    QCheckBox* FGray = nullptr;
    QCheckBox* FSigned = nullptr;
    QLineEdit* FScale = nullptr;
    QDoubleSpinBox* FJump = nullptr;
    bool FSettingPanel = false;
};
