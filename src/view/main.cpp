// corvane-view: the window, or with --export-plot the plot of a capture written to a file
// without a window.
#include "view/captureloader.h"
#include "view/envelope.h"
#include "view/plotexport.h"
#include "view/recordtable.h"
#include "view/viewwindow.h"

#include <QApplication>
#include <QEventLoop>
#include <QIcon>
#include <QPalette>
#include <QScreen>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const UsageText =
    "Usage: corvane-view [LAYOUT OPTIONS] [FILE]\n"
    "  or:  corvane-view --export-plot OUT.png|OUT.svg [--size WxH] [LAYOUT OPTIONS] FILE\n"
    "\n"
    "Shows a capture of BiSS-C frames: the position against time or frame number, the records\n"
    "and each frame's bits. The layout, scale and input options are corvane-decode's:\n"
    "-n/--length, --multiturn, --status-bits, --crc, --crc-start, --crc-not-inverted, --gray,\n"
    "--signed, --scale NUM/DEN[:UNIT], --input, --column, --frame-bytes, --clock, --data.\n"
    "FILE may be a folder (a binary export of one file per channel).\n"
    "\n"
    "  --export-plot OUT  write the plot of the whole capture as PNG or SVG and exit\n"
    "  --size WxH         the size of the exported plot in pixels (default 1200x600)\n"
    "  --jump-threshold X\n"
    "                     mark steps between frames larger than X plotted units\n"
    "  --screenshot OUT   open the window, load FILE, save a picture of the window and exit\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n";

struct TViewArguments {
    QString ExportPlot;
    QString Screenshot;
    QSize Size{1200, 600};
    double JumpThreshold = 0.0;
    std::vector<std::string> Rest; // corvane-decode's options and the file
};

// Takes the view's own options out of `args`; false with `error` for a bad one.
bool SplitArguments(const std::vector<std::string>& args, TViewArguments& out, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name, QString& target) {
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return false;
            }
            target = QString::fromStdString(args[++i]);
            return true;
        };
        if (a == "--export-plot") {
            if (!value("--export-plot", out.ExportPlot)) {
                return false;
            }
        } else if (a == "--screenshot") {
            if (!value("--screenshot", out.Screenshot)) {
                return false;
            }
        } else if (a == "--size") {
            QString size;
            if (!value("--size", size)) {
                return false;
            }
            if (!ParsePlotSize(size, out.Size)) {
                error = "--size: give WxH, each from 16 to 16384, e.g. 1200x600";
                return false;
            }
        } else if (a == "--jump-threshold") {
            QString threshold;
            if (!value("--jump-threshold", threshold)) {
                return false;
            }
            bool ok = false;
            out.JumpThreshold = threshold.toDouble(&ok);
            if (!ok || !(out.JumpThreshold >= 0) || !std::isfinite(out.JumpThreshold)) {
                error = "--jump-threshold: give a number of plotted units, 0 or more";
                return false;
            }
        } else {
            out.Rest.push_back(a);
        }
    }
    return true;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "corvane-view: %s\n", message.c_str());
    return 2;
}

int RunExport(const TViewArguments& arguments) {
    TLoadSettings settings;
    std::string error;
    if (!ParseLoadArguments(arguments.Rest, settings, error)) {
        return Fail(error);
    }
    settings.OptionTerms = true; // no window: the options given are what to name
    TCapture capture;
    TLoadProgress progress;
    const std::atomic<bool> cancel{false};
    if (LoadCapture(settings, capture, progress, cancel, error) != TLoadResult::lrOk) {
        return Fail(error);
    }
    TEnvelope envelope;
    envelope.Build(capture.Store);
    TPlotScene scene;
    scene.Store = &capture.Store;
    scene.Envelope = &envelope;
    scene.Scale = capture.Scale;
    scene.View = FitScene(capture.Store, capture.Scale);
    scene.JumpThreshold = arguments.JumpThreshold;
    // A light page whatever the desktop's colours: exported pictures go into documents.
    QPalette palette;
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0x30, 0x8C, 0xC6));
    QString message;
    if (!ExportPlot(scene, arguments.ExportPlot, arguments.Size, palette, message)) {
        return Fail(message.toStdString());
    }
    return 0;
}

} // namespace

QtMessageHandler QtHandler = nullptr;

// Installed while the application object is made: Qt ends the program with a fatal message
// when its window-system plugin cannot connect (a display that is named but not running); the
// program says so in its own words and ends with status 1 instead of aborting.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        std::fputs("corvane-view: the window cannot open: the display cannot be reached.\nRun it in a "
                   "desktop session or under a virtual display (xvfb-run corvane-view FILE); "
                   "--export-plot writes a plot without one.\n",
                   stderr);
        std::_Exit(1);
    }
    QtHandler(type, context, message);
}

// A window system to connect to is named: an X or Wayland display, or a platform chosen with
// QT_QPA_PLATFORM or Qt's -platform argument. Without one Qt would abort with its own message.
bool DisplayNamed(int argc, char** argv) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(name)) {
            return true;
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return true;
        }
    }
    return false;
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "-h" || a == "--help") {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("corvane-view (Corvane) %s\n", CORVANE_VERSION);
            return 0;
        }
    }
    TViewArguments arguments;
    std::string error;
    if (!SplitArguments(args, arguments, error)) {
        return Fail(error);
    }
    const bool headless = !arguments.ExportPlot.isEmpty();
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        // Writing a file needs no screen: it works over SSH and in scripts.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (!headless && !DisplayNamed(argc, argv)) {
        std::fputs("corvane-view: no display is set (neither DISPLAY nor WAYLAND_DISPLAY), so the window "
                   "cannot open.\nRun it in a desktop session or under a virtual display (xvfb-run "
                   "corvane-view FILE); --export-plot writes a plot without one.\n",
                   stderr);
        return 1;
    }
    QtHandler = qInstallMessageHandler(StartupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(QtHandler);
    QApplication::setOrganizationName(QStringLiteral("Corvane"));
    QApplication::setApplicationName(QStringLiteral("corvane-view"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(CORVANE_VIEW_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/corvane-view.png")));
    if (headless) {
        return RunExport(arguments);
    }

    TLoadSettings settings;
    if (!arguments.Rest.empty() && !ParseLoadArguments(arguments.Rest, settings, error)) {
        return Fail(error);
    }
    TViewWindow window;
    window.show();
    window.SetJumpThreshold(arguments.JumpThreshold);
    if (!settings.File.empty()) {
        window.Open(settings);
    }
    if (!arguments.Screenshot.isEmpty()) {
        // Wait for the load, select a frame with a flag or the first, then take the picture.
        QTimer poll;
        QEventLoop loop;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!window.IsLoading()) {
                loop.quit();
            }
        });
        poll.start(100);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        if (window.Loaded() != nullptr && window.Loaded()->Capture.Store.Size() > 0) {
            const TCaptureStore& store = window.Loaded()->Capture.Store;
            const std::size_t error = FindMarkedFrame(store.Size(), SIZE_MAX, true, fmCrcError,
                                                      [&store](std::size_t i) { return store.Marks(i); });
            window.SelectFrame(error != SIZE_MAX ? error : 0);
        }
        // A signal capture's frame has its lines read again in the background: wait for them.
        QTimer lines;
        QEventLoop linesLoop;
        QObject::connect(&lines, &QTimer::timeout, &linesLoop, [&] {
            if (!window.IsReadingLines()) {
                linesLoop.quit();
            }
        });
        lines.start(50);
        QTimer::singleShot(30000, &linesLoop, &QEventLoop::quit);
        linesLoop.exec();
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
        if (!window.grab().save(arguments.Screenshot)) {
            return Fail(arguments.Screenshot.toStdString() + ": cannot write");
        }
        return 0;
    }
    return QApplication::exec();
}
