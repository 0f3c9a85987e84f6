#include "app/UpdateService.h"

#include "app/AppMetadata.h"
#include "conversation/LinkOpener.h"
#include "core/Log.h"
#include "settings/Localized.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace nimbel {

namespace {

constexpr char publicKeyVariable[] = "ZELM_DESKTOP_UPDATE_PUBLIC_KEY";

QByteArray decodeKey(const QByteArray &base64)
{
    const auto decoded = QByteArray::fromBase64Encoding(base64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? *decoded : QByteArray();
}

QString problemText(appcast::Problem problem)
{
    switch (problem) {
    case appcast::Problem::tooLarge:
        return L::text("update.error.tooLarge");
    case appcast::Problem::noRelease:
        return L::text("update.error.noRelease");
    case appcast::Problem::malformed:
        break;
    }
    return L::text("update.error.malformed");
}

} // namespace

UpdateService::Configuration UpdateService::configure(const QProcessEnvironment &environment,
                                                      const PreferencesStore &preferences)
{
    Configuration configuration;
    configuration.feed = updateFeed::feedURL(environment.value(QString::fromLatin1(updateFeed::feedVariable)),
                                             preferences.string(keys::desktopPlatformBaseURL).value_or(QString()),
                                             defaultPlatformURL());
    configuration.publicKey = decodeKey(QByteArray(appmeta::updatePublicKey));
    const QString developmentKey = environment.value(QString::fromLatin1(publicKeyVariable));
    if (!developmentKey.isEmpty() && updateFeed::isLoopback(configuration.feed))
        configuration.publicKey = decodeKey(developmentKey.toLatin1());
    configuration.version = QString::fromLatin1(appmeta::buildVersion);
    configuration.displayVersion = QString::fromLatin1(appmeta::buildVersion);
    return configuration;
}

UpdateService::UpdateService(Configuration configuration, Clock &clock, PreferencesStore &preferences,
                             LinkOpener &links, QObject *parent)
    : QObject(parent)
    , m_configuration(std::move(configuration))
    , m_clock(clock)
    , m_preferences(preferences)
    , m_links(links)
    , m_network(new QNetworkAccessManager(this))
    , m_automatic(preferences.boolean(keys::desktopAutomaticallyChecksForUpdates).value_or(true))
{
    m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    if (m_automatic)
        scheduleNext(firstAutomaticCheck);
}

UpdateService::~UpdateService()
{
    m_clock.cancel(m_timer);
    if (m_reply)
        m_reply->abort();
}

bool UpdateService::canCheckForUpdates() const
{
    return !m_configuration.feed.isEmpty() && m_configuration.publicKey.size() == 32 && !isChecking();
}

std::optional<QString> UpdateService::lastError() const
{
    if (m_lastError.isEmpty())
        return std::nullopt;
    return m_lastError;
}

void UpdateService::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (enabled == m_automatic)
        return;
    m_automatic = enabled;
    m_preferences.setBoolean(keys::desktopAutomaticallyChecksForUpdates, enabled);
    m_clock.cancel(m_timer);
    m_timer = 0;
    if (enabled)
        scheduleNext(firstAutomaticCheck);
    emit stateChanged();
}

void UpdateService::scheduleNext(std::chrono::milliseconds delay)
{
    m_clock.cancel(m_timer);
    m_timer = m_clock.schedule(delay, [this] {
        m_timer = 0;
        if (!m_automatic)
            return;
        // A build or feed that can never be checked is not reported daily.
        if (canCheckForUpdates())
            checkForUpdates();
        scheduleNext(checkInterval);
    });
}

QNetworkReply *UpdateService::get(const QUrl &url, qint64 limit)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(int(transferTimeout.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    QNetworkReply *reply = m_network->get(request);
    // Refused unread past the limit: the answer's own length first, then what arrives.
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, limit] {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > limit)
            reply->setProperty("tooLarge", true), reply->abort();
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, limit](qint64 received, qint64) {
        if (received > limit)
            reply->setProperty("tooLarge", true), reply->abort();
    });
    return reply;
}

void UpdateService::checkForUpdates()
{
    if (isChecking())
        return;
    const QUrl feed = m_configuration.feed;
    if (feed.isEmpty()) {
        fail(L::text("update.error.noFeed"));
        finish();
        return;
    }
    if (!updateFeed::isAllowedTransport(feed)) {
        fail(L::text("update.error.insecureFeed"));
        finish();
        return;
    }
    if (m_configuration.publicKey.size() != 32) {
        fail(L::text("update.error.noKey"));
        finish();
        return;
    }
    m_reply = get(feed, appcast::maximumFeedBytes);
    QNetworkReply *reply = m_reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onFeed(reply); });
    m_status = L::text("update.checking");
    emit stateChanged();
}

void UpdateService::onFeed(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    if (reply->property("tooLarge").toBool()) {
        fail(L::text("update.error.tooLarge"));
        return finish();
    }
    if (reply->error() != QNetworkReply::NoError) {
        fail(L::text("update.error.network").arg(reply->errorString()));
        return finish();
    }
    const auto parsed = appcast::parse(reply->readAll());
    if (const auto *problem = std::get_if<appcast::Problem>(&parsed)) {
        fail(problemText(*problem));
        return finish();
    }
    QString newest;
    const auto release =
        appcast::newestNewerThan(std::get<QList<AppcastRelease>>(parsed), m_configuration.version, &newest);
    if (!release) {
        // Nothing newer is the ordinary outcome: not an error.
        m_lastError.clear();
        m_available.reset();
        m_status = appcast::compareVersions(newest, m_configuration.version).value_or(0) == 0
                       ? L::text("update.upToDate").arg(m_configuration.displayVersion)
                       : L::text("update.notNewer").arg(newest, m_configuration.displayVersion);
        return finish();
    }
    if (release->signature.isEmpty()) {
        fail(L::text("update.error.unsigned").arg(release->displayVersion()));
        return finish();
    }
    // A download from elsewhere than the feed's own kind of transport is not fetched.
    if (!updateFeed::isAllowedTransport(release->downloadURL)
        || (updateFeed::isLoopback(m_configuration.feed) != updateFeed::isLoopback(release->downloadURL))) {
        fail(L::text("update.error.insecureFeed"));
        return finish();
    }
    if (release->length > appcast::maximumDownloadBytes) {
        fail(L::text("update.error.download").arg(release->displayVersion()));
        return finish();
    }
    m_reply = get(release->downloadURL, appcast::maximumDownloadBytes);
    QNetworkReply *download = m_reply;
    connect(download, &QNetworkReply::finished, this, [this, download, r = *release] { onDownload(download, r); });
}

void UpdateService::onDownload(QNetworkReply *reply, const AppcastRelease &release)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    if (reply->error() != QNetworkReply::NoError) {
        fail(L::text("update.error.download").arg(release.displayVersion()));
        return finish();
    }
    if (!appcast::verifySignature(reply->readAll(), release.signature, m_configuration.publicKey)) {
        fail(L::text("update.error.badSignature").arg(release.displayVersion()));
        return finish();
    }
    m_lastError.clear();
    m_available = release;
    m_status = L::text("update.available").arg(release.displayVersion());
    log::info(log::general(), log::Record().add(u"update", u"available").add(u"version", release.version));
    finish();
}

void UpdateService::fail(const QString &why)
{
    // The offer (if any) stays as it was: a failed check proves nothing about it.
    m_lastError = why;
    m_status = L::settingsUpdateUnavailable(why);
    log::error(log::general(), log::Record()
                                   .add(u"update", u"check_failed")
                                   .add(u"reason", why)
                                   .add(u"feed", m_configuration.feed.toString()));
}

void UpdateService::finish()
{
    emit stateChanged();
    emit checkFinished();
}

bool UpdateService::openDownloadPage()
{
    if (!m_available)
        return false;
    return m_links.open(m_available->downloadPage());
}

} // namespace nimbel
