#pragma once

#include "core/Clock.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace nimbel {

// What the application does right after its long-lived objects exist.
enum class StartupMode { ordinary, expanded, capture, ask, selftest };

// Environment variables and options that steer start-up.
namespace startup {
inline constexpr char modeVariable[] = "ZELM_DESKTOP_QA_MODE";
inline constexpr char questionVariable[] = "ZELM_DESKTOP_QA_QUESTION";
inline constexpr char delayVariable[] = "ZELM_DESKTOP_QA_DELAY_MS";
inline constexpr Milliseconds defaultAskDelay{600};
inline constexpr Milliseconds minimumAskDelay{200};
inline constexpr Milliseconds captureDelay{600};
} // namespace startup

// The variable wins when present (whatever its value); otherwise the first of
// the options "--zelm-qa-expanded", "--zelm-qa-capture", "--zelm-qa-ask" found,
// in that order of preference. Unknown values mean ordinary start-up.
StartupMode chooseStartupMode(const std::optional<QString> &modeVariable, const QStringList &arguments);

// Delay before the automatic question: 600 ms when absent, empty or not a
// decimal integer (optional sign); never below 200 ms.
Milliseconds askDelay(const std::optional<QString> &delayVariable);

// The question typed automatically in "ask" mode.
QString askQuestion(const std::optional<QString> &questionVariable);

// Reads an environment variable; absent and present-but-empty differ.
std::optional<QString> environmentValue(const char *name);

} // namespace nimbel
