// Connection links come from any web page. What the parser accepts must be
// safe to store and to send: a platform address the assistant may talk to,
// values without control characters or spaces, and a link that parses the
// same way again once written back.

#include "FuzzCheck.h"
#include "conversation/PlatformConnectionLink.h"

#include <QUrlQuery>

using namespace nimbel;

namespace {

bool isPlain(const QString &value)
{
    for (const QChar c : value) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QUrl writtenBack(const PlatformConnectionLink &link)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("platform_url"), QString::fromUtf8(QUrl::toPercentEncoding(link.platformURL)));
    if (const auto *pairing = std::get_if<PlatformConnectionLink::Pairing>(&link.connection)) {
        query.addQueryItem(QStringLiteral("code"), pairing->code);
    } else {
        const auto &direct = std::get<PlatformConnectionLink::Direct>(link.connection);
        query.addQueryItem(QStringLiteral("token"), QString::fromUtf8(QUrl::toPercentEncoding(direct.token)));
        query.addQueryItem(QStringLiteral("agent_id"), QString::fromUtf8(QUrl::toPercentEncoding(direct.agentID)));
        query.addQueryItem(QStringLiteral("agent_name"), QString::fromUtf8(QUrl::toPercentEncoding(direct.agentName)));
    }
    QUrl url(QStringLiteral("zelmdesktop://connect"));
    url.setQuery(query);
    return url;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QUrl &url : {QUrl(text), QUrl(text, QUrl::StrictMode)}) {
        const auto link = PlatformConnectionLink::parse(url);
        if (!link)
            continue;
        check(platformAddress::isAcceptable(QUrl(link->platformURL, QUrl::StrictMode)));
        check(!link->platformURL.startsWith(u'/') && !link->platformURL.endsWith(u'/'));
        check(isPlain(link->platformURL));
        if (const auto *direct = std::get_if<PlatformConnectionLink::Direct>(&link->connection)) {
            check(direct->token.startsWith(u"zelm-") && isPlain(direct->token));
            check(direct->agentID.startsWith(u"dsa-") && isPlain(direct->agentID));
        }
        check(PlatformConnectionLink::parse(writtenBack(*link)) == link);
        // The host shown to the owner is the one the address names.
        check(platformAddress::sameOrigin(link->platformURL, link->platformURL));
    }
    platformAddress::displayHost(text);
    return 0;
}
