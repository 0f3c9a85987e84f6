#include "app/ApplicationController.h"

#include "app/FirstRunSession.h"
#include "app/LanguageChoice.h"
#include "app/LaunchAtLoginService.h"
#include "app/OverlayPanelController.h"
#include "app/StatusItemController.h"
#include "app/UpdateService.h"
#include "conversation/AccessibilityTrust.h"
#include "core/Clock.h"
#include "screen/linux/AccessibilityBusStatus.h"
#include "core/Log.h"
#include "conversation/DesktopActions.h"
#include "conversation/LinkOpener.h"
#include "settings/Localized.h"
#include "settings/PreferencesStore.h"

#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <limits>

namespace nimbel {

ApplicationController::ApplicationController(OverlayViewModel::Services services, OverlayViewModel::Launch launch,
                                             ScreenCaptureAccess &screenCapture, QObject *parent)
    : QObject(parent)
    , m_clock(services.clock)
    , m_preferences(services.preferences)
    , m_screenCapture(screenCapture)
{
    // The view model loads the settings (and starts a configuration sync when it holds a key).
    m_viewModel = std::make_unique<OverlayViewModel>(services, launch);
    m_panelController = std::make_unique<OverlayPanelController>(*m_viewModel, m_preferences, m_clock);
    connect(m_panelController.get(), &OverlayPanelController::permissionRefreshRequested, this,
            &ApplicationController::refreshPermissions);
    m_statusItemController = std::make_unique<StatusItemController>(StatusItemController::Actions{
        .showPanel = [this] { showPanel(); },
        .captureScreen =
            [this] {
                showPanel();
                captureOnly();
            },
        .checkForUpdates = [this] { checkForUpdates(); },
    });
    if (!m_viewModel->canCheckForUpdates())
        m_statusItemController->disableUpdateCheck(L::settingsUpdateUnavailable(L::text("settings.noUpdateChecker")));
    m_firstRun = std::make_unique<FirstRunSession>(FirstRunSession::Services{
        .preferences = services.preferences,
        .screenCapture = services.screenCaptureAccess,
        .accessibilityTrusted = [&trust = services.accessibilityTrust] { return trust.isTrusted(); },
        // Asking switches toolkit accessibility on, which is what grants it here.
        .askAccessibility =
            [bus = std::make_shared<AccessibilityBusStatus>()] {
                bus->enableToolkitAccessibility();
                return bus->isTrusted();
            },
        .microphone = [this] { return m_microphoneAuthorization(); },
        .connected = [this] { return m_viewModel->isPlatformConnected(); },
        .agentName = [this] { return m_viewModel->connectedAgentName(); },
        .platformAddress = [this] { return m_viewModel->gatewayBaseURL(); },
        .openPlatformConnectionPage = [this] { m_viewModel->openPlatformConnectionPage(); },
        .run = [](const SettingsCommand &command) { return QProcess::startDetached(command.program, command.arguments); },
        .hasProgram = [](const QString &program) { return !QStandardPaths::findExecutable(program).isEmpty(); },
        .relaunch = [&desktop = services.desktop] { return desktop.relaunch(); },
        .openLink = [&links = services.links](const QUrl &url) { return links.open(url); },
    });
    // Pairing turns the connect page's button into "Start talking".
    connect(m_viewModel.get(), &OverlayViewModel::isPlatformConnectedChanged, m_firstRun.get(),
            &FirstRunSession::refresh);
    m_language = std::make_unique<LanguageChoice>(m_preferences, [this] { m_viewModel->restartApplication(); });
    m_panelController->attach({.firstRun = m_firstRun.get(), .language = m_language.get()});
    actOnMode(launch);
}

ApplicationController::~ApplicationController() = default;

QList<QUrl> ApplicationController::connectionLinks(const QStringList &arguments)
{
    QList<QUrl> links;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QUrl url(arguments[i], QUrl::StrictMode);
        if (url.isValid() && url.scheme().compare(u"zelmdesktop", Qt::CaseInsensitive) == 0)
            links << url;
    }
    return links;
}

void ApplicationController::actOnMode(const OverlayViewModel::Launch &launch)
{
    const auto variable = launch.environment.contains(QStringLiteral("ZELM_DESKTOP_QA_MODE"))
                              ? std::optional(launch.environment.value(QStringLiteral("ZELM_DESKTOP_QA_MODE")))
                              : std::nullopt;
    m_mode = chooseStartupMode(variable, launch.arguments);
    log::info(log::general(), log::Record().add(u"event", u"startup").add(u"mode", variable.value_or(QStringLiteral("ordinary"))));

    switch (m_mode) {
    case StartupMode::expanded:
        m_viewModel->openChat();
        m_panelController->bringToFront();
        break;
    case StartupMode::capture:
        m_viewModel->openChat();
        m_panelController->bringToFront();
        // The capture runs once, after the panel has settled.
        m_clock.schedule(startup::captureDelay, [this] { captureOnly(); });
        break;
    case StartupMode::ask: {
        m_viewModel->openChat();
        m_panelController->bringToFront();
        const auto question = launch.environment.contains(QStringLiteral("ZELM_DESKTOP_QA_QUESTION"))
                                  ? std::optional(launch.environment.value(QStringLiteral("ZELM_DESKTOP_QA_QUESTION")))
                                  : std::nullopt;
        m_viewModel->setQuestion(askQuestion(question));
        const auto delayValue = launch.environment.contains(QStringLiteral("ZELM_DESKTOP_QA_DELAY_MS"))
                                    ? std::optional(launch.environment.value(QStringLiteral("ZELM_DESKTOP_QA_DELAY_MS")))
                                    : std::nullopt;
        // A timer holds at most INT_MAX ms (about 24 days); a larger test delay waits that long.
        const Milliseconds delay = std::min(askDelay(delayValue), Milliseconds(std::numeric_limits<int>::max()));
        m_clock.schedule(delay, [this] { submitAutomaticQuestion(); });
        break;
    }
    case StartupMode::ordinary:
    case StartupMode::selftest: // handled before anything is built; never reaches here
        m_viewModel->closeChat();
        m_panelController->bringToFront();
        if (FirstRunSession::isDue(m_preferences)) {
            // A profile that has never completed the introduction starts in the chat.
            m_viewModel->openChat();
            m_panelController->bringToFront();
            m_firstRun->show();
        }
        break;
    }
}

void ApplicationController::handleConnectionURLs(const QList<QUrl> &urls)
{
    for (const QUrl &url : urls) {
        const bool handled = m_viewModel->applyPlatformConnection(url);
        log::info(log::general(), log::Record()
                                      .add(u"event", u"connection_link")
                                      .add(u"scheme", url.scheme())
                                      .add(u"host", url.host())
                                      .add(u"handled", handled));
        if (handled) {
            m_viewModel->openChat();
            m_panelController->bringToFront();
            return;
        }
    }
}

void ApplicationController::reopen()
{
    showPanel();
}

void ApplicationController::showPanel()
{
    m_viewModel->openChat();
    m_panelController->bringToFront();
    refreshPermissions();
}

void ApplicationController::applyStoredKey(const QString &key)
{
    if (key.trimmed().isEmpty() || !m_viewModel->platformAPIKey().trimmed().isEmpty())
        return;
    m_viewModel->setPlatformAPIKey(key);
    m_viewModel->platformLink().startForcedSynchronization();
    m_firstRun->refresh();
}

void ApplicationController::refreshPermissions()
{
    m_viewModel->setScreenCapturePermissionGranted(m_screenCapture.preflight());
    m_viewModel->refreshVoicePermissions();
    m_firstRun->refresh();
}

void ApplicationController::captureOnly()
{
    m_viewModel->captureOnly();
}

void ApplicationController::submitAutomaticQuestion()
{
    m_viewModel->submitQuestion(true);
}

void ApplicationController::setLoginItem(LaunchAtLoginService *loginItem)
{
    m_panelController->attach({.loginItem = loginItem});
    connect(loginItem, &LaunchAtLoginService::enabledChanged, m_viewModel.get(),
            [this, loginItem] { m_viewModel->setLaunchAtLogin(loginItem->isEnabled()); });
}

void ApplicationController::setMicrophoneAuthorization(std::function<MicrophoneAuthorization()> authorization)
{
    m_microphoneAuthorization = std::move(authorization);
}

void ApplicationController::setUpdateService(UpdateService *updates)
{
    m_updates = updates;
    m_panelController->attach({.updates = updates});
    connect(updates, &UpdateService::checkFinished, this, [this] {
        if (std::exchange(m_manualCheck, false))
            m_statusItemController->notify(m_updates->statusText());
    });
}

void ApplicationController::checkForUpdates()
{
    if (!m_updates)
        return;
    m_manualCheck = true;
    // A check that cannot start finishes at once and says why.
    m_updates->checkForUpdates();
}

} // namespace nimbel
