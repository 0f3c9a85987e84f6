// The walk over real applications on the session's accessibility bus: a Qt
// window, a GTK dialog, a large tree, and applications that answer slowly or
// not at all. Run inside scripts/with-session.
#include "AccessibilityTestSession.h"

#include "screen/linux/AtspiAccessibilityContextService.h"
#include "support/LogCapture.h"

#include <QCoro/QCoroTask>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

using namespace nimbel;

namespace {

bool hasLabel(const AccessibilityContext &context, const QString &label)
{
    return std::any_of(context.elements.begin(), context.elements.end(),
                       [&](const auto &element) { return element.label == label; });
}

auto showing(const char *label)
{
    return [label = QString::fromUtf8(label)](const AccessibilityContext &c) { return hasLabel(c, label); };
}

// Each listed (role, label, enabled) is in the context once.
void expectListed(const AccessibilityContext &context,
                  std::initializer_list<std::tuple<const char *, const char *, std::optional<bool>>> expected)
{
    for (const auto &[role, label, enabled] : expected) {
        const auto it = std::find_if(context.elements.begin(), context.elements.end(), [&](const auto &e) {
            return e.role == QLatin1String(role) && e.label == QString::fromUtf8(label);
        });
        ASSERT_NE(it, context.elements.end()) << role << " " << label;
        if (enabled) {
            EXPECT_EQ(it->enabled, enabled) << role << " " << label;
        }
    }
}

class AccessibilityWalk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs a desktop session (scripts/with-session)";
        ASSERT_TRUE(test::ensureAccessibilityBus()) << "no accessibility bus";
    }

    std::optional<AccessibilityContext> collect(qint32 pid, std::stop_token stop = {})
    {
        return QCoro::waitFor(service.collect(pid, std::nullopt, std::nullopt, stop));
    }

    AtspiAccessibilityContextService service;
};

TEST_F(AccessibilityWalk, QtDialogIsSummarisedWithoutHiddenControlsTypedTextOrSecrets)
{
    test::TargetApplication window(test::testWindowProgram(), {});
    ASSERT_TRUE(window.started());
    const auto context = test::collectWhen(service, window.pid(), showing("Continue"));
    ASSERT_TRUE(context.has_value());
    SCOPED_TRACE(context->toJson().dump());

    EXPECT_EQ(context->focusedWindowTitle, QStringLiteral("Nimbel test window"));
    EXPECT_EQ(context->applicationName, QStringLiteral("Test"));
    EXPECT_EQ(context->bundleIdentifier, QStringLiteral("test.desktop"));
    EXPECT_FALSE(context->truncated);

    // Roles mapped from the toolkit's, labels from names and placeholders,
    // state from "enabled"; the tab bar is named after its current tab.
    expectListed(*context, {{"AXButton", "Continue", true},
                            {"AXButton", "Cancel", false},
                            {"AXStaticText", "Choose an option below", {}},
                            {"AXCheckBox", "Remember me", {}},
                            {"AXTextField", "Search files", {}},
                            {"AXTextField", "Account passphrase", {}},
                            {"AXTabGroup", "General", {}},
                            {"AXRadioButton", "General", {}}});

    // Equal buttons once.
    EXPECT_EQ(std::count(context->elements.begin(), context->elements.end(),
                         AccessibilityElementSummary{QStringLiteral("AXButton"), QStringLiteral("Repeat"), true}), 1);

    // The hidden group and everything in it are skipped; no typed text or secret leaves.
    const std::string json = context->toJson().dump();
    for (const char *absent : {"Hidden one", "Hidden two", "Hidden group", "hunter2", "typed-notes-content",
                               "4eC39HqLyjWDarjtT1zdp7dc"})
        EXPECT_EQ(json.find(absent), std::string::npos) << absent;

    // The library forgets the objects of a walk once it is over; the next walk reads them afresh.
    auto again = collect(window.pid());
    ASSERT_TRUE(again.has_value());
    // Asked by process alone this time: the names come from the caller, not the walk.
    again->applicationName = context->applicationName;
    again->bundleIdentifier = context->bundleIdentifier;
    EXPECT_EQ(again->toJson().dump(), json);

}

TEST_F(AccessibilityWalk, GtkDialogIsSummarisedThroughTheCollectionQuery)
{
    test::LogCapture log;
    test::TargetApplication dialog(
        QStringLiteral("yad"),
        {QStringLiteral("--form"), QStringLiteral("--title=Export settings"), QStringLiteral("--text=Choose where to save"),
         QStringLiteral("--field=Destination"), QStringLiteral("--field=Passphrase:H"),
         QStringLiteral("--button=Continue:0"), QStringLiteral("--button=Cancel:1"), QStringLiteral("typed-destination"),
         QStringLiteral("typed-passphrase")});
    ASSERT_TRUE(dialog.started());
    const auto context = test::collectWhen(service, dialog.pid(), [](const AccessibilityContext &c) {
        return c.focusedWindowTitle == QStringLiteral("Export settings") && hasLabel(c, QStringLiteral("Cancel"))
            && !c.truncated;
    });
    ASSERT_TRUE(context.has_value());
    SCOPED_TRACE(context->toJson().dump());

    expectListed(*context, {{"AXButton", "Continue", {}},
                            {"AXButton", "Cancel", {}},
                            {"AXStaticText", "Choose where to save", {}},
                            {"AXStaticText", "Destination", {}}});
    EXPECT_TRUE(std::any_of(context->elements.begin(), context->elements.end(),
                            [](const auto &e) { return e.role == u"AXTextField" && !e.label; }))
        << "fields without a label of their own";
    const std::string json = context->toJson().dump();
    EXPECT_EQ(json.find("typed-destination"), std::string::npos);
    EXPECT_EQ(json.find("typed-passphrase"), std::string::npos);
    EXPECT_TRUE(log.all().contains(QStringLiteral("method=collection"))) << log.all().toStdString();
}

TEST_F(AccessibilityWalk, WalkStopsBelowTheTenthLevel)
{
    // The window is level 0 and every panel adds one: behind 10 panels the
    // deep button is at level 11, behind 9 at level 10, the deepest visited.
    for (const bool deepIsVisited : {false, true}) {
        test::TargetApplication window(test::testWindowProgram(),
                                       {QStringLiteral("--nesting"), deepIsVisited ? QStringLiteral("9") : QStringLiteral("10")});
        const auto context = test::collectWhen(service, window.pid(), [&](const AccessibilityContext &c) {
            return hasLabel(c, QStringLiteral("Shallow")) && (!deepIsVisited || hasLabel(c, QStringLiteral("Deep")));
        });
        ASSERT_TRUE(context.has_value());
        EXPECT_EQ(hasLabel(*context, QStringLiteral("Deep")), deepIsVisited);
        EXPECT_EQ(context->truncated, !deepIsVisited);
    }
}

TEST_F(AccessibilityWalk, LargeAndUnresponsiveApplicationsCannotStretchTheWalk)
{
    {
        // A large tree yields the first eighty in walk order, marked as cut short.
        test::TargetApplication window(test::testWindowProgram(), {QStringLiteral("--buttons"), QStringLiteral("200")});
        const auto context = test::collectWhen(service, window.pid(), [](const AccessibilityContext &c) {
            return c.elements.size() >= 80;
        });
        ASSERT_TRUE(context.has_value());
        ASSERT_EQ(context->elements.size(), 80);
        EXPECT_TRUE(context->truncated);
        EXPECT_EQ(context->elements.first().label, QStringLiteral("Item 1"));
        EXPECT_EQ(context->elements.last().label, QStringLiteral("Item 80"));
        // Stopped before the walk: nothing can be read, and an answer still comes.
        window.stop();
        EXPECT_FALSE(collect(window.pid()).has_value());
    }
    // No process at all, likewise.
    EXPECT_FALSE(QCoro::waitFor(service.collect(0, QStringLiteral("Test"), std::nullopt)).has_value());
    test::TargetApplication window(test::testWindowProgram(), {QStringLiteral("--buttons"), QStringLiteral("200"),
                                                               QStringLiteral("--slow-name-ms"), QStringLiteral("10")});
    ASSERT_TRUE(test::collectWhen(service, window.pid(), showing("Item 1")));
    // The caller stopping a slow walk ends the wait without a half result...
    std::stop_source stop;
    QTimer::singleShot(100, [&stop] { stop.request_stop(); });
    EXPECT_FALSE(collect(window.pid(), stop.get_token()).has_value());

    // ... and leaves the worker free: the next collection works.
    const auto next = collect(window.pid());
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(next->elements.value(0).label, QStringLiteral("Item 1"));

    // Stopped in the middle of a walk that would take seconds: the budget ends
    // it, with what it had, marked as cut short.
    QTimer::singleShot(200, [&window] { window.stop(); });
    const auto context = collect(window.pid());
    ASSERT_TRUE(context.has_value());
    EXPECT_TRUE(context->truncated);
    EXPECT_LT(context->elements.size(), 80);
    EXPECT_EQ(context->elements.value(0).label, QStringLiteral("Item 1"));
}

} // namespace
