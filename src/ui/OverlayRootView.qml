import QtQuick
import "Texts.mjs" as Texts

// Everything inside the floating panel: the launcher while collapsed, the chat
// panel while expanded. The views keep no state of their own beyond the two
// flags below; they show the view model's published state and call its operations.
Item {
    id: root

    // The observed view model, the panel controller and the message catalogue.
    property QtObject viewModel: null
    property QtObject panel: null
    property QtObject catalogue: null
    property bool reduceMotion: false
    property bool showSettings: false
    property bool showGatewaySettings: false

    readonly property var vm: viewModel
    readonly property bool expanded: !!(vm && vm.isExpanded)
    readonly property bool isBusy: !!(vm && vm.isBusy)
    readonly property var messageModel: vm ? vm.messageModel : null
    readonly property string stateName: panel ? panel.stateName : "idle"
    readonly property bool firstRunPresent: !!(panel && panel.firstRunPresent)
    // { message, recovery, isPermissionProblem } or null.
    readonly property var failure: vm && vm.failure
                                   ? { message: vm.errorMessage, recovery: panel ? panel.failureRecovery : "none",
                                       isPermissionProblem: !!(vm.failure && vm.failure.isPermissionProblem) }
                                   : null

    readonly property string headerTitle: Texts.headerTitle({ firstRunPresent: firstRunPresent, showSettings: showSettings,
                                                              agentName: vm ? vm.connectedAgentName : "" }, t)
    readonly property string headerStatus: Texts.headerStatus({
        isListening: !!(vm && vm.isListening),
        isSpeaking: !!(vm && vm.isSpeaking),
        isVoiceSessionActive: !!(vm && vm.isVoiceSessionActive),
        isBusy: isBusy,
        showSettings: showSettings,
        microphoneAuthorized: !!(panel && panel.microphoneAuthorized),
        state: stateName
    }, t)

    Accessible.role: Accessible.Pane
    Accessible.name: headerTitle

    function t(key) {
        return catalogue ? catalogue.text(key) : key
    }

    // Calls an operation of the view model by its name.
    function call(name, ...args) {
        if (!vm || typeof vm[name] !== "function") {
            console.warn("overlay: the view model has no operation", name)
            return undefined
        }
        return vm[name](...args)
    }

    function performRecovery(recovery) {
        if (recovery === "restart")
            call("restartApplication")
        else if (recovery === "screenRecordingSettings")
            call("openScreenRecordingSettings")
        else if (recovery === "voicePrivacySettings")
            call("openMicrophoneSettings")
    }

    // The one permission refresh of the views (on showing the panel and the settings).
    function refreshPermissions() {
        if (panel)
            panel.refreshPermissions()
    }
    onExpandedChanged: if (expanded) refreshPermissions()
    onShowSettingsChanged: if (showSettings) refreshPermissions()

    // Panel interaction, forwarded to the panel controller.
    function panelPressed(globalPoint) { if (panel) panel.launcherPressed(globalPoint) }
    function panelMoved(globalPoint) { if (panel) panel.launcherMoved(globalPoint) }
    function panelReleased() { return panel ? panel.launcherReleased() : true }
    function startPanelDrag() { if (panel) panel.startPanelDrag() }
    function wantKeyboard() { if (panel) panel.wantKeyboard() }
    function messageDisplayed(id, role, text) { if (panel) panel.messageDisplayed(id, role, text) }

    Launcher {
        anchors.fill: parent
        overlay: root
        visible: !root.expanded
    }

    ChatPanel {
        anchors.fill: parent
        overlay: root
        visible: root.expanded
        opacity: visible ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: root.reduceMotion ? 0 : 160 } }
    }
}
