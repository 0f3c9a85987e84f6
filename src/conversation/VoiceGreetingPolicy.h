#pragma once

#include <QString>

namespace nimbel::VoiceGreetingPolicy {

// The sentence spoken when a voice session starts, from the agent's configured
// greeting; `language` is "ru" or "en".
QString connectionGreeting(const QString &configuredGreeting, const QString &language);

} // namespace nimbel::VoiceGreetingPolicy
