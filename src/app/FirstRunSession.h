#pragma once

#include "app/FirstRunFlow.h"
#include "app/SystemSettingsPages.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantList>

#include <functional>
#include <optional>

namespace nimbel {

class PreferencesStore;
class ScreenCaptureAccess;

// The first-run introduction while it is shown: the state machine of
// FirstRunFlow over the real permission checks, published for the view.
// Finishing or skipping the last page stores 1 under
// "desktopFirstRunCompletedVersion", so that later launches show only the orb.
class FirstRunSession final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive NOTIFY changed)
    Q_PROPERTY(int step READ stepIndex NOTIFY changed)
    Q_PROPERTY(QString title READ title NOTIFY changed)
    Q_PROPERTY(QString body READ body NOTIFY changed)
    // Each note: {"text": string, "tone": "good" | "warn" | "quiet"}.
    Q_PROPERTY(QVariantList notes READ notes NOTIFY changed)
    Q_PROPERTY(QString positionText READ positionText NOTIFY changed)
    Q_PROPERTY(QString primaryText READ primaryText NOTIFY changed)
    Q_PROPERTY(QString skipText READ skipText NOTIFY changed)
    Q_PROPERTY(bool canGoBack READ canGoBack NOTIFY changed)
    // The screen page's link to what the assistant sees; empty elsewhere.
    Q_PROPERTY(QString privacyLinkText READ privacyLinkText NOTIFY changed)
    // Set when a settings page could not be opened: what to do instead.
    Q_PROPERTY(QString settingsMessage READ settingsMessage NOTIFY changed)

public:
    struct Services
    {
        PreferencesStore &preferences;
        ScreenCaptureAccess &screenCapture;
        // The plain trust check, and the asking one (switches toolkit
        // accessibility on, then checks).
        std::function<bool()> accessibilityTrusted;
        std::function<bool()> askAccessibility;
        std::function<MicrophoneAuthorization()> microphone;
        std::function<bool()> connected;
        std::function<QString()> agentName;
        std::function<QString()> platformAddress;
        std::function<void()> openPlatformConnectionPage;
        // Starts `command` detached; false when it could not be started.
        std::function<bool(const SettingsCommand &)> run;
        std::function<bool(const QString &)> hasProgram;
        // Starts a new instance and ends this one; false when it could not.
        std::function<bool()> relaunch;
        // Opens a web page in the owner's browser; false when none took it.
        std::function<bool(const QUrl &)> openLink = [](const QUrl &) { return false; };
    };

    explicit FirstRunSession(Services services, QObject *parent = nullptr);

    // Whether the introduction is still due (the stored value is below 1).
    static bool isDue(const PreferencesStore &preferences);

    bool isActive() const { return m_state.has_value(); }
    const std::optional<FirstRunState> &state() const { return m_state; }
    int stepIndex() const { return m_state ? int(m_state->step) : -1; }
    QString title() const;
    QString body() const;
    QVariantList notes() const;
    QString positionText() const;
    QString primaryText() const;
    QString skipText() const;
    bool canGoBack() const { return m_state && m_state->step != FirstRunStep::welcome; }
    QString privacyLinkText() const;
    QString settingsMessage() const { return m_settingsMessage; }

    // Forgets the completion and starts at the welcome page with the current permissions.
    Q_INVOKABLE void show();
    // Next page; past the last one the introduction ends and is recorded as done.
    Q_INVOKABLE void advance();
    Q_INVOKABLE void back();
    // The page's primary button.
    Q_INVOKABLE void primary();
    // Fresh permission states (never downgrading a granted one) and connection.
    Q_INVOKABLE void refresh();
    // The platform's page about what the assistant sees, on the configured address.
    Q_INVOKABLE void openPrivacyPage();
    static QUrl privacyPage(const QString &platformAddress);

signals:
    void changed();

private:
    void ask();
    void openSettings(SettingsPage page);
    void setState(std::optional<FirstRunState> state);

    Services m_services;
    std::optional<FirstRunState> m_state;
    QString m_settingsMessage;
};

} // namespace nimbel
