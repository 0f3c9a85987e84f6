#pragma once

#include "gateway/WireJson.h"

#include <QString>

namespace nimbel {

// Page addresses longer than this many characters are not sent.
inline constexpr qsizetype pageURLLimit = 2000;

// Body of "/v1/desktop/context/warm": "agent_id", "page_url".
wire::OrderedJson warmUpRequestJson(const QString &agentID, const QString &pageURL);

} // namespace nimbel
