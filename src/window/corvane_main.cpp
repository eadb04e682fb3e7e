// Entry point of Corvane: one window, run until the user closes it.
#include "window/application.h"
#include "window/main.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Said instead of Qt's advice to reinstall the program and its abort, when no window system
// can be reached.
void ReportNoDisplay(const QByteArray& reason) {
    std::fprintf(stderr,
                 "Corvane: cannot open its window: %s.\n"
                 "Start Corvane in a desktop session, or under a virtual display:\n"
                 "    xvfb-run Corvane\n"
                 "(xvfb-run comes with the Debian package xvfb).\n",
                 reason.constData());
}

// A window system to connect to is named: an X or Wayland display, or a platform chosen with
// QT_QPA_PLATFORM or Qt's -platform argument (offscreen, vnc, ...).
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

// What could not be started, from the environment Qt chose it by.
QByteArray UnreachableDisplay() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        return "the window system \"" + qgetenv("QT_QPA_PLATFORM") + "\" could not be started";
    }
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        return "the display \"" + qgetenv("DISPLAY") + "\" cannot be reached";
    }
    return "the Wayland display \"" + qgetenv("WAYLAND_DISPLAY") + "\" cannot be reached";
}

QtMessageHandler QtHandler = nullptr;

// Installed while the application object is made. Qt ends the program with a fatal message
// when its window-system plugin cannot connect (a display that is named but not running);
// that message is replaced by the program's own, and the program ends with status 1 instead
// of aborting. Every other message goes to Qt's handler as usual.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type == QtFatalMsg) {
        ReportNoDisplay(UnreachableDisplay());
        std::_Exit(1);
    }
    QtHandler(type, context, message);
}

} // namespace

int main(int argc, char* argv[]) {
    if (!DisplayNamed(argc, argv)) {
        ReportNoDisplay("no display is set (neither DISPLAY nor WAYLAND_DISPLAY)");
        return 1;
    }
    QtHandler = qInstallMessageHandler(StartupMessageHandler);
    TApplication application(argc, argv);
    qInstallMessageHandler(QtHandler);

    TForm1 form;
    form.show();
    return application.exec();
}
