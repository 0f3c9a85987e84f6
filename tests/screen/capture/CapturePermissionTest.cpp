#include "screen/FrontmostAppTracker.h"
#include "screen/ScreenCaptureError.h"
#include "screen/ScreenCapturePermission.h"

#include <gtest/gtest.h>

#include <deque>

using namespace nimbel;

namespace {
// The system's answers, scripted: each preflight pops the next answer (the
// last one repeats); the request answers `grant`.
class ScriptedAccess final : public ScreenCaptureAccess
{
public:
    std::deque<bool> preflights{false};
    bool grant = false;
    int requestCalls = 0;

    bool preflight() override
    {
        const bool answer = preflights.front();
        if (preflights.size() > 1)
            preflights.pop_front();
        return answer;
    }
    bool request() override
    {
        ++requestCalls;
        return grant;
    }
};
} // namespace

TEST(ScreenCapturePermission, PromptsOnceAndAsksForARestartWhenTheGrantIsNotSeenYet)
{
    const struct
    {
        const char *what;
        std::deque<bool> preflights;
        bool grant;
        std::vector<std::optional<ScreenCaptureError>> checks;
        int requests;
    } cases[] = {
        {"a refusal, then restart without a second prompt", {false}, false,
         {ScreenCaptureError::permissionDenied, ScreenCaptureError::permissionRequiresRestart,
          ScreenCaptureError::permissionRequiresRestart}, 1},
        {"a grant the preflight does not see yet", {false}, true, {ScreenCaptureError::permissionRequiresRestart}, 1},
        {"a grant the preflight sees", {false, true}, true, {std::nullopt, std::nullopt}, 1},
    };
    for (const auto &c : cases) {
        ScriptedAccess access;
        access.preflights = c.preflights;
        access.grant = c.grant;
        ScreenCapturePermission permission(access);
        for (const auto &expected : c.checks)
            EXPECT_EQ(permission.check(), expected) << c.what;
        EXPECT_EQ(access.requestCalls, c.requests) << c.what;
        EXPECT_EQ(permission.didRequestPermissionThisLaunch(), c.requests > 0) << c.what;
    }
}

TEST(FrontmostAppTracker, RemembersOnlyExternalApplicationsThatCanBeActivated)
{
    const AssistantIdentity self{QStringLiteral("app.nimbel.desktop"), 4242};
    const RunningApplication editor{QStringLiteral("org.example.Editor"), QStringLiteral("Editor"), 100, false};
    EXPECT_TRUE(FrontmostAppTracker::isExternal(editor, self));

    RunningApplication own = editor;
    own.bundleIdentifier = QStringLiteral("app.nimbel.desktop");
    EXPECT_FALSE(FrontmostAppTracker::isExternal(own, self));
    own = editor;
    own.processIdentifier = 4242; // a window of this process under another class name
    EXPECT_FALSE(FrontmostAppTracker::isExternal(own, self));

    RunningApplication dock = editor;
    dock.activationProhibited = true;
    EXPECT_FALSE(FrontmostAppTracker::isExternal(dock, self));

    // Without an identifier of its own the assistant matches every application
    // without one; with one, they are external.
    RunningApplication anonymous = editor;
    anonymous.bundleIdentifier.reset();
    EXPECT_TRUE(FrontmostAppTracker::isExternal(anonymous, self));
    EXPECT_FALSE(FrontmostAppTracker::isExternal(anonymous, AssistantIdentity{std::nullopt, 4242}));
}
