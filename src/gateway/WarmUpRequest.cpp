#include "gateway/WarmUpRequest.h"

namespace nimbel {

wire::OrderedJson warmUpRequestJson(const QString &agentID, const QString &pageURL)
{
    wire::OrderedJson json = wire::OrderedJson::object();
    json["agent_id"] = wire::toStd(agentID);
    json["page_url"] = wire::toStd(pageURL);
    return json;
}

} // namespace nimbel
