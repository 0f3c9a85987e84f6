#include "app/FirstRunFlow.h"

#include <gtest/gtest.h>

using namespace nimbel;

TEST(FirstRunFlow, StepsPositionsAndWayOut)
{
    EXPECT_EQ(FirstRunFlow::next(FirstRunStep::welcome), FirstRunStep::microphone);
    EXPECT_EQ(FirstRunFlow::next(FirstRunStep::accessibility), FirstRunStep::connect);
    EXPECT_EQ(FirstRunFlow::next(FirstRunStep::connect), std::nullopt);
    EXPECT_EQ(FirstRunFlow::previous(FirstRunStep::welcome), std::nullopt);
    EXPECT_EQ(FirstRunFlow::previous(FirstRunStep::microphone), FirstRunStep::welcome);
    EXPECT_EQ(FirstRunFlow::previous(FirstRunStep::connect), FirstRunStep::accessibility);

    EXPECT_EQ(FirstRunFlow::position(FirstRunStep::welcome), std::nullopt);
    EXPECT_EQ(FirstRunFlow::position(FirstRunStep::microphone), (std::pair{1, 3}));
    EXPECT_EQ(FirstRunFlow::position(FirstRunStep::screen), (std::pair{2, 3}));
    EXPECT_EQ(FirstRunFlow::position(FirstRunStep::accessibility), (std::pair{3, 3}));
    EXPECT_EQ(FirstRunFlow::position(FirstRunStep::connect), std::nullopt);

    EXPECT_EQ(FirstRunFlow::wayOutKey(FirstRunStep::welcome), std::nullopt);
    for (FirstRunStep step : {FirstRunStep::microphone, FirstRunStep::screen, FirstRunStep::accessibility,
                              FirstRunStep::connect})
        EXPECT_EQ(FirstRunFlow::wayOutKey(step), QStringLiteral("firstRun.skip"));
}

TEST(FirstRunFlow, PrimaryButtonPerPageAndState)
{
    using P = FirstRunPermission;
    using O = FirstRunOperation;
    struct Case
    {
        FirstRunStep step;
        P permission;
        bool connected;
        const char *key;
        O operation;
    };
    const Case cases[] = {
        {FirstRunStep::welcome, P::unknown, false, "firstRun.continue", O::firstRunAdvance},
        {FirstRunStep::microphone, P::unknown, false, "firstRun.allow", O::firstRunAsk},
        {FirstRunStep::microphone, P::granted, false, "firstRun.continue", O::firstRunAdvance},
        {FirstRunStep::microphone, P::refusedForGood, false, "firstRun.openSettings", O::openMicrophoneSettings},
        {FirstRunStep::microphone, P::needsRestart, false, "firstRun.restart", O::restartApplication},
        {FirstRunStep::screen, P::unknown, false, "firstRun.allow", O::firstRunAsk},
        {FirstRunStep::screen, P::granted, false, "firstRun.continue", O::firstRunAdvance},
        {FirstRunStep::screen, P::refusedForGood, false, "firstRun.openSettings", O::openScreenRecordingSettings},
        {FirstRunStep::screen, P::needsRestart, false, "firstRun.restart", O::restartApplication},
        {FirstRunStep::accessibility, P::unknown, false, "firstRun.allow", O::firstRunAsk},
        {FirstRunStep::accessibility, P::granted, false, "firstRun.continue", O::firstRunAdvance},
        {FirstRunStep::accessibility, P::refusedForGood, false, "firstRun.openSettings", O::openAccessibilitySettings},
        {FirstRunStep::accessibility, P::needsRestart, false, "firstRun.openSettings", O::openAccessibilitySettings},
        {FirstRunStep::connect, P::unknown, false, "firstRun.connect.openConsole", O::openPlatformConnectionPage},
        {FirstRunStep::connect, P::unknown, true, "firstRun.done", O::firstRunAdvance},
    };
    for (const Case &c : cases) {
        FirstRunState state;
        state.step = c.step;
        state.connected = c.connected;
        // Only the page's own permission may matter: the others are set to something else.
        state.microphone = c.step == FirstRunStep::microphone ? c.permission : P::refusedForGood;
        state.screen = c.step == FirstRunStep::screen ? c.permission : P::needsRestart;
        state.accessibility = c.step == FirstRunStep::accessibility ? c.permission : P::granted;
        SCOPED_TRACE(FirstRunFlow::stepName(c.step).toStdString() + " " + std::to_string(int(c.permission)));
        const FirstRunButton button = FirstRunFlow::primaryButton(state);
        EXPECT_EQ(button.titleKey, QString::fromLatin1(c.key));
        EXPECT_EQ(FirstRunFlow::operationName(button.operation), FirstRunFlow::operationName(c.operation));
    }
}
