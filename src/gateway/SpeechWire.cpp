#include "gateway/SpeechWire.h"

#include "gateway/MultipartBody.h"
#include "gateway/TextRules.h"

namespace nimbel {

wire::OrderedJson speechRequestJson(const QString &trimmedText, const QString &agentID, std::optional<double> pace)
{
    wire::OrderedJson json = wire::OrderedJson::object();
    json["input"] = wire::toStd(leadingGraphemes(trimmedText, speechInputLimit));
    json["agent_id"] = wire::toStd(agentID);
    json["language"] = wire::toStd(wireLanguage(trimmedText));
    if (pace)
        json["pace"] = *pace;
    return json;
}

QByteArray transcriptionUploadBody(const QByteArray &boundary, const QString &language, const QString &agentID,
                                   const QString &contextPrompt, const QByteArray &wav)
{
    MultipartBody body(boundary);
    body.addPart("language", language.toUtf8());
    const QString agent = agentID.trimmed();
    if (!agent.isEmpty())
        body.addPart("agent_id", agent.toUtf8());
    const QString prompt = contextPrompt.trimmed();
    if (!prompt.isEmpty())
        body.addPart("prompt", trailingGraphemes(prompt, transcriptionPromptLimit).toUtf8());
    body.addPart("file", wav, QByteArrayView("voice.wav"), QByteArrayView("audio/wav"));
    return body.finish();
}

std::optional<QString> decodeTranscription(QByteArrayView body)
{
    const auto json = wire::parse(body);
    if (!json)
        return std::nullopt;
    try {
        return wire::requiredString(wire::requireObject(*json), "text");
    } catch (const wire::DecodeError &) {
        return std::nullopt;
    }
}

} // namespace nimbel
