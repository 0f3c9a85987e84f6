import QtQuick
import Nimbel.Ui
import "Texts.mjs" as Texts

// Everything inside the floating panel: the launcher while collapsed, the chat
// panel while expanded. The views keep no state of their own beyond the two
// flags below; they show the view model's published state and call its operations.
Item {
    id: root

    // The observed view model, the panel controller and the message catalogue.
    required property OverlayViewModel viewModel
    required property OverlayPanelController panel
    required property QmlCatalogue catalogue
    required property bool reduceMotion
    property bool showSettings: false
    property bool showGatewaySettings: false

    readonly property OverlayViewModel vm: viewModel
    readonly property bool expanded: vm.isExpanded
    readonly property bool isBusy: vm.isBusy
    readonly property string stateName: panel.stateName
    readonly property bool firstRunPresent: panel.firstRunPresent
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

    Accessible.role: Accessible.Pane
    Accessible.name: headerTitle

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
    onShowSettingsChanged: if (showSettings) panel.refreshPermissions()

    Launcher {
        anchors.fill: parent
        overlay: root as OverlayRootView
        visible: !root.expanded
    }

    ChatPanel {
        anchors.fill: parent
        overlay: root as OverlayRootView
        visible: root.expanded
        opacity: visible ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: root.reduceMotion ? 0 : 160 } }
    }
}
