#include "conversation/ZelmFailure.h"

#include <gtest/gtest.h>

using namespace nimbel;
using namespace Qt::StringLiterals;

namespace {

// An error type offering recovery, like a screen-capture permission error.
struct PermissionError
{
    ZelmRecovery recovery() const { return ZelmRecovery::screenRecordingSettings; }
    bool isPermissionProblem() const { return true; }
    ErrorDescription toDescription() const { return {u"Allow screen recording."_s, ZelmRecovery::none}; }
};

// Without that capability, a recovery its description names does not count.
struct PlainError
{
    ErrorDescription toDescription() const { return {u"Network down."_s, ZelmRecovery::restart, true}; }
};

} // namespace

TEST(ZelmFailure, OnlyARecoverableErrorOffersAnActionAndOnlyAPermissionProblemChangesTheTitle)
{
    const ZelmFailure general = ZelmFailure::from(ErrorDescription{u"The platform is unreachable."_s});
    const ZelmFailure plain = ZelmFailure::from(PlainError{});
    EXPECT_EQ(plain, (ZelmFailure{u"Network down."_s, ZelmRecovery::none, false}));
    EXPECT_FALSE(plain.actionTitle().has_value());

    const ZelmFailure permission = ZelmFailure::from(PermissionError{});
    EXPECT_EQ(permission, (ZelmFailure{u"Allow screen recording."_s, ZelmRecovery::screenRecordingSettings, true}));
    EXPECT_TRUE(permission.actionTitle().has_value());
    EXPECT_NE(permission.title(), general.title());

    // A recovery without a permission problem keeps the general title, with its action.
    const ZelmFailure mixed = ZelmFailure::from(ErrorDescription{u"x"_s, ZelmRecovery::restart, false});
    EXPECT_EQ(mixed.title(), general.title());
    EXPECT_TRUE(mixed.hasAction());
}
