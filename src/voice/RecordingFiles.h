#pragma once

#include <QString>

namespace nimbel::recordingFiles {

// "zelm-voice-" + an upper-case UUID + ".wav" in `folder`.
QString newRecordingPath(const QString &folder);

// Removes the recordings (and lead-in scratch files) of this user that an
// earlier run left behind in `folder`, for example when it was killed mid-turn.
// Returns how many were removed.
int removeStale(const QString &folder);

} // namespace nimbel::recordingFiles
