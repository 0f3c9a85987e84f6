#include "conversation/PlatformConnectionLink.h"

#include <gtest/gtest.h>

using namespace nimbel;
using namespace Qt::StringLiterals;
using Link = PlatformConnectionLink;

namespace {

const QString code = u"AbCdEfGhIjKlMnOpQrStUvWx_-12"_s; // 28 characters

std::optional<Link> parse(const QString &text)
{
    return Link::parse(QUrl(text));
}

Link pairing(const QString &address, const QString &pairingCode = code)
{
    return Link{address, Link::Pairing{pairingCode}};
}

Link direct(const QString &address, const QString &token, const QString &agent, const QString &name)
{
    return Link{address, Link::Direct{token, agent, name}};
}

} // namespace

TEST(PlatformConnectionLink, AcceptsPairingAndDirectLinks)
{
    EXPECT_EQ(parse("zelmdesktop://connect?platform_url=https%3A%2F%2Fplatform.example.com%2F&code=" + code),
              pairing("https://platform.example.com"));
    // Scheme and host in any case; the platform address keeps its path, loses edge slashes.
    EXPECT_EQ(parse("ZelmDesktop://CONNECT?platform_url=https://platform.example.com/team/&code=" + code),
              pairing("https://platform.example.com/team"));
    // Plain http only on this machine.
    EXPECT_EQ(parse("zelmdesktop://connect?platform_url=http://localhost:4100&code=" + code),
              pairing("http://localhost:4100"));

    // A direct connection; the agent is called "Nimbel" unless named.
    EXPECT_EQ(parse("zelmdesktop://connect?platform_url=https://p.example&token=zelm-abc&agent_id=dsa-1"),
              direct("https://p.example", "zelm-abc", "dsa-1", "Nimbel"));
    // A code that does not match (23 characters) is not a code.
    EXPECT_EQ(parse("zelmdesktop://connect?platform_url=https://p.example&code=" + code.left(23)), std::nullopt);
}

TEST(PlatformConnectionLink, RefusesEverythingElse)
{
    const QStringList refused = {
        // Wrong scheme or host, or none.
        "https://connect?platform_url=https://p.example&code=" + code,
        // The platform address: missing, not http(s), without a host, plain http elsewhere.
        "zelmdesktop://connect?code=" + code,
        "zelmdesktop://connect?platform_url=javascript:alert(1)&code=" + code,
        "zelmdesktop://connect?platform_url=http://platform.example.com&code=" + code,
        "zelmdesktop://connect?platform_url=http://127.0.0.1.evil.example&code=" + code,
        "zelmdesktop://connect?platform_url=http://localhost@evil.example&code=" + code,
        "zelmdesktop://connect?platform_url=https://p.example%0A.evil&code=" + code,
        // Codes with a line break or other characters outside the pattern. (Keys and agents of
        // another form or with line breaks in them: the connection-link fuzzer's checks.)
        "zelmdesktop://connect?platform_url=https://p.example&code=" + code + "%0A",
        // Oversized.
        "zelmdesktop://connect?platform_url=https://p.example&code=" + code + "&pad=" + QString(9000, u'x'),
    };
    for (const QString &text : refused)
        EXPECT_EQ(parse(text), std::nullopt) << text.left(160).toStdString();
}

TEST(PlatformConnectionLink, OriginsCompareSchemeHostAndPort)
{
    using namespace platformAddress;
    EXPECT_TRUE(sameOrigin("https://platform.example.com", "HTTPS://Platform.Example.com:443/desktop/"));
    EXPECT_FALSE(sameOrigin("http://localhost:4100", "http://localhost:4101"));
    EXPECT_FALSE(sameOrigin("https://platform.example.com", "https://platform.example.com.evil.example"));
    // An address that does not parse matches nothing, not even itself.
    EXPECT_FALSE(sameOrigin("not an address", "not an address"));

    EXPECT_EQ(displayHost("https://platform.example.com/team"), u"platform.example.com");
}
