#pragma once

#include "app/FirstRunFlow.h"
#include "app/StartupMode.h"
#include "conversation/OverlayViewModel.h"
#include "screen/ScreenCapturePermission.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

namespace nimbel {

class OverlayPanelController;
class StatusItemController;

// Built once when the application has started; lives for the process. Builds
// the long-lived objects in their order (view model, panel, tray item), then
// acts on the start-up mode. Receives the connection links handed to the
// application and the owner's reopening of it.
class FirstRunSession;
class LanguageChoice;
class LaunchAtLoginService;
class UpdateService;

class ApplicationController final : public QObject
{
    Q_OBJECT
public:
    ApplicationController(OverlayViewModel::Services services, OverlayViewModel::Launch launch,
                          ScreenCaptureAccess &screenCapture, QObject *parent = nullptr);
    ~ApplicationController() override;

    // Offers each link in order to the view model; at the first one it
    // handles, opens the chat and brings the panel forward.
    void handleConnectionURLs(const QList<QUrl> &urls);
    // The owner launched the application again: open the chat.
    void reopen();
    // The stored key, read in the background after start-up (a locked keyring
    // asks the owner first): taken unless the view model holds a key already
    // (a test key, or one from a pairing meanwhile), then the agent is synchronized.
    void applyStoredKey(const QString &key);
    // The views or the desktop ask for fresh permission states.
    void refreshPermissions();

    StartupMode mode() const { return m_mode; }
    OverlayViewModel &viewModel() { return *m_viewModel; }
    OverlayPanelController &panelController() { return *m_panelController; }
    StatusItemController &statusItemController() { return *m_statusItemController; }
    FirstRunSession &firstRun() { return *m_firstRun; }

    // The tray's "Check for Updates…" asks this service and shows its answer.
    void setUpdateService(UpdateService *updates);
    // The settings sheet switches launch at login through this service.
    void setLoginItem(LaunchAtLoginService *loginItem);
    // The microphone's permission as the audio server reports it (the
    // introduction's microphone page); unknown until one is given.
    void setMicrophoneAuthorization(std::function<MicrophoneAuthorization()> authorization);

    // The "zelmdesktop:" links among the command-line arguments.
    static QList<QUrl> connectionLinks(const QStringList &arguments);

private:
    void actOnMode(const OverlayViewModel::Launch &launch);
    void showPanel();
    void captureOnly();
    void submitAutomaticQuestion();
    void checkForUpdates();

    Clock &m_clock;
    PreferencesStore &m_preferences;
    ScreenCaptureAccess &m_screenCapture;
    std::unique_ptr<OverlayViewModel> m_viewModel;
    std::unique_ptr<OverlayPanelController> m_panelController;
    std::unique_ptr<StatusItemController> m_statusItemController;
    std::unique_ptr<FirstRunSession> m_firstRun;
    std::unique_ptr<LanguageChoice> m_language;
    std::function<MicrophoneAuthorization()> m_microphoneAuthorization = [] { return MicrophoneAuthorization::unknown; };
    StartupMode m_mode = StartupMode::ordinary;
    UpdateService *m_updates = nullptr;
    bool m_manualCheck = false;
};

} // namespace nimbel
