// The update feed comes from the network. Its reader never crashes, offers
// only usable releases, and the version order it ranks them by is a total
// order: reflexive, antisymmetric and transitive wherever it is defined.

#include "FuzzCheck.h"
#include "app/Appcast.h"

using namespace nimbel;

namespace {

void checkOrder(const QString &a, const QString &b, const QString &c)
{
    const auto ab = appcast::compareVersions(a, b);
    const auto ba = appcast::compareVersions(b, a);
    check(ab.has_value() == ba.has_value());
    if (!ab)
        return;
    check(*ab == -*ba && *ab >= -1 && *ab <= 1);
    check(appcast::compareVersions(a, a) == 0);
    const auto bc = appcast::compareVersions(b, c);
    const auto ac = appcast::compareVersions(a, c);
    if (bc && ac && *ab <= 0 && *bc <= 0)
        check(*ac <= 0 && (*ac < 0 || (*ab == 0 && *bc == 0)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto parsed = appcast::parse(input);
    if (const auto *releases = std::get_if<QList<AppcastRelease>>(&parsed)) {
        check(!releases->isEmpty());
        for (const AppcastRelease &release : *releases) {
            check(appcast::compareVersions(release.version, release.version) == 0);
            check(release.downloadURL.isValid() && !release.downloadURL.host().isEmpty());
            check(release.downloadURL.scheme() == u"https" || release.downloadURL.scheme() == u"http");
        }
        QString newest;
        const auto offered = appcast::newestNewerThan(*releases, QStringLiteral("1.0"), &newest);
        check(!newest.isEmpty());
        for (const AppcastRelease &release : *releases) {
            if (offered)
                check(appcast::compareVersions(release.version, offered->version) <= 0);
        }
        if (offered)
            check(appcast::compareVersions(offered->version, QStringLiteral("1.0")) == 1);
    }

    // The input as three versions, split at line breaks.
    const QList<QByteArray> parts = input.left(256).split('\n');
    checkOrder(QString::fromUtf8(parts.value(0)), QString::fromUtf8(parts.value(1)), QString::fromUtf8(parts.value(2)));
    return 0;
}
