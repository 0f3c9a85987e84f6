#pragma once

#include "DesktopSession.h"

#include "screen/linux/DesktopEntryIndex.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace nimbel::test {

// Two installed applications, "Red Sample" and "Blue Sample", whose desktop
// files name their windows' WM_CLASS, and a tiny-window one.
class CaptureFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveDesktop())
            GTEST_SKIP() << "needs Xvfb and openbox";
        ASSERT_TRUE(m_data.isValid());
        const QString apps = m_data.path() + QStringLiteral("/applications");
        QDir().mkpath(apps);
        install(apps + "/org.nimbel.test.Red.desktop",
                "[Desktop Entry]\nType=Application\nName=Red Sample\nName[ru]=Красный образец\n"
                "StartupWMClass=RedSample\nExec=red-sample\n");
        install(apps + "/org.nimbel.test.Blue.desktop",
                "[Desktop Entry]\nType=Application\nName=Blue Sample\nStartupWMClass=BlueSample\nExec=blue-sample\n");
        install(apps + "/tiny.desktop", "[Desktop Entry]\nType=Application\nName=Tiny Sample\nExec=tiny\n");
        entries = std::make_shared<DesktopEntryIndex>(QStringList{apps}, QStringList{QStringLiteral("ru")});
        // The pointer waits in a corner that no test window covers.
        ASSERT_TRUE(run(QStringLiteral("xdotool"), {"mousemove", "1900", "1060"}));
    }

    static SampleApplication::Options red(QRect geometry = {100, 100, 400, 300})
    {
        return {QStringLiteral("redsample"), QStringLiteral("RedSample"), QStringLiteral("Red document"),
                QColor(255, 0, 0), geometry};
    }
    static SampleApplication::Options blue(QRect geometry = {700, 200, 500, 350})
    {
        return {QStringLiteral("bluesample"), QStringLiteral("BlueSample"), QStringLiteral("Blue document"),
                QColor(0, 0, 255), geometry};
    }

    static bool activate(quint32 window)
    {
        return run(QStringLiteral("xdotool"), {"windowactivate", "--sync", QString::number(window)});
    }

    std::shared_ptr<DesktopEntryIndex> entries;

private:
    static void install(const QString &path, const QByteArray &content)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QTemporaryDir m_data;
};

} // namespace nimbel::test
