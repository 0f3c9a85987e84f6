#include "screen/FrontmostAppTracker.h"
#include "screen/ScreenCaptureError.h"
#include "screen/ScreenCapturePermission.h"
#include "settings/Localized.h"

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
    int preflightCalls = 0;
    int requestCalls = 0;

    bool preflight() override
    {
        ++preflightCalls;
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

TEST(ScreenCapturePermission, GrantedPreflightNeverPrompts)
{
    ScriptedAccess access;
    access.preflights = {true};
    ScreenCapturePermission permission(access);
    EXPECT_EQ(permission.check(), std::nullopt);
    EXPECT_EQ(permission.check(), std::nullopt);
    EXPECT_EQ(access.requestCalls, 0);
    EXPECT_FALSE(permission.didRequestPermissionThisLaunch());
}

TEST(ScreenCapturePermission, FirstRefusalIsDeniedLaterOnesAskForARestartWithoutASecondPrompt)
{
    ScriptedAccess access;
    ScreenCapturePermission permission(access);
    EXPECT_EQ(permission.check(), ScreenCaptureError::permissionDenied);
    EXPECT_TRUE(permission.didRequestPermissionThisLaunch());
    EXPECT_EQ(permission.check(), ScreenCaptureError::permissionRequiresRestart);
    EXPECT_EQ(permission.check(), ScreenCaptureError::permissionRequiresRestart);
    EXPECT_EQ(access.requestCalls, 1);
}

TEST(ScreenCapturePermission, GrantThePreflightDoesNotSeeYetNeedsARestart)
{
    ScriptedAccess access;
    access.grant = true;
    ScreenCapturePermission permission(access);
    EXPECT_EQ(permission.check(), ScreenCaptureError::permissionRequiresRestart);
    EXPECT_EQ(access.preflightCalls, 2); // checked again after the grant
}

TEST(ScreenCapturePermission, GrantThePreflightSeesLetsTheCaptureGoAhead)
{
    ScriptedAccess access;
    access.grant = true;
    access.preflights = {false, true};
    ScreenCapturePermission permission(access);
    EXPECT_EQ(permission.check(), std::nullopt);
    EXPECT_EQ(permission.check(), std::nullopt);
    EXPECT_EQ(access.requestCalls, 1);
}

TEST(ScreenCaptureError, PermissionProblemsOfferTheirRecoveryAndMessagesFollowTheLanguage)
{
    ASSERT_TRUE(installTranslations(AppLanguage::en));
    const ErrorDescription denied = ScreenCaptureError(ScreenCaptureError::permissionDenied).toDescription();
    EXPECT_TRUE(denied.isPermissionProblem);
    EXPECT_EQ(denied.recovery, ZelmRecovery::screenRecordingSettings);
    const ErrorDescription restart = ScreenCaptureError(ScreenCaptureError::permissionRequiresRestart).toDescription();
    EXPECT_EQ(restart.recovery, ZelmRecovery::restart);
    const ErrorDescription empty = toDescription(CaptureError(ScreenCaptureError(ScreenCaptureError::emptyImage)));
    EXPECT_FALSE(empty.isPermissionProblem);
    EXPECT_NE(empty.message, denied.message);

    // Resolved in the interface language each time it is read.
    ASSERT_TRUE(installTranslations(AppLanguage::ru));
    const QString russian = ScreenCaptureError(ScreenCaptureError::emptyImage).message();
    installTranslations(AppLanguage::en);
    EXPECT_NE(russian, empty.message);
    EXPECT_EQ(ScreenCaptureError(ScreenCaptureError::emptyImage).message(), empty.message);

    const ErrorDescription passedOn = toDescription(CaptureError(WindowSystemError{QStringLiteral("X is gone")}));
    EXPECT_EQ(passedOn, (ErrorDescription{QStringLiteral("X is gone"), ZelmRecovery::none, false}));
}

TEST(FrontmostAppTracker, RemembersOnlyExternalApplicationsThatCanBeActivated)
{
    const AssistantIdentity self{QStringLiteral("app.nimbel.desktop"), 4242};
    const RunningApplication editor{QStringLiteral("org.example.Editor"), QStringLiteral("Editor"), 100, false};
    EXPECT_TRUE(FrontmostAppTracker::isExternal(editor, self));
    EXPECT_FALSE(FrontmostAppTracker::isExternal(std::nullopt, self));

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
    // An unknown process is never taken for the assistant's.
    anonymous.processIdentifier.reset();
    EXPECT_TRUE(FrontmostAppTracker::isExternal(anonymous, AssistantIdentity{QStringLiteral("x"), std::nullopt}));
}
