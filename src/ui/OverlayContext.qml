import QtQuick
import Nimbel.Ui
import "Texts.mjs" as Texts

// What every view of the panel shares: the view model, the panel controller,
// the catalogue, the two view flags and what the views derive from them.
// The views receive it typed, so qmllint checks every property and operation
// they reach through it.
QtObject {
    required property OverlayViewModel viewModel
    required property OverlayPanelController panel
    required property QmlCatalogue catalogue
    required property bool reduceMotion
    // The application's own services; absent in a view that was given none.
    property FirstRunSession firstRunSession: null
    property UpdateService updates: null
    property LaunchAtLoginService loginItem: null
    property LanguageChoice language: null
    property bool showSettings: false
    property bool showGatewaySettings: false

    readonly property OverlayViewModel vm: viewModel
    readonly property bool expanded: vm.isExpanded
    readonly property bool isBusy: vm.isBusy
    readonly property string stateName: panel.stateName
    readonly property bool firstRunPresent: firstRunSession !== null && firstRunSession.active
    // { message, recovery, isPermissionProblem } or null.
    readonly property var failure: vm.failure
                                   ? { message: vm.errorMessage, recovery: panel.failureRecovery,
                                       isPermissionProblem: !!vm.failure.isPermissionProblem }
                                   : null

    readonly property string headerTitle: Texts.headerTitle({ firstRunPresent: firstRunPresent, showSettings: showSettings,
                                                              agentName: vm.connectedAgentName }, t)
    readonly property string headerStatus: Texts.headerStatus({
        isListening: vm.isListening,
        isSpeaking: vm.isSpeaking,
        isVoiceSessionActive: vm.isVoiceSessionActive,
        isBusy: isBusy,
        showSettings: showSettings,
        microphoneAuthorized: panel.microphoneAuthorized,
        state: stateName
    }, t)

    function t(key: string): string {
        return catalogue.text(key)
    }

    // The failure's recovery, by its kind.
    function performRecovery(recovery: string) {
        if (recovery === "restart")
            vm.restartApplication()
        else if (recovery === "screenRecordingSettings")
            vm.openScreenRecordingSettings()
        else if (recovery === "voicePrivacySettings")
            vm.openMicrophoneSettings()
    }

    // The one permission refresh of the views (on showing the panel and the settings).
    onExpandedChanged: if (expanded) panel.refreshPermissions()
    onShowSettingsChanged: {
        if (!showSettings)
            return
        panel.refreshPermissions()
        // The autostart entry is the truth, and the desktop may have changed it.
        if (loginItem)
            loginItem.reread()
    }

}
