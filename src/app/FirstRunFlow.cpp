#include "app/FirstRunFlow.h"

namespace nimbel::FirstRunFlow {

std::optional<FirstRunStep> next(FirstRunStep step)
{
    const int raw = static_cast<int>(step);
    if (raw + 1 >= stepCount)
        return std::nullopt;
    return static_cast<FirstRunStep>(raw + 1);
}

std::optional<FirstRunStep> previous(FirstRunStep step)
{
    const int raw = static_cast<int>(step);
    if (raw == 0)
        return std::nullopt;
    return static_cast<FirstRunStep>(raw - 1);
}

std::optional<std::pair<int, int>> position(FirstRunStep step)
{
    switch (step) {
    case FirstRunStep::microphone:
        return std::pair{1, 3};
    case FirstRunStep::screen:
        return std::pair{2, 3};
    case FirstRunStep::accessibility:
        return std::pair{3, 3};
    case FirstRunStep::welcome:
    case FirstRunStep::connect:
        break;
    }
    return std::nullopt;
}

namespace {
const QString allow = QStringLiteral("firstRun.allow");
const QString continueOn = QStringLiteral("firstRun.continue");
const QString openSettings = QStringLiteral("firstRun.openSettings");
const QString restart = QStringLiteral("firstRun.restart");

FirstRunButton permissionPage(FirstRunPermission permission, FirstRunOperation settingsOperation)
{
    switch (permission) {
    case FirstRunPermission::unknown:
        return {allow, FirstRunOperation::firstRunAsk};
    case FirstRunPermission::granted:
        return {continueOn, FirstRunOperation::firstRunAdvance};
    case FirstRunPermission::refusedForGood:
        return {openSettings, settingsOperation};
    case FirstRunPermission::needsRestart:
        return {restart, FirstRunOperation::restartApplication};
    }
    return {allow, FirstRunOperation::firstRunAsk};
}
} // namespace

FirstRunButton primaryButton(const FirstRunState &state)
{
    switch (state.step) {
    case FirstRunStep::welcome:
        return {continueOn, FirstRunOperation::firstRunAdvance};
    case FirstRunStep::microphone:
        return permissionPage(state.microphone, FirstRunOperation::openMicrophoneSettings);
    case FirstRunStep::screen:
        return permissionPage(state.screen, FirstRunOperation::openScreenRecordingSettings);
    case FirstRunStep::accessibility:
        switch (state.accessibility) {
        case FirstRunPermission::unknown:
            return {allow, FirstRunOperation::firstRunAsk};
        case FirstRunPermission::granted:
            return {continueOn, FirstRunOperation::firstRunAdvance};
        case FirstRunPermission::refusedForGood:
        case FirstRunPermission::needsRestart:
            return {openSettings, FirstRunOperation::openAccessibilitySettings};
        }
        break;
    case FirstRunStep::connect:
        if (state.connected)
            return {QStringLiteral("firstRun.done"), FirstRunOperation::firstRunAdvance};
        return {QStringLiteral("firstRun.connect.openConsole"), FirstRunOperation::openPlatformConnectionPage};
    }
    return {continueOn, FirstRunOperation::firstRunAdvance};
}

std::optional<QString> wayOutKey(FirstRunStep step)
{
    if (step == FirstRunStep::welcome)
        return std::nullopt;
    return QStringLiteral("firstRun.skip");
}

QString titleKey(FirstRunStep step)
{
    return QStringLiteral("firstRun.%1.title").arg(stepName(step));
}

QString bodyKey(FirstRunStep step)
{
    return QStringLiteral("firstRun.%1.body").arg(stepName(step));
}

QList<FirstRunNote> notes(const FirstRunState &state)
{
    using T = FirstRunNoteTone;
    using P = FirstRunPermission;
    const FirstRunNote granted{QStringLiteral("firstRun.granted"), T::good};
    QList<FirstRunNote> shown;
    switch (state.step) {
    case FirstRunStep::welcome:
        break;
    case FirstRunStep::microphone:
        if (state.microphone == P::granted)
            shown << granted;
        else if (state.microphone == P::refusedForGood)
            shown << FirstRunNote{QStringLiteral("firstRun.microphone.refused"), T::warn};
        break;
    case FirstRunStep::screen:
        shown << FirstRunNote{QStringLiteral("firstRun.screen.never"), T::good}
              << FirstRunNote{QStringLiteral("firstRun.screen.monthly"), T::quiet};
        if (state.screen == P::granted)
            shown << granted;
        else if (state.screen == P::refusedForGood)
            shown << FirstRunNote{QStringLiteral("firstRun.screen.refused"), T::warn};
        else if (state.screen == P::needsRestart)
            shown << FirstRunNote{QStringLiteral("firstRun.screen.restart"), T::warn};
        break;
    case FirstRunStep::accessibility:
        if (state.accessibility == P::granted)
            shown << granted;
        else
            shown << FirstRunNote{QStringLiteral("firstRun.accessibility.skipped"), T::quiet};
        break;
    case FirstRunStep::connect:
        if (state.connected)
            shown << FirstRunNote{QStringLiteral("firstRun.connect.done"), T::good};
        else
            shown << FirstRunNote{QStringLiteral("firstRun.connect.waiting"), T::quiet};
        break;
    }
    return shown;
}

FirstRunPermission microphonePermission(MicrophoneAuthorization authorization)
{
    switch (authorization) {
    case MicrophoneAuthorization::authorized:
        return FirstRunPermission::granted;
    case MicrophoneAuthorization::denied:
    case MicrophoneAuthorization::restricted:
        return FirstRunPermission::refusedForGood;
    case MicrophoneAuthorization::notDetermined:
    case MicrophoneAuthorization::unknown:
        break;
    }
    return FirstRunPermission::unknown;
}

QString stepName(FirstRunStep step)
{
    switch (step) {
    case FirstRunStep::welcome:
        return QStringLiteral("welcome");
    case FirstRunStep::microphone:
        return QStringLiteral("microphone");
    case FirstRunStep::screen:
        return QStringLiteral("screen");
    case FirstRunStep::accessibility:
        return QStringLiteral("accessibility");
    case FirstRunStep::connect:
        return QStringLiteral("connect");
    }
    return {};
}

QString operationName(FirstRunOperation operation)
{
    switch (operation) {
    case FirstRunOperation::firstRunAdvance:
        return QStringLiteral("firstRunAdvance");
    case FirstRunOperation::firstRunAsk:
        return QStringLiteral("firstRunAsk");
    case FirstRunOperation::openMicrophoneSettings:
        return QStringLiteral("openMicrophoneSettings");
    case FirstRunOperation::openScreenRecordingSettings:
        return QStringLiteral("openScreenRecordingSettings");
    case FirstRunOperation::openAccessibilitySettings:
        return QStringLiteral("openAccessibilitySettings");
    case FirstRunOperation::restartApplication:
        return QStringLiteral("restartApplication");
    case FirstRunOperation::openPlatformConnectionPage:
        return QStringLiteral("openPlatformConnectionPage");
    }
    return {};
}

} // namespace nimbel::FirstRunFlow
