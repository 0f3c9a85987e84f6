#include "gateway/ChatWire.h"

#include "gateway/TextRules.h"

namespace nimbel {

QString lastUserContent(const QList<DesktopChatMessage> &messages)
{
    for (auto it = messages.crbegin(); it != messages.crend(); ++it) {
        if (it->role == u"user")
            return it->content;
    }
    return {};
}

wire::OrderedJson chatRequestJson(const QList<DesktopChatMessage> &messages, const QString &agentID,
                                  const QString &sessionID, const QString &channel)
{
    wire::OrderedJson list = wire::OrderedJson::array();
    for (qsizetype i = std::max<qsizetype>(0, messages.size() - chatHistoryLimit); i < messages.size(); ++i) {
        wire::OrderedJson message = wire::OrderedJson::object();
        message["role"] = wire::toStd(messages[i].role);
        message["content"] = wire::toStd(messages[i].content);
        list.push_back(std::move(message));
    }
    wire::OrderedJson body = wire::OrderedJson::object();
    body["agent_id"] = wire::toStd(agentID);
    body["messages"] = std::move(list);
    body["sessionId"] = wire::toStd(sessionID);
    body["visitorId"] = "desktop-owner";
    body["lang"] = wire::toStd(wireLanguage(lastUserContent(messages)));
    body["channel"] = wire::toStd(channel);
    return body;
}

std::optional<ChatStreamEvent> ChatStreamEvent::decode(const QString &payload)
{
    const auto json = wire::parse(payload.toUtf8());
    if (!json)
        return std::nullopt;
    try {
        const auto &object = wire::requireObject(*json);
        ChatStreamEvent event;
        event.type = wire::requiredString(object, "type");
        event.text = wire::optionalString(object, "text");
        event.reply = wire::optionalString(object, "reply");
        event.error = wire::optionalString(object, "error");
        return event;
    } catch (const wire::DecodeError &) {
        return std::nullopt;
    }
}

ChatReplyAssembler::Step ChatReplyAssembler::handle(const ChatStreamEvent &event)
{
    if (event.type == u"sentence") {
        const QString sentence = event.text.value_or(QString()).trimmed();
        if (sentence.isEmpty())
            return {};
        if (!m_accumulated.isEmpty())
            m_accumulated += u' ';
        m_accumulated += sentence;
        return {Step::Kind::sentence, sentence};
    }
    if (event.type == u"done") {
        m_final = event.reply.value_or(QString()).trimmed();
        m_done = true;
        return {};
    }
    if (event.type == u"error")
        return {Step::Kind::failed, event.error.value_or(QString()).trimmed()};
    return {};
}

std::optional<QString> ChatReplyAssembler::reply() const
{
    if (!m_final.isEmpty())
        return m_final;
    if (!m_accumulated.isEmpty())
        return m_accumulated;
    return std::nullopt;
}

} // namespace nimbel
