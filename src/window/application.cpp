#include "window/application.h"

#include "window/windowmath.h"

#include <QFile>
#include <QFontDatabase>
#include <QMessageBox>
#include <QWidget>

#include <exception>

#ifndef CORVANE_PRODUCT_NAME
#error "CORVANE_PRODUCT_NAME must be defined by the build"
#endif
#ifndef CORVANE_VERSION
#error "CORVANE_VERSION must be defined by the build"
#endif
#ifndef CORVANE_APP_ID
#error "CORVANE_APP_ID must be defined by the build"
#endif

TApplication::TApplication(int& argc, char** argv, const QString& fontFolder)
    : QApplication(argc, argv) {
    setApplicationName(QStringLiteral(CORVANE_PRODUCT_NAME));
    setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    setDesktopFileName(QStringLiteral(CORVANE_APP_ID));
    LoadTahomaFonts(fontFolder);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowErrorReport(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowErrorReport(QStringLiteral("Unknown error"));
    }
    // The error has been reported: the event counts as handled, so nobody acts on it twice.
    return true;
}

void ShowErrorReport(const QString& message) {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(QCoreApplication::applicationFilePath()),
                    ErrorReportText(message), QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void LoadTahomaFonts(const QString& folder) {
    if (QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) {
        return;
    }
    for (const QString& name : {QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf")}) {
        const QString file = folder + u'/' + name;
        if (QFile::exists(file)) {
            QFontDatabase::addApplicationFont(file);
        }
    }
}
