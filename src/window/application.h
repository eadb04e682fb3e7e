// The application object: name, version and fonts of the program, and the one place where an
// error that escapes an event handler is reported to the user.
#pragma once

#include <QApplication>
#include <QString>

// Where Debian's fonts-wine puts Wine's metric-compatible Tahoma faces.
inline QString WineFontFolder() {
    return QStringLiteral("/usr/share/wine/fonts");
}

class TApplication : public QApplication {
    Q_OBJECT

public:
    // Sets the application's name, version and desktop file name and loads the Tahoma faces
    // from `fontFolder` (see LoadTahomaFonts).
    TApplication(int& argc, char** argv, const QString& fontFolder = WineFontFolder());

    // Delivers the event; a std::exception (or anything else) thrown by its handler is shown
    // in the error report, the handler is abandoned and the program carries on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the error report: a modal critical message box with one OK button, captioned with the
// application title, holding ErrorReportText(message). Returns when the user closes it.
void ShowErrorReport(const QString& message);

// Adds the Tahoma and Tahoma Bold faces (tahoma.ttf, tahomabd.ttf) in `folder` to the
// application when the system lacks Tahoma; silently does nothing when the files are missing,
// and the window then lays itself out in the system's fallback font.
void LoadTahomaFonts(const QString& folder);
