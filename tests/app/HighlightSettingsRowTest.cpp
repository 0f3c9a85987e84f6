// The settings row of the highlight, as the owner uses it: the switch keeps
// the choice in the preferences store, and is disabled (saying why) where the
// desktop cannot show a highlight.
#include "app/HighlightSettings.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace nimbel;

namespace {

struct Row
{
    QQmlEngine engine;
    QQuickWindow window;
    std::unique_ptr<QQuickItem> item;
    QQuickItem *toggle = nullptr;
};

void load(Row &row)
{
    row.engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QQmlComponent component(&row.engine);
    component.setData("import QtQuick\nimport Nimbel.Ui\nHighlightSettingsRow { width: 360 }", QUrl());
    row.item.reset(qobject_cast<QQuickItem *>(component.create()));
    ASSERT_TRUE(row.item) << component.errorString().toStdString();
    row.item->setParentItem(row.window.contentItem());
    row.window.resize(400, 120);
    row.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row.window));
    row.toggle = row.item->findChild<QQuickItem *>(QStringLiteral("highlightSwitch"));
    ASSERT_NE(row.toggle, nullptr);
}

} // namespace

TEST(HighlightSettingsRow, TheSwitchKeepsTheOwnersChoiceAndSaysWhyWhenItCannotWork)
{
    QTemporaryDir home;
    QSettings file(home.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat);
    PreferencesStore preferences(&file);
    {
        HighlightSettings settings(preferences, true);
        HighlightSettings::setInstance(&settings);
        Row row;
        ASSERT_NO_FATAL_FAILURE(load(row));
        EXPECT_TRUE(row.toggle->property("checked").toBool()) << "on unless switched off";
        const QPointF centre = row.toggle->mapToScene(QPointF(row.toggle->width() / 2, row.toggle->height() / 2));
        QTest::mouseClick(&row.window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        EXPECT_FALSE(settings.isEnabled());
        EXPECT_EQ(preferences.boolean(keys::screenHighlightEnabled), false);
        HighlightSettings::setInstance(nullptr);
    }
    {
        HighlightSettings later(preferences, false);
        EXPECT_FALSE(later.isEnabled()) << "the choice outlives the run";
        HighlightSettings::setInstance(&later);
        Row row;
        ASSERT_NO_FATAL_FAILURE(load(row));
        EXPECT_FALSE(row.toggle->isEnabled());
        EXPECT_FALSE(later.unavailableReason().isEmpty());
        HighlightSettings::setInstance(nullptr);
    }
}
