#include "app/FirstRunSession.h"

#include "core/Log.h"
#include "screen/ScreenCapturePermission.h"
#include "settings/Localized.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"

#include <QUrl>
#include <QVariantMap>

namespace nimbel {

namespace {

QString text(const QString &key)
{
    return L::text(key.toLatin1().constData());
}

const char *toneName(FirstRunNoteTone tone)
{
    switch (tone) {
    case FirstRunNoteTone::good:
        return "good";
    case FirstRunNoteTone::warn:
        return "warn";
    case FirstRunNoteTone::quiet:
        break;
    }
    return "quiet";
}

} // namespace

FirstRunSession::FirstRunSession(Services services, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
{
}

bool FirstRunSession::isDue(const PreferencesStore &preferences)
{
    return preferences.integer(keys::desktopFirstRunCompletedVersion).value_or(defaults::firstRunCompletedVersion) < 1;
}

QString FirstRunSession::title() const
{
    return m_state ? text(FirstRunFlow::titleKey(m_state->step)) : QString();
}

QString FirstRunSession::body() const
{
    if (!m_state)
        return QString();
    if (m_state->step == FirstRunStep::connect)
        return L::firstRunConnectBody(QUrl(m_services.platformAddress()).host());
    return text(FirstRunFlow::bodyKey(m_state->step));
}

QVariantList FirstRunSession::notes() const
{
    QVariantList shown;
    if (!m_state)
        return shown;
    for (const FirstRunNote &note : FirstRunFlow::notes(*m_state)) {
        const QString noteText = note.key == u"firstRun.connect.done" ? L::firstRunConnected(m_services.agentName())
                                                                      : text(note.key);
        shown.append(QVariantMap{{QStringLiteral("text"), noteText},
                                 {QStringLiteral("tone"), QString::fromLatin1(toneName(note.tone))}});
    }
    return shown;
}

QString FirstRunSession::positionText() const
{
    if (!m_state)
        return QString();
    const auto position = FirstRunFlow::position(m_state->step);
    return position ? L::firstRunStep(position->first, position->second) : QString();
}

QString FirstRunSession::primaryText() const
{
    return m_state ? text(FirstRunFlow::primaryButton(*m_state).titleKey) : QString();
}

QString FirstRunSession::skipText() const
{
    if (!m_state)
        return QString();
    const auto key = FirstRunFlow::wayOutKey(m_state->step);
    return key ? text(*key) : QString();
}

void FirstRunSession::setState(std::optional<FirstRunState> state)
{
    m_state = state;
    m_settingsMessage.clear();
    emit changed();
}

void FirstRunSession::show()
{
    m_services.preferences.remove(keys::desktopFirstRunCompletedVersion);
    FirstRunState state;
    state.microphone = FirstRunFlow::microphonePermission(m_services.microphone());
    state.screen = m_services.screenCapture.preflight() ? FirstRunPermission::granted : FirstRunPermission::unknown;
    state.accessibility =
        m_services.accessibilityTrusted() ? FirstRunPermission::granted : FirstRunPermission::unknown;
    state.connected = m_services.connected();
    setState(state);
}

void FirstRunSession::advance()
{
    if (!m_state)
        return;
    if (const auto next = FirstRunFlow::next(m_state->step)) {
        FirstRunState state = *m_state;
        state.step = *next;
        setState(state);
        return;
    }
    m_services.preferences.setInteger(keys::desktopFirstRunCompletedVersion, 1);
    log::info(log::general(), log::Record().add(u"event", u"first_run_completed"));
    setState(std::nullopt);
}

void FirstRunSession::back()
{
    if (!m_state)
        return;
    if (const auto previous = FirstRunFlow::previous(m_state->step)) {
        FirstRunState state = *m_state;
        state.step = *previous;
        setState(state);
    }
}

void FirstRunSession::refresh()
{
    if (!m_state)
        return;
    FirstRunState state = *m_state;
    state.microphone = FirstRunFlow::microphonePermission(m_services.microphone());
    if (m_services.screenCapture.preflight())
        state.screen = FirstRunPermission::granted;
    if (m_services.accessibilityTrusted())
        state.accessibility = FirstRunPermission::granted;
    state.connected = m_services.connected();
    if (state != *m_state)
        setState(state);
}

QString FirstRunSession::privacyLinkText() const
{
    return m_state && m_state->step == FirstRunStep::screen ? text("firstRun.screen.whatItSees") : QString();
}

QUrl FirstRunSession::privacyPage(const QString &platformAddress)
{
    QUrl page(platformAddress.trimmed());
    if (!page.isValid() || page.host().isEmpty() || (page.scheme() != u"https" && page.scheme() != u"http"))
        page = QUrl(defaultPlatformURL());
    page.setPath(QStringLiteral("/privacy/mac"));
    page.setQuery(QString());
    page.setFragment(QString());
    return page;
}

void FirstRunSession::openPrivacyPage()
{
    if (!m_services.openLink(privacyPage(m_services.platformAddress()))) {
        m_settingsMessage = L::text("firstRun.settings.noBrowser");
        emit changed();
    }
}

void FirstRunSession::primary()
{
    if (!m_state)
        return;
    switch (FirstRunFlow::primaryButton(*m_state).operation) {
    case FirstRunOperation::firstRunAdvance:
        advance();
        break;
    case FirstRunOperation::firstRunAsk:
        ask();
        break;
    case FirstRunOperation::openMicrophoneSettings:
        openSettings(SettingsPage::microphone);
        break;
    case FirstRunOperation::openScreenRecordingSettings:
        openSettings(SettingsPage::screenRecording);
        break;
    case FirstRunOperation::openAccessibilitySettings:
        openSettings(SettingsPage::accessibility);
        break;
    case FirstRunOperation::restartApplication:
        if (!m_services.relaunch()) {
            m_settingsMessage = L::text("error.restart.failed");
            emit changed();
        }
        break;
    case FirstRunOperation::openPlatformConnectionPage:
        m_services.openPlatformConnectionPage();
        break;
    }
}

void FirstRunSession::ask()
{
    FirstRunState state = *m_state;
    switch (state.step) {
    case FirstRunStep::welcome:
    case FirstRunStep::connect:
        advance();
        return;
    case FirstRunStep::microphone:
        // The audio layer's permission snapshot decides; until it answers
        // "authorized" the page stays, and skipping is always possible.
        state.microphone = FirstRunFlow::microphonePermission(m_services.microphone());
        if (state.microphone == FirstRunPermission::granted) {
            setState(state);
            advance();
            return;
        }
        break;
    case FirstRunStep::screen:
        if (m_services.screenCapture.request() && m_services.screenCapture.preflight()) {
            state.screen = FirstRunPermission::granted;
            setState(state);
            advance();
            return;
        }
        // Granted in the prompt but not yet visible to this process: a restart hands it over.
        state.screen = m_services.screenCapture.preflight() ? FirstRunPermission::granted
                                                            : FirstRunPermission::needsRestart;
        break;
    case FirstRunStep::accessibility:
        if (m_services.askAccessibility()) {
            state.accessibility = FirstRunPermission::granted;
            setState(state);
            advance();
            return;
        }
        state.accessibility = FirstRunPermission::unknown;
        break;
    }
    setState(state);
}

void FirstRunSession::openSettings(SettingsPage page)
{
    const auto command = systemSettings::command(page, m_services.hasProgram);
    if (command && m_services.run(*command)) {
        m_settingsMessage.clear();
    } else {
        m_settingsMessage = page == SettingsPage::screenRecording ? L::text("firstRun.settings.noScreenSwitch")
                                                                  : L::text("firstRun.settings.noTool");
    }
    emit changed();
}

} // namespace nimbel
