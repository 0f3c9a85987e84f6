#include "DesktopSession.h"

#include <QGuiApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

// The capture suites run on a desktop of their own: windows, activation and
// stacking are what they check, and another suite's windows on a shared
// display would change all three.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;

    // Without Xvfb the suites skip themselves. (The desktop outlives the application object.)
    std::optional<nimbel::test::PrivateDesktop> desktop;
    if (listing || !desktop.emplace().start())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("nimbel-tests"));
    QCoreApplication::setApplicationName(QStringLiteral("nimbel-tests"));
    return RUN_ALL_TESTS();
}
