#include "ConsolePage.h"

#include "Text.h"

namespace nimbel::localplatform {

namespace {

constexpr const char *style = R"(
  :root { color-scheme: light dark; font-family: system-ui, sans-serif; }
  body { max-width: 36rem; margin: 4rem auto; padding: 0 1.5rem; line-height: 1.5; }
  h1 { font-size: 1.4rem; margin-bottom: 0.2rem; }
  .muted { opacity: 0.7; font-size: 0.9rem; }
  .card { border: 1px solid rgba(127,127,127,0.35); border-radius: 12px; padding: 1.2rem 1.4rem; margin-top: 1.5rem; }
  button { font: inherit; font-weight: 600; padding: 0.55rem 1.6rem; border-radius: 8px; border: none;
           background: #2f6fed; color: white; cursor: pointer; }
  button:disabled { opacity: 0.6; cursor: progress; }
  code, a.link { word-break: break-all; font-size: 0.85rem; }
  .error { color: #d33; }
)";

std::string page(const std::string &title, const std::string &body)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>"
        + text::htmlEscape(title) + "</title>\n<style>" + style + "</style>\n</head>\n<body>\n" + body
        + "</body>\n</html>\n";
}

} // namespace

std::string connectionLink(const std::string &platformURL, const std::string &code)
{
    return "zelmdesktop://connect?platform_url=" + text::percentEncode(platformURL) + "&code=" + text::percentEncode(code);
}

std::string consolePage(const std::string &agentName, const std::string &agentID, const std::string &platformURL)
{
    const std::string body = "<h1>Local platform console</h1>\n<p class=\"muted\">Development server at "
        + text::htmlEscape(platformURL) + "</p>\n"
        "<div class=\"card\">\n<p>Agent <strong>" + text::htmlEscape(agentName) + "</strong> <span class=\"muted\">("
        + text::htmlEscape(agentID) + ")</span></p>\n"
        "<p>Press Connect to pair the desktop assistant with this agent. The assistant receives a one-time code "
        "through its link and exchanges it for a key by itself.</p>\n"
        "<form id=\"connect\" method=\"post\" action=\"/desktop-agent/connect\">\n"
        "<button id=\"connect-button\" type=\"submit\">Connect</button>\n</form>\n"
        "<p id=\"result\" hidden>If the assistant did not open, use this link: "
        "<a class=\"link\" id=\"link\" href=\"#\"></a></p>\n"
        "<p id=\"failure\" class=\"error\" hidden></p>\n</div>\n"
        R"(<script>
const form = document.getElementById('connect');
form.addEventListener('submit', async (event) => {
  event.preventDefault();
  const button = document.getElementById('connect-button');
  const failure = document.getElementById('failure');
  button.disabled = true;
  failure.hidden = true;
  try {
    const response = await fetch('/desktop-agent/connect', { method: 'POST', headers: { 'Accept': 'application/json' } });
    const answer = await response.json();
    if (!response.ok) throw new Error(answer.error || ('status ' + response.status));
    const link = document.getElementById('link');
    link.href = answer.link;
    link.textContent = answer.link;
    document.getElementById('result').hidden = false;
    window.location.href = answer.link;
  } catch (error) {
    failure.textContent = 'Could not create a connection code: ' + error.message;
    failure.hidden = false;
  } finally {
    button.disabled = false;
  }
});
</script>
)";
    return page("Local platform console", body);
}

std::string connectedPage(const std::string &agentName, const std::string &link)
{
    const std::string escaped = text::htmlEscape(link);
    const std::string body = "<h1>Connect " + text::htmlEscape(agentName) + "</h1>\n<div class=\"card\">\n"
        "<p>Open this link on this computer to pair the desktop assistant. It works once and expires in ten "
        "minutes.</p>\n<p><a class=\"link\" id=\"link\" href=\"" + escaped + "\">" + escaped + "</a></p>\n"
        "<p class=\"muted\"><a href=\"/desktop-agent\">Back to the console</a></p>\n</div>\n";
    return page("Connect the desktop assistant", body);
}

} // namespace nimbel::localplatform
