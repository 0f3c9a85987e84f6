#include "conversation/ZelmFailure.h"

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

// An error type offering recovery, like a screen-capture permission error.
struct PermissionError
{
    ZelmRecovery recovery() const { return ZelmRecovery::screenRecordingSettings; }
    bool isPermissionProblem() const { return true; }
    ErrorDescription toDescription() const { return {QStringLiteral("Allow screen recording."), ZelmRecovery::none}; }
};

// An error type without recovery whose description nevertheless names one:
// only the capability counts.
struct PlainError
{
    ErrorDescription toDescription() const
    {
        return {QStringLiteral("Network down."), ZelmRecovery::restart, true};
    }
};

static_assert(ZelmRecoverableError<PermissionError>);
static_assert(!ZelmRecoverableError<PlainError>);
static_assert(DescribedError<PlainError>);

} // namespace

TEST(ZelmFailure, WithoutRecoveryItHasTheGeneralTitleAndNoAction)
{
    const ZelmFailure failure = ZelmFailure::from(ErrorDescription{QStringLiteral("The platform is unreachable.")});
    EXPECT_EQ(failure.message, u"The platform is unreachable.");
    EXPECT_EQ(failure.recovery, ZelmRecovery::none);
    EXPECT_FALSE(failure.isPermissionProblem);
    EXPECT_EQ(failure.title(), u"That did not work");
    EXPECT_FALSE(failure.actionTitle().has_value());
    EXPECT_FALSE(failure.hasAction());

    const ZelmFailure plain = ZelmFailure::from(PlainError{});
    EXPECT_EQ(plain, (ZelmFailure{QStringLiteral("Network down."), ZelmRecovery::none, false}));
    EXPECT_FALSE(plain.actionTitle().has_value());
}

TEST(ZelmFailure, RecoveryGivesTitleAndActionLabel)
{
    const ZelmFailure permission = ZelmFailure::from(PermissionError{});
    EXPECT_EQ(permission.message, u"Allow screen recording.");
    EXPECT_EQ(permission.recovery, ZelmRecovery::screenRecordingSettings);
    EXPECT_TRUE(permission.isPermissionProblem);
    EXPECT_EQ(permission.title(), u"Permission needed");
    EXPECT_EQ(permission.actionTitle(), u"Open screen settings");

    const ZelmFailure restart =
        ZelmFailure::from(ErrorDescription{QStringLiteral("Restart once."), ZelmRecovery::restart, true});
    EXPECT_EQ(restart.title(), u"Permission needed");
    EXPECT_EQ(restart.actionTitle(), u"Restart Nimbel");

    const ZelmFailure voice =
        ZelmFailure::from(ErrorDescription{QStringLiteral("No microphone."), ZelmRecovery::voicePrivacySettings, true});
    EXPECT_EQ(voice.actionTitle(), u"Open voice permissions");

    // A recovery without a permission problem keeps the general title.
    const ZelmFailure mixed =
        ZelmFailure::from(ErrorDescription{QStringLiteral("x"), ZelmRecovery::restart, false});
    EXPECT_EQ(mixed.title(), u"That did not work");
    EXPECT_EQ(mixed.actionTitle(), u"Restart Nimbel");

    // Equality covers every field.
    EXPECT_NE(restart, mixed);
    EXPECT_NE(restart, (ZelmFailure{QStringLiteral("Restart once."), ZelmRecovery::none, true}));
}
