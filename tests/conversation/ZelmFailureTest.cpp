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

TEST(ZelmFailure, OnlyARecoverableErrorOffersAnActionAndOnlyAPermissionProblemChangesTheTitle)
{
    const ZelmFailure general = ZelmFailure::from(ErrorDescription{QStringLiteral("The platform is unreachable.")});
    EXPECT_FALSE(general.hasAction());
    // A description naming a recovery does not make a plain error recoverable.
    const ZelmFailure plain = ZelmFailure::from(PlainError{});
    EXPECT_EQ(plain, (ZelmFailure{QStringLiteral("Network down."), ZelmRecovery::none, false}));
    EXPECT_FALSE(plain.actionTitle().has_value());

    const ZelmFailure permission = ZelmFailure::from(PermissionError{});
    EXPECT_EQ(permission, (ZelmFailure{QStringLiteral("Allow screen recording."),
                                       ZelmRecovery::screenRecordingSettings, true}));
    EXPECT_TRUE(permission.actionTitle().has_value());
    EXPECT_NE(permission.title(), general.title());

    // A recovery without a permission problem keeps the general title, with its action.
    const ZelmFailure mixed = ZelmFailure::from(ErrorDescription{QStringLiteral("x"), ZelmRecovery::restart, false});
    EXPECT_EQ(mixed.title(), general.title());
    EXPECT_TRUE(mixed.hasAction());
    EXPECT_NE(mixed, (ZelmFailure{QStringLiteral("x"), ZelmRecovery::restart, true}));
}
