// The application object: name, version and fonts of the program, and the one place where an
// error that escapes an event handler is reported to the user.
#pragma once

#include <QApplication>
#include <QString>

class TApplication : public QApplication {
    Q_OBJECT

public:
    // Sets the application's name, version and desktop file name and loads the Tahoma faces.
    TApplication(int& argc, char** argv);

    // Delivers the event; a std::exception (or anything else) thrown by its handler is shown
    // in the error report, the handler is abandoned and the program carries on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the error report: a modal critical message box with one OK button, captioned with the
// application title, holding ErrorReportText(message). Returns when the user closes it.
void ShowErrorReport(const QString& message);

// Adds the Tahoma and Tahoma Bold faces of Wine's fonts to the application when the system
// lacks Tahoma; silently does nothing when the files are missing.
void LoadTahomaFonts();
