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
        {QStringLiteral("expanded"), {program}, StartupMode::expanded},
        {QStringLiteral("selftest"), {program}, StartupMode::selftest},
        // the variable wins, whatever the options say
        {QStringLiteral("capture"), {program, QStringLiteral("--zelm-qa-ask")}, StartupMode::capture},
        // an unknown or empty value means ordinary start-up, even with an option present
        {QStringLiteral("Expanded"), {program, QStringLiteral("--zelm-qa-expanded")}, StartupMode::ordinary},
        {QString(), {program, QStringLiteral("--zelm-qa-ask")}, StartupMode::ordinary},
        // options: expanded before capture before ask, wherever they stand
        {std::nullopt, {program, QStringLiteral("--zelm-qa-ask"), QStringLiteral("--zelm-qa-capture")}, StartupMode::capture},
        {std::nullopt, {program, QStringLiteral("--zelm-qa-ask"), QStringLiteral("--zelm-qa-expanded")}, StartupMode::expanded},
        // the token option alone chooses no mode; nor does a lookalike
        {std::nullopt, {program, QStringLiteral("--zelm-qa-token"), QStringLiteral("--zelm-qa-ask")}, StartupMode::ask},
        {std::nullopt, {program, QStringLiteral("--zelm-qa-token"), QStringLiteral("k")}, StartupMode::ordinary},
        {std::nullopt, {program, QStringLiteral("--zelm-qa-asked")}, StartupMode::ordinary},
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
    struct Case
    {
        std::optional<QString> value;
        Milliseconds expected;
    };
    const Case cases[] = {
        {std::nullopt, 600ms},
        {QString(), 600ms},
        {QStringLiteral("50"), 200ms},
        {QStringLiteral("+900"), 900ms},
        {QStringLiteral("200"), 200ms},
        {QStringLiteral("201"), 201ms},
        {QStringLiteral("0"), 200ms},
        {QStringLiteral("007"), 200ms},
        {QStringLiteral(" 900"), 600ms},
        {QStringLiteral("9.5"), 600ms},
        {QStringLiteral("0x10"), 600ms},
        {QStringLiteral("٣٠٠"), 600ms}, // digits of another script are not decimal here
        {QStringLiteral("99999999999999999999999"), 600ms}, // overflow
        {QStringLiteral("9223372036854775807"), Milliseconds(9223372036854775807LL)},
        {QStringLiteral("9223372036854775808"), 600ms},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value.value_or(QStringLiteral("<absent>")).toStdString());
        EXPECT_EQ(askDelay(c.value).count(), c.expected.count());
    }
}

TEST(StartupMode, AskQuestionDefaultsOnlyWhenAbsentAndEnvironmentIsReadAsPresentOrAbsent)
{
    EXPECT_EQ(askQuestion(std::nullopt), QStringLiteral("Где на этом экране кнопка «Продолжить»?"));
    EXPECT_EQ(askQuestion(QStringLiteral("What is this?")), QStringLiteral("What is this?"));
    EXPECT_EQ(askQuestion(QString()), QString());

    test::ScopedEnvironment env;
    env.unset("ZELM_DESKTOP_QA_DELAY_MS");
    EXPECT_EQ(environmentValue("ZELM_DESKTOP_QA_DELAY_MS"), std::nullopt);
    env.set("ZELM_DESKTOP_QA_DELAY_MS", "");
    ASSERT_TRUE(environmentValue("ZELM_DESKTOP_QA_DELAY_MS").has_value());
    EXPECT_TRUE(environmentValue("ZELM_DESKTOP_QA_DELAY_MS")->isEmpty());
    env.set("ZELM_DESKTOP_QA_DELAY_MS", "+900");
    EXPECT_EQ(askDelay(environmentValue("ZELM_DESKTOP_QA_DELAY_MS")).count(), 900);
}
