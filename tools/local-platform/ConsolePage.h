#pragma once

#include <string>

namespace nimbel::localplatform {

// "zelmdesktop://connect?platform_url=<percent-encoded>&code=<code>", the link the assistant
// opens to pair itself with this platform.
std::string connectionLink(const std::string &platformURL, const std::string &code);

// The console page: the agent, and a "Connect" button that asks for a one-time code and
// opens the connection link. Without scripting in the browser the button posts a form and
// `connectedPage` shows the link instead.
std::string consolePage(const std::string &agentName, const std::string &agentID, const std::string &platformURL);

std::string connectedPage(const std::string &agentName, const std::string &link);

} // namespace nimbel::localplatform
