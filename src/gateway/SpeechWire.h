#pragma once

#include "gateway/WireJson.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace nimbel {

// The speech endpoint speaks at most this many characters of a text.
inline constexpr qsizetype speechInputLimit = 2000;
// The transcription prompt keeps this many characters from its end.
inline constexpr qsizetype transcriptionPromptLimit = 600;

// Body of "/v1/desktop/speech" for an already trimmed text: "input" (its
// first 2000 characters), "agent_id", "language" (from the whole text),
// "pace" (only when given).
wire::OrderedJson speechRequestJson(const QString &trimmedText, const QString &agentID, std::optional<double> pace);

// The transcription upload: "language", then "agent_id" and "prompt" when
// they are not blank (the prompt cut to its last 600 characters), then the
// WAV "file".
QByteArray transcriptionUploadBody(const QByteArray &boundary, const QString &language, const QString &agentID,
                                   const QString &contextPrompt, const QByteArray &wav);

// The "text" of a transcription answer, untrimmed; nullopt for any other shape.
std::optional<QString> decodeTranscription(QByteArrayView body);

} // namespace nimbel
