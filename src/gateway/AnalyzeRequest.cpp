#include "gateway/AnalyzeRequest.h"

#include "gateway/MultipartBody.h"

namespace nimbel {

wire::OrderedJson analyzeMetadataJson(const QString &question, const ScreenAnalysisInput &screen,
                                      const QString &agentID, const QStringList &established,
                                      const QList<RecentTurn> &conversation)
{
    wire::OrderedJson turns = wire::OrderedJson::array();
    for (const RecentTurn &turn : conversation) {
        wire::OrderedJson entry = wire::OrderedJson::object();
        entry["role"] = wire::toStd(turn.role);
        entry["text"] = wire::toStd(turn.text);
        turns.push_back(std::move(entry));
    }

    wire::OrderedJson json = wire::OrderedJson::object();
    json["question"] = wire::toStd(question);
    json["capture"] = screen.capture;
    if (screen.accessibility)
        json["accessibility"] = *screen.accessibility;
    // A context prepared for another capture would describe a different screen.
    if (screen.sendsPreparedContext())
        json["prepared_screen_context"] = screen.preparedScreenContext->json;
    json["agent_id"] = wire::toStd(agentID);
    json["established"] = wire::stringArray(established);
    json["conversation"] = std::move(turns);
    return json;
}

QByteArray analyzeUploadBody(const QByteArray &boundary, const QByteArray &payloadJson, const QByteArray &jpeg)
{
    return MultipartBody(boundary)
        .addPart("payload", payloadJson, std::nullopt, QByteArrayView("application/json"))
        .addPart("image", jpeg, QByteArrayView("current.jpg"), QByteArrayView("image/jpeg"))
        .finish();
}

} // namespace nimbel
