#include "app/ApplicationController.h"
#include "app/DesktopServices.h"
#include "app/GlobalShortcut.h"
#include "app/HighlightController.h"
#include "app/HighlightSettings.h"
#include "app/HighlightWindow.h"
#include "app/LaunchAtLoginService.h"
#include "app/OverlayPanelController.h"
#include "app/ScreenHighlight.h"
#include "app/SelfTest.h"
#include "app/SingleInstance.h"
#include "app/StartupMode.h"
#include "app/TerminationSignals.h"
#include "app/UpdateService.h"
#include "conversation/LinkOpener.h"
#include "conversation/VoiceSentencePipeline.h"
#include "core/SystemClock.h"
#include "gateway/VisionGatewayClient.h"
#include "screen/LocalScreenContextPreparer.h"
#include "screen/ScreenImageEncoder.h"
#include "screen/linux/AtspiAccessibilityContextService.h"
#include "screen/linux/AtspiElementLocator.h"
#include "screen/linux/X11FrontmostAppTracker.h"
#include "screen/linux/X11InputWatch.h"
#include "screen/linux/X11ScreenCaptureAccess.h"
#include "screen/linux/X11ScreenCaptureService.h"
#include "screen/linux/X11WindowWatch.h"
#include "settings/AppLanguage.h"
#include "settings/KeychainTokenStore.h"
#include "settings/Localized.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"
#include "settings/SettingsLoader.h"
#include "voice/EchoCanceller.h"
#include "voice/OnDeviceTranscriber.h"
#include "voice/SessionCueService.h"
#include "voice/SpeechRecognitionService.h"
#include "voice/VoiceOutputService.h"
#include "voice/linux/PocketSphinxRecognizer.h"
#include "voice/linux/PulseAudioCapture.h"
#include "voice/linux/PulseAudioPlayback.h"
#include "voice/linux/PulseAudioServer.h"

#include <QApplication>
#include <QIcon>
#include <QSettings>
#include <QTextStream>

#include <QtQml/QQmlExtensionPlugin>

#include <cstdio>

Q_IMPORT_QML_PLUGIN(Nimbel_UiPlugin)

using namespace nimbel;

namespace {

int runSelfTest(int argc, char **argv)
{
    // No display, no window: the report needs nothing but the application object.
    QCoreApplication app(argc, argv);
    const SelfTest selfTest(
        BundleInfo::compiledIn(), [](const QString &key) { return L::text(key.toUtf8().constData()); },
        [](QSettings &settings) {
            PreferencesStore preferences(&settings);
            const AppLanguage language = appLanguage::current(preferences);
            installTranslations(language);
            return appLanguage::code(language);
        });
    QTextStream out(stdout);
    return selfTest.run(out);
}

} // namespace

int main(int argc, char **argv)
{
    if (environmentValue(startup::modeVariable) == QStringLiteral("selftest"))
        return runSelfTest(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nimbel"));
    QApplication::setApplicationVersion(QStringLiteral(NIMBEL_VERSION_TEXT));
    QGuiApplication::setDesktopFileName(QStringLiteral(NIMBEL_DESKTOP_FILE_NAME_TEXT));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/nimbel/icons/nimbel.svg")));
    // The assistant lives in the tray: closing its panel never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList arguments = QCoreApplication::arguments();
    const QList<QUrl> links = ApplicationController::connectionLinks(arguments);

    SingleInstance instance(SingleInstance::defaultSocketPath());
    QStringList linkTexts;
    for (const QUrl &link : links)
        linkTexts << link.toString(QUrl::FullyEncoded);
    if (instance.claim(linkTexts) == SingleInstance::Role::secondary)
        return 0;

    std::unique_ptr<QSettings> settings = PreferencesStore::openUserSettings();
    PreferencesStore preferences(settings.get());
    const AppLanguage language = appLanguage::current(preferences);
    installTranslations(language);

    KeychainTokenStore tokenStore;
    // A locked keyring asks the owner for its password: the panel and the tray
    // come up meanwhile, and the key joins when the owner has answered.
    const auto testKey = testKeyCandidate(QProcessEnvironment::systemEnvironment(), arguments);
    if (!isTestMode(QProcessEnvironment::systemEnvironment(), arguments) || !testKey || testKey->isEmpty())
        tokenStore.loadInBackground();
    const TerminationSignals terminationSignals;
    PulseAudioServer audioServer(QStringLiteral("Nimbel"));
    PulseAudioCapture audioInput(audioServer);
    // The assistant's own voice, played through the speakers, is taken out of
    // the microphone. Outlives the microphone and the players that feed it.
    const std::unique_ptr<EchoCanceller> echoCanceller = EchoCanceller::create();
    PulseAudioPlayback audioOutput(audioServer);
    audioOutput.setEchoCanceller(echoCanceller.get());
    PocketSphinxRecognizer speechRecognizer;
    OnDeviceTranscriber onDeviceTranscriber(speechRecognizer);
    SessionCueService cues(audioOutput);
    VoiceOutputService player(audioOutput, SystemClock::instance());
    SpeechRecognitionService microphone(audioInput, SystemClock::instance(), {}, &speechRecognizer);
    microphone.setDraftLanguage(appLanguage::code(language));
    microphone.setEchoCanceller(echoCanceller.get());
    microphone.setPreferredSource(preferences.string(keys::microphoneSource).value_or(QString()));
    QObject::connect(&microphone, &SpeechRecognitionService::preferredSourceChanged, &microphone,
                     [&] { preferences.setString(keys::microphoneSource, microphone.preferredSource()); });
    BusAccessibilityTrust accessibilityTrust;
    X11ScreenCaptureAccess screenCaptureAccess;
    LaunchAtLoginService loginItem;
    DesktopLinkOpener linkOpener;
    UpdateService updates(UpdateService::configure(QProcessEnvironment::systemEnvironment(), preferences),
                          SystemClock::instance(), preferences, linkOpener);
    X11FrontmostAppTracker appTracker;
    X11ScreenCaptureService screenCapture(appTracker, screenCaptureAccess, SystemClock::instance());
    AtspiAccessibilityContextService accessibilityContext;
    LocalScreenContextPreparer screenContextPreparer;
    VisionGatewayClient gateway(SystemClock::instance());
    VoiceSentencePipeline voiceOutput(gateway, player, SystemClock::instance(), language);
    ScreenImageEncoder imageEncoder;
    LinuxDesktopActions desktop([&instance] { instance.release(); },
                                [&instance] { instance.claim({}); });

    OverlayViewModel::Services services{SystemClock::instance(), preferences, tokenStore, voiceOutput, microphone,
                                        accessibilityTrust, screenCaptureAccess, loginItem, updates, gateway,
                                        linkOpener, desktop, imageEncoder};
    services.screenCapture = &screenCapture;
    services.appTracker = &appTracker;
    services.accessibilityContext = &accessibilityContext;
    services.screenContextPreparer = &screenContextPreparer;
    services.onDeviceTranscriber = &onDeviceTranscriber;
    services.cues = &cues;
    services.microphoneService = &microphone;
    // "Show me where": its switch exists before any view that binds to it.
    HighlightSettings highlightSettings(preferences, QGuiApplication::platformName() == u"xcb");
    HighlightSettings::setInstance(&highlightSettings);
    ApplicationController controller(services,
                                     OverlayViewModel::Launch{QProcessEnvironment::systemEnvironment(), arguments},
                                     screenCaptureAccess);

    controller.setUpdateService(&updates);
    controller.setLoginItem(&loginItem);
    controller.setMicrophoneAuthorization([&audioInput] {
        switch (audioInput.authorization()) {
        case PermissionState::notDetermined: return MicrophoneAuthorization::notDetermined;
        case PermissionState::authorized: return MicrophoneAuthorization::authorized;
        case PermissionState::denied: return MicrophoneAuthorization::denied;
        case PermissionState::restricted: return MicrophoneAuthorization::restricted;
        case PermissionState::unknown: break;
        }
        return MicrophoneAuthorization::unknown;
    });
    controller.viewModel().voiceSession().listenTo(microphone);

    // Starts and ends a voice session from any application (its row in the settings shows it).
    GlobalShortcut voiceShortcut(preferences);
    controller.panelController().setGlobalShortcut(&voiceShortcut);
    QObject::connect(&voiceShortcut, &GlobalShortcut::activated, &controller,
                     [&controller] { controller.viewModel().activateVoiceOrb(); });

    X11WindowWatch windowWatch;
    AtspiElementLocator elementLocator;
    HighlightWindow highlightWindow;
    HighlightController highlightController(SystemClock::instance(), windowWatch, highlightWindow, &elementLocator);
    X11InputWatch inputWatch;
    const ScreenHighlight screenHighlight(controller.viewModel(), highlightSettings, highlightController,
                                          inputWatch.isAvailable() ? &inputWatch : nullptr);

    // The key is stored in the background; a key that no store took is the
    // owner's to know about, in the chat like any other failure.
    QObject::connect(&tokenStore, &KeychainTokenStore::storeFailed, &controller,
                     [&controller](const KeychainError &error) { controller.viewModel().fail(error, true); });

    QObject::connect(&tokenStore, &KeychainTokenStore::loaded, &controller,
                     [&controller](const QString &key) { controller.applyStoredKey(key); });

    QObject::connect(&instance, &SingleInstance::activated, &controller, [&controller](const QStringList &texts) {
        if (texts.isEmpty()) {
            controller.reopen();
            return;
        }
        QList<QUrl> handedOver;
        for (const QString &text : texts)
            handedOver << QUrl(text);
        controller.handleConnectionURLs(handedOver);
    });
    controller.handleConnectionURLs(links);
    return app.exec();
}
