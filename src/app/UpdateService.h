#pragma once

#include "app/Appcast.h"
#include "conversation/UpdateStatus.h"
#include "core/Clock.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QProcessEnvironment>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

class QNetworkAccessManager;

namespace nimbel {

class LinkOpener;
class PreferencesStore;

// Checks the update feed, now and on a schedule, and publishes what it found:
// an update is offered only when the feed is read over an allowed transport,
// names a version newer than ours and its download carries a valid Ed25519
// signature by our update key. Anything else leaves the offer as it was and
// says why in `lastUpdateError`; a feed with nothing newer clears it.
class UpdateService final : public QObject, public UpdateStatus
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY stateChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY stateChanged)
    Q_PROPERTY(bool checking READ isChecking NOTIFY stateChanged)
    Q_PROPERTY(QString lastUpdateError READ lastUpdateError NOTIFY stateChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY stateChanged)
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY stateChanged)
    Q_PROPERTY(QString availableVersion READ availableVersion NOTIFY stateChanged)
    Q_PROPERTY(QString releaseNotes READ releaseNotes NOTIFY stateChanged)
    Q_PROPERTY(QUrl releaseNotesURL READ releaseNotesURL NOTIFY stateChanged)
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)

public:
    struct Configuration
    {
        QUrl feed;             // empty: no feed, nothing can be checked
        QByteArray publicKey;  // 32 bytes; empty: nothing can be verified
        QString version;       // ours, compared with the feed's
        QString displayVersion;
    };

    // Feed from the environment or the stored platform address. The key is the
    // one compiled into the build; a key from ZELM_DESKTOP_UPDATE_PUBLIC_KEY is
    // taken only for a feed on this machine (a development platform), so it can
    // never vouch for a download from elsewhere.
    static Configuration configure(const QProcessEnvironment &environment, const PreferencesStore &preferences);

    static constexpr std::chrono::milliseconds firstAutomaticCheck{std::chrono::minutes(1)};
    static constexpr std::chrono::milliseconds checkInterval{std::chrono::hours(24)};
    static constexpr std::chrono::milliseconds transferTimeout{std::chrono::seconds(30)};

    UpdateService(Configuration configuration, Clock &clock, PreferencesStore &preferences, LinkOpener &links,
                  QObject *parent = nullptr);
    ~UpdateService() override;

    bool canCheckForUpdates() const override;
    bool automaticallyChecksForUpdates() const override { return m_automatic; }
    std::optional<QString> lastError() const override;

    void setAutomaticallyChecksForUpdates(bool enabled);
    bool isChecking() const { return m_reply != nullptr; }
    QString lastUpdateError() const { return m_lastError; }
    QString statusText() const { return m_status; }
    bool updateAvailable() const { return m_available.has_value(); }
    QString availableVersion() const { return m_available ? m_available->displayVersion() : QString(); }
    QString releaseNotes() const { return m_available ? m_available->notes : QString(); }
    QUrl releaseNotesURL() const { return m_available ? m_available->notesURL : QUrl(); }
    QString currentVersion() const { return m_configuration.displayVersion; }
    const Configuration &configuration() const { return m_configuration; }

    // A check now; a check already running is not started twice.
    Q_INVOKABLE void checkForUpdates();
    // The offered release's page in the browser; false when nothing is offered
    // or no browser took it.
    Q_INVOKABLE bool openDownloadPage();

signals:
    void stateChanged();
    // A check has ended, whatever its outcome.
    void checkFinished();

private:
    void scheduleNext(std::chrono::milliseconds delay);
    void onFeed(QNetworkReply *reply);
    void onDownload(QNetworkReply *reply, const AppcastRelease &release);
    QNetworkReply *get(const QUrl &url, qint64 limit);
    void fail(const QString &why);
    void finish();

    Configuration m_configuration;
    Clock &m_clock;
    PreferencesStore &m_preferences;
    LinkOpener &m_links;
    QNetworkAccessManager *m_network;
    QPointer<QNetworkReply> m_reply;
    Clock::TimerId m_timer = 0;
    bool m_automatic = true;
    QString m_lastError;
    QString m_status;
    std::optional<AppcastRelease> m_available;
};

} // namespace nimbel
