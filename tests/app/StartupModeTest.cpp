#include "app/StartupMode.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbel;
using namespace std::chrono_literals;

TEST(StartupMode, EnvironmentWinsOverOptionsAndOptionsFollowTheirOrder)
{
    struct Case
    {
        std::optional<QString> variable;
        QStringList arguments;
        StartupMode expected;
    };
    const QString program = QStringLiteral("nimbel");
    const Case cases[] = {
        {std::nullopt, {program}, StartupMode::ordinary},
        // the variable wins, whatever the options say
        {QStringLiteral("capture"), {program, QStringLiteral("--zelm-qa-ask")}, StartupMode::capture},
        // an unknown or empty value means ordinary start-up, even with an option present
        {QStringLiteral("Expanded"), {program, QStringLiteral("--zelm-qa-expanded")}, StartupMode::ordinary},
        // options: expanded before capture before ask, wherever they stand
        {std::nullopt, {program, QStringLiteral("--zelm-qa-ask"), QStringLiteral("--zelm-qa-expanded")}, StartupMode::expanded},
        // the token option alone chooses no mode; nor does a lookalike
        {std::nullopt, {program, QStringLiteral("--zelm-qa-token"), QStringLiteral("k")}, StartupMode::ordinary},
        // "selftest" is only an environment mode
        {std::nullopt, {program, QStringLiteral("--zelm-qa-selftest")}, StartupMode::ordinary},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.variable.value_or(QStringLiteral("<absent>")).toStdString() + " / " +
                     c.arguments.join(u' ').toStdString());
        EXPECT_EQ(chooseStartupMode(c.variable, c.arguments), c.expected);
    }
}

TEST(StartupMode, AskDelayParsesStrictlyWithFloorAndFallback)
{
    EXPECT_EQ(askDelay(std::nullopt), 600ms);
    EXPECT_EQ(askDelay(QStringLiteral("50")), 200ms);
    EXPECT_EQ(askDelay(QStringLiteral(" 900")), 600ms) << "not a plain number";
}
