#pragma once

#include "gateway/WireJson.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace nimbel {

// The screen a question is about, in the JSON forms its owners (capture,
// accessibility, on-device preparation) write.
struct ScreenAnalysisInput
{
    // The capture's metadata object.
    wire::OrderedJson capture = wire::OrderedJson::object();
    // The capture's `capturedAt`, written with the shared capture date form.
    QString capturedAt;
    std::optional<wire::OrderedJson> accessibility;

    struct PreparedContext
    {
        QString captureID;
        wire::OrderedJson json;
    };
    std::optional<PreparedContext> preparedScreenContext;

    // Whether the prepared context goes with the request: only when it was
    // prepared from this very capture (its captureID equals `capturedAt`).
    bool sendsPreparedContext() const
    {
        return preparedScreenContext && preparedScreenContext->captureID == capturedAt;
    }
};

// One recent turn of a screen request ("owner" or "assistant").
struct RecentTurn
{
    QString role;
    QString text;

    bool operator==(const RecentTurn &) const = default;
};

// The JSON part of the analysis upload: "question", "capture",
// "accessibility" (when present), "prepared_screen_context" (only when its
// captureID equals `capturedAt` exactly), "agent_id", "established",
// "conversation".
wire::OrderedJson analyzeMetadataJson(const QString &question, const ScreenAnalysisInput &screen,
                                      const QString &agentID, const QStringList &established,
                                      const QList<RecentTurn> &conversation);

// The multipart body: the "payload" JSON part, then the "image" part.
QByteArray analyzeUploadBody(const QByteArray &boundary, const QByteArray &payloadJson, const QByteArray &jpeg);

} // namespace nimbel
