#include <QGuiApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

// Every suite runs inside a Qt application object so that event loops,
// timers and networking work; windows are drawn only where a display exists.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("nimbel-tests"));
    QCoreApplication::setApplicationName(QStringLiteral("nimbel-tests"));
    return RUN_ALL_TESTS();
}
