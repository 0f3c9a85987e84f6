#pragma once

#include <QStringView>

namespace nimbel::FallbackBargeInGuard {

// Whether a turn heard while the assistant speaks should interrupt it: a stop
// phrase always does; fillers, subtitle noise and the assistant's own words
// coming back through the microphone do not.
bool shouldInterrupt(QStringView transcript, QStringView assistantReference);

} // namespace nimbel::FallbackBargeInGuard
