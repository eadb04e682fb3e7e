// The tests draw with QPainter and build widgets: one application object for all of them, on
// the offscreen platform unless another was asked for.
#include <QApplication>
#include <QSettings>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // Settings of the tests stay apart from a user's.
    QApplication::setOrganizationName(QStringLiteral("CorvaneTests"));
    QApplication::setApplicationName(QStringLiteral("view_tests"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    return RUN_ALL_TESTS();
}
