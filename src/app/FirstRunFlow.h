#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace nimbel {

enum class FirstRunStep { welcome = 0, microphone = 1, screen = 2, accessibility = 3, connect = 4 };

enum class FirstRunPermission { unknown, granted, refusedForGood, needsRestart };

struct FirstRunState
{
    FirstRunStep step = FirstRunStep::welcome;
    FirstRunPermission microphone = FirstRunPermission::unknown;
    FirstRunPermission screen = FirstRunPermission::unknown;
    FirstRunPermission accessibility = FirstRunPermission::unknown;
    bool connected = false;

    bool operator==(const FirstRunState &) const = default;
};

// The operation a page's primary button performs, named after the view
// model's operation of the same meaning.
enum class FirstRunOperation {
    firstRunAdvance,
    firstRunAsk,
    openMicrophoneSettings,
    openScreenRecordingSettings,
    openAccessibilitySettings,
    restartApplication,
    openPlatformConnectionPage,
};

struct FirstRunButton
{
    QString titleKey; // catalogue key
    FirstRunOperation operation;
    bool operator==(const FirstRunButton &) const = default;
};

enum class FirstRunNoteTone { good, warn, quiet };

struct FirstRunNote
{
    QString key; // catalogue key
    FirstRunNoteTone tone;
    bool operator==(const FirstRunNote &) const = default;
};

// The microphone's permission as the audio layer reports it.
enum class MicrophoneAuthorization { notDetermined, authorized, denied, restricted, unknown };

// The introduction's pages as pure rules.
namespace FirstRunFlow {
inline constexpr int stepCount = 5;
std::optional<FirstRunStep> next(FirstRunStep step);
std::optional<FirstRunStep> previous(FirstRunStep step);
// (index, total) for the three permission pages; none for welcome and connect.
std::optional<std::pair<int, int>> position(FirstRunStep step);
// The primary button of the page `state.step` in that state.
FirstRunButton primaryButton(const FirstRunState &state);
// Catalogue key of the "way out" button; none on the welcome page.
std::optional<QString> wayOutKey(FirstRunStep step);

// The page's title and body keys.
QString titleKey(FirstRunStep step);
QString bodyKey(FirstRunStep step);
// The notes under the page's body, in order.
QList<FirstRunNote> notes(const FirstRunState &state);
FirstRunPermission microphonePermission(MicrophoneAuthorization authorization);

QString stepName(FirstRunStep step);
QString operationName(FirstRunOperation operation);
} // namespace FirstRunFlow

} // namespace nimbel
