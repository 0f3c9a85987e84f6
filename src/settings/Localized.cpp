#include "settings/Localized.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QMutex>
#include <QTranslator>

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

namespace nimbel {

namespace {

struct Entry
{
    std::string_view key;
    const char *english;
};

// Every key with its English default, sorted by key. The translations are in
// translations/nimbel_<language>.ts under the same ids; the English one words
// for this desktop the defaults that name another system's places.
constexpr Entry catalogue[] = {
    {"chat.agentConnected", "Tolvo Agent “%1” is connected. You can talk to me now, or open Chat."},
    {"chat.back", "Back to chat"},
    {"chat.close", "Close chat"},
    {"chat.history", "Chat history"},
    {"chat.new", "Start a new conversation"},
    {"chat.placeholder", "Tell me what is unclear…"},
    {"chat.screenshot", "Take a screenshot"},
    {"chat.send", "Send"},
    {"chat.switchPlatform.agent", "A link asks me to move from %1 to the agent “%3” on %2. Your questions and screenshots would then go to %2. Connect to %2?"},
    {"chat.switchPlatform.cancel", "Cancel"},
    {"chat.switchPlatform.connect", "Connect"},
    {"chat.switchPlatform.kept", "Staying connected to %1."},
    {"chat.switchPlatform.pairing", "A link asks me to move from %1 to an agent on %2. Your questions and screenshots would then go to %2. Connect to %2?"},
    {"chat.welcome", "Hi! Show me what is unclear on your screen and I’ll tell you the next step."},
    {"context.screen.app", "The screen showed the application %1."},
    {"context.screen.appWindow", "The screen showed the application %1, window “%2”."},
    {"context.screen.window", "The screen showed the window “%1”."},
    {"context.tag.analyst", "[ANALYST]"},
    {"context.tag.screen", "[SCREEN]"},
    {"error.action.restart", "Restart Nimbel"},
    {"error.action.screenSettings", "Open screen settings"},
    {"error.action.voiceSettings", "Open voice permissions"},
    {"error.gateway.connectionFailed", "Could not connect to Zelm Platform. For the local beta, start the platform on port 4100."},
    {"error.gateway.generic", "That didn’t work — I’ll look into it."},
    {"error.gateway.imageEncoding", "Could not prepare the screenshot."},
    {"error.gateway.invalidBaseURL", "Check the Zelm Platform address."},
    {"error.gateway.invalidResponse", "Zelm Platform returned an invalid response."},
    {"error.gateway.notConnected", "Connect Tolvo Agent on the Zelm Platform page."},
    {"error.gateway.pageContext", "Could not prepare the page context."},
    {"error.keychain.save", "Could not save the Zelm API key to the Keychain."},
    {"error.localstt.denied", "On-device speech recognition is not allowed in the system settings."},
    {"error.localstt.empty", "On-device recognition made nothing of the recording."},
    {"error.localstt.unavailable", "On-device recognition is unavailable for %1."},
    {"error.loginItem", "Could not change launch at login: %1"},
    {"error.mic.denied", "No microphone access. Allow it in the macOS privacy settings."},
    {"error.mic.engine", "macOS could not start the audio input. Check the selected microphone."},
    {"error.mic.recording", "Could not record your voice. Check the microphone and try again."},
    {"error.restart.failed", "Could not start Nimbel again. Quit it and open it from the applications menu."},
    {"error.screen.denied", "Allow Nimbel to record the screen in System Settings → Privacy & Security."},
    {"error.screen.empty", "macOS returned an empty screenshot. Try another window."},
    {"error.screen.noTarget", "Could not find a window or a screen to capture."},
    {"error.screen.restart", "The screen recording permission changed. Restart Nimbel once."},
    {"error.screenQuestion.unavailable", "Screen questions are not available yet."},
    {"error.settings.microphoneUnavailable", "This desktop has no settings tool for the microphone. Choose the input device in your sound settings."},
    {"error.settings.screenUnavailable", "This desktop has no settings tool for screen recording. Allow screen capture in your desktop’s own settings."},
    {"error.title.general", "That did not work"},
    {"error.title.permission", "Permission needed"},
    {"error.voice.audio", "Zelm Platform returned audio we could not play."},
    {"error.voice.playback", "Could not play the agent’s voice."},
    {"firstRun.accessibility.body", "Lets me read the names of buttons and the address of the page you’re on, so I can point at the right thing instead of guessing from the picture. Read-only: I never click anything for you."},
    {"firstRun.accessibility.skipped", "Skipped. Everything still works, except that I won’t know which page a browser is on — so questions about the site in front of you will be answered from the picture alone."},
    {"firstRun.accessibility.title", "Reading labels (optional)"},
    {"firstRun.allow", "Allow"},
    {"firstRun.back", "Back"},
    {"firstRun.connect.body", "Open your console on %1 and press “Connect”. The code comes back to this app by itself — you never copy a key by hand."},
    {"firstRun.connect.done", "Connected to “%1”"},
    {"firstRun.connect.openConsole", "Open the console"},
    {"firstRun.connect.title", "Connect your Zelm account"},
    {"firstRun.connect.waiting", "Waiting for the console…"},
    {"firstRun.continue", "Continue"},
    {"firstRun.done", "Start talking"},
    {"firstRun.granted", "Allowed"},
    {"firstRun.microphone.body", "So you can talk to me instead of typing. It’s open only while a voice conversation is running, and it closes when you hang up."},
    {"firstRun.microphone.refused", "macOS only lets an app ask once, so I can’t ask again from here. The switch is in System Settings → Privacy & Security → Microphone. Without it you can still type to me."},
    {"firstRun.microphone.title", "The microphone"},
    {"firstRun.openSettings", "Open System Settings"},
    {"firstRun.restart", "Restart Zelm"},
    {"firstRun.screen.body", "When you ask something about what you’re looking at, I take one picture of the window in front of you and read it. One picture, per question you ask."},
    {"firstRun.screen.monthly", "macOS will ask you to confirm this again about once a month. That’s macOS, not us — every app that can look at a screen gets the same reminder, and it can’t be switched off."},
    {"firstRun.screen.never", "I never record your screen. Nothing is watched in the background, and nothing is taken unless a question asks for it."},
    {"firstRun.screen.refused", "Fine — I’ll answer everything that doesn’t need the screen. You can turn it on later in System Settings → Privacy & Security → Screen & System Audio Recording."},
    {"firstRun.screen.restart", "macOS doesn’t hand a changed screen permission to an app that’s already running. One restart and it takes effect."},
    {"firstRun.screen.title", "Looking at your screen"},
    {"firstRun.screen.whatItSees", "What Nimbel sees →"},
    {"firstRun.settings.noBrowser", "No web browser opened the page. Open your platform’s web site and look for its privacy page."},
    {"firstRun.settings.noScreenSwitch", "This desktop has no switch for screen pictures: every app may take them, so there is nothing to turn on."},
    {"firstRun.settings.noTool", "No settings tool of this desktop was found. Open your desktop’s settings and look for the microphone or accessibility section."},
    {"firstRun.skip", "Skip for now"},
    {"firstRun.step", "Step %1 of %2"},
    {"firstRun.welcome.body", "I live in the menu bar. Press the sphere and talk to me, or type. I can answer about what’s on your screen when you ask — and I’ll ask for two permissions first, one at a time, explaining each."},
    {"firstRun.welcome.title", "Hello — I’m Nimbel"},
    {"menu.open", "Open Nimbel"},
    {"menu.quit", "Quit"},
    {"menu.screenshot", "Take a screenshot"},
    {"menu.updates", "Check for Updates…"},
    {"orb.collapse", "Collapse chat"},
    {"orb.connectVoice", "Connect voice"},
    {"orb.connected", "Connected"},
    {"orb.end", "End the conversation"},
    {"orb.interrupt", "Interrupt the answer and speak"},
    {"orb.micOff", "Off"},
    {"orb.mute", "Turn the microphone off"},
    {"orb.notConnected", "Not connected"},
    {"orb.open", "Open chat"},
    {"orb.opened", "Open"},
    {"orb.unmute", "Turn the microphone on"},
    {"orb.voiceCall", "Voice call with %1"},
    {"orb.voiceOff", "End the voice session"},
    {"orb.voiceOn", "Start a voice session"},
    {"orb.voiceUnavailable", "Voice conversation is not available yet"},
    {"orb.write", "Write a message"},
    {"permission.allowed", "Allowed"},
    {"permission.denied", "Denied"},
    {"permission.needed", "Permission needed"},
    {"permission.notRequested", "Not requested"},
    {"permission.restricted", "Restricted"},
    {"permission.screenRecording", "Screen Recording"},
    {"permission.unknown", "Unknown"},
    {"sent.accessibility", "Accessibility summary"},
    {"sent.address", "Page address"},
    {"sent.close", "Close"},
    {"sent.controls", "Controls"},
    {"sent.digest", "Checksum (SHA-256): %1"},
    {"sent.lines", "Recognised lines"},
    {"sent.none", "Nothing"},
    {"sent.open", "What was sent"},
    {"sent.picture", "Picture: %1 × %2 pixels, %3 bytes"},
    {"sent.summary", "Screen summary"},
    {"sent.title", "What left this computer for the question"},
    {"sent.withheld", "Lines withheld as secrets, and covered in the picture above: %1."},
    {"settings.agentNotConnected", "Agent not connected"},
    {"settings.autoUpdate", "Update automatically"},
    {"settings.autoUpdate.hint", "Nimbel checks for new versions in the background."},
    {"settings.change", "Change"},
    {"settings.check", "Check"},
    {"settings.chooseAgent", "Choose an agent in your console"},
    {"settings.connect", "Connect"},
    {"settings.highlight", "Show me where"},
    {"settings.highlight.hint", "A ring on the screen around the control an answer points at, for a few seconds."},
    {"settings.highlight.unavailable", "Needs an X11 session."},
    {"settings.labels", "Interface labels"},
    {"settings.labels.hint", "Optional read-only Accessibility context."},
    {"settings.language.en", "English"},
    {"settings.language.restartHint", "Nimbel restarts to change its language."},
    {"settings.language.ru", "Русский"},
    {"settings.language.system", "Same as macOS"},
    {"settings.launchAtLogin", "Launch with macOS"},
    {"settings.launchAtLogin.hint", "The agent stays reachable in every space."},
    {"settings.microphone", "Microphone"},
    {"settings.noRedownload", "No need to download the DMG again."},
    {"settings.noUpdateChecker", "this build has no update checker."},
    {"settings.platformAddress", "Platform address"},
    {"settings.platformConnected", "Zelm Platform connected"},
    {"settings.privacy", "What Nimbel sees"},
    {"settings.privacy.hint", "One screenshot per question you ask, never a recording — and a straight answer about what leaves your Mac."},
    {"settings.recheckPermissions", "Check permissions again"},
    {"settings.save", "Save"},
    {"settings.section.connection", "Connection"},
    {"settings.section.language", "Language"},
    {"settings.section.privacy", "Privacy"},
    {"settings.section.screen", "Screen context"},
    {"settings.section.updates", "Updates"},
    {"settings.section.voice", "Voice"},
    {"settings.shortcut", "Voice shortcut"},
    {"settings.shortcut.recording", "Press the keys…"},
    {"settings.shortcut.taken", "Taken by another program. Choose another combination."},
    {"settings.shortcut.unavailable", "Global shortcuts need an X11 session."},
    {"settings.shortcut.unsupported", "This combination cannot be used. Include Ctrl, Alt or Super."},
    {"settings.showFirstRun", "Show the introduction again"},
    {"settings.speakAnswers", "Speak answers"},
    {"settings.speakAnswers.hint", "Nimbel reads its hints out loud."},
    {"settings.title", "Settings"},
    {"settings.transcription", "Zelm Platform transcription"},
    {"settings.update.download", "Open the download page"},
    {"settings.updateUnavailable", "Updates unavailable: %1"},
    {"settings.version", "Version %1"},
    {"skill.screenUnderstandingOff", "The “Understand what is on screen” skill is switched off in the Tolvo Agent settings."},
    {"skill.screenshotOff", "The “Take a screenshot” skill is switched off in the Tolvo Agent settings."},
    {"skill.voiceOff", "Voice mode is switched off in the Tolvo Agent settings."},
    {"speech.notHeard", "I didn’t catch that. Please say it again."},
    {"speech.platformUnavailable", "The platform is unreachable — nothing was transcribed."},
    {"speech.serviceUnavailable", "Speech recognition is unavailable."},
    {"state.analyzing", "Working it out…"},
    {"state.answered", "Answer ready"},
    {"state.captured", "Screenshot ready"},
    {"state.capturing", "Looking at the screen…"},
    {"state.failed", "Needs a check"},
    {"state.ready", "Ready"},
    {"status.agentSpeaking", "%1 is answering — you can interrupt by speaking"},
    {"status.answering", "Answering…"},
    {"status.checkPermissions", "Check permissions"},
    {"status.listening", "Listening…"},
    {"status.listeningToYou", "Listening to you…"},
    {"status.listeningWillSend", "Listening… I’ll send it after a short pause."},
    {"status.micOff", "Microphone off"},
    {"status.online", "Online · I look at the screen when you ask"},
    {"status.requestingMic", "Asking for microphone access…"},
    {"status.stopped", "Stopped"},
    {"status.thinking", "Thinking…"},
    {"status.transcribing", "Transcribing…"},
    {"status.voiceConnected", "Voice connected"},
    {"status.voiceOff", "Voice off"},
    {"status.voiceReady", "Voice ready"},
    {"status.voiceUnavailable", "The agent’s voice is unavailable right now."},
    {"transcript.warning", "Warning: %1"},
    {"tray.tooltip", "Nimbel: type a question about your screen"},
    {"update.available", "Version %1 is available."},
    {"update.checking", "Checking for updates…"},
    {"update.error.badSignature", "The download of version %1 is not signed with the release key."},
    {"update.error.download", "Could not download version %1 to verify it."},
    {"update.error.insecureFeed", "Updates are only accepted over HTTPS."},
    {"update.error.malformed", "The update feed could not be read."},
    {"update.error.network", "Could not reach the update feed: %1"},
    {"update.error.noFeed", "No update feed is configured."},
    {"update.error.noKey", "This build has no key to verify updates with."},
    {"update.error.noRelease", "The update feed lists no release."},
    {"update.error.tooLarge", "The update feed is too large."},
    {"update.error.unsigned", "Version %1 is offered without a signature."},
    {"update.notNewer", "No update: the feed offers %1, this is %2."},
    {"update.upToDate", "Nimbel %1 is up to date."},
};

static_assert(std::is_sorted(std::begin(catalogue), std::end(catalogue),
                             [](const Entry &a, const Entry &b) { return a.key < b.key; }),
              "the catalogue must stay sorted by key");

const Entry *find(std::string_view key)
{
    const auto it = std::lower_bound(std::begin(catalogue), std::end(catalogue), key,
                                     [](const Entry &entry, std::string_view wanted) { return entry.key < wanted; });
    if (it == std::end(catalogue) || it->key != key)
        return nullptr;
    return &*it;
}

QMutex translatorMutex;
std::unique_ptr<QTranslator> installedTranslator;

} // namespace

namespace L {

QString text(const char *key)
{
    const Entry *entry = find(key);
    if (!entry) {
        log::error(log::general(), log::Record().add(u"catalogue_missing_key", key));
        return QString::fromUtf8(key);
    }
    // Without a translation for the id, Qt hands the id back.
    const QString translated = qtTrId(key);
    if (translated != QLatin1String(key))
        return translated;
    return QString::fromUtf8(entry->english);
}

QString chatAgentConnected(const QString &agentName)
{
    return L::text("chat.agentConnected").arg(agentName);
}

QString errorLocalSpeechUnavailable(const QString &language)
{
    return L::text("error.localstt.unavailable").arg(language);
}

QString contextScreenWindow(const QString &title)
{
    return L::text("context.screen.window").arg(title);
}

QString contextScreenApplication(const QString &app)
{
    return L::text("context.screen.app").arg(app);
}

QString contextScreenApplicationWindow(const QString &app, const QString &title)
{
    // One pass over both values, so a "%2" inside the application name stays text.
    return L::text("context.screen.appWindow").arg(app, title);
}

QString firstRunStep(int n, int count)
{
    return L::text("firstRun.step").arg(QString::number(n), QString::number(count));
}

QString firstRunConnected(const QString &agent)
{
    return L::text("firstRun.connect.done").arg(agent);
}

QString firstRunConnectBody(const QString &address)
{
    return L::text("firstRun.connect.body").arg(address);
}

QString settingsUpdateUnavailable(const QString &error)
{
    return L::text("settings.updateUnavailable").arg(error);
}

QString settingsVersion(const QString &version)
{
    return L::text("settings.version").arg(version);
}

QString orbVoiceCall(const QString &agent)
{
    return L::text("orb.voiceCall").arg(agent);
}

QString statusAgentSpeaking(const QString &agent)
{
    return L::text("status.agentSpeaking").arg(agent);
}

QString transcriptWarning(const QString &note)
{
    return L::text("transcript.warning").arg(note);
}

QStringList keys()
{
    QStringList all;
    all.reserve(qsizetype(std::size(catalogue)));
    for (const Entry &entry : catalogue)
        all.append(QString::fromLatin1(entry.key.data(), qsizetype(entry.key.size())));
    return all;
}

bool contains(const char *key)
{
    return find(key) != nullptr;
}

QString englishDefault(const char *key)
{
    const Entry *entry = find(key);
    return entry ? QString::fromUtf8(entry->english) : QString();
}

} // namespace L

QString translationResource(AppLanguage language)
{
    switch (language) {
    case AppLanguage::ru:
        return QStringLiteral(":/nimbel/i18n/nimbel_ru.qm");
    case AppLanguage::en:
        break;
    }
    return QStringLiteral(":/nimbel/i18n/nimbel_en.qm");
}

bool installTranslations(AppLanguage language)
{
    if (!QCoreApplication::instance())
        return false;
    QMutexLocker lock(&translatorMutex);
    std::unique_ptr<QTranslator> translator;
    const QString resource = translationResource(language);
    if (!resource.isEmpty()) {
        translator = std::make_unique<QTranslator>();
        if (!translator->load(resource)) {
            log::error(log::general(), log::Record().add(u"translation_not_loaded", resource));
            return false;
        }
    }
    if (installedTranslator)
        QCoreApplication::removeTranslator(installedTranslator.get());
    installedTranslator = std::move(translator);
    if (installedTranslator)
        QCoreApplication::installTranslator(installedTranslator.get());
    return true;
}

} // namespace nimbel
