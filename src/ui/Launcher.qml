import QtQuick
import Nimbel.Ui
import QtQuick.Layouts
import "Texts.mjs" as Texts
import "Icons.mjs" as Icons

// The collapsed panel: the orb and its mode switcher. Pressing and moving the
// orb drags the panel. The orb's voice action, the microphone and the end
// button wait for the voice session: until the build has one they are
// disabled and say so.
Item {
    id: launcher

    required property OverlayContext overlay
    readonly property OverlayViewModel vm: overlay.viewModel
    readonly property bool voiceAvailable: vm.isVoiceAvailable
    readonly property string voiceUnavailable: overlay.t("orb.voiceUnavailable")

    readonly property string mood: vm.isSpeaking ? "speaking"
                                 : vm.isListening ? (vm.isMicrophoneMuted ? "muted" : "listening")
                                 : overlay.isBusy ? "thinking"
                                 : (vm.isVoiceSessionActive && vm.isMicrophoneMuted) ? "muted"
                                 : "idle"
    readonly property string help: voiceAvailable
                                   ? Texts.orbHelp({ isBusy: overlay.isBusy, isSpeaking: vm.isSpeaking,
                                                     isVoiceSessionActive: vm.isVoiceSessionActive }, overlay.t)
                                   : voiceUnavailable

    ColumnLayout {
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        width: parent.width
        height: parent.height
        spacing: 2

        Item {
            id: orbArea
            Layout.fillWidth: true
            Layout.fillHeight: true

            OrbView {
                id: orbView
                anchors.centerIn: parent
                width: Math.min(parent.width, parent.height) + 10
                height: width
                mood: launcher.mood
                reduceMotion: launcher.overlay.reduceMotion
                scale: pressArea.pressed ? 0.96 : (pressArea.containsMouse ? 1.03 : 1)
                Behavior on scale { NumberAnimation { duration: 160; easing.type: Easing.OutCubic } }
            }

            // The orb as one accessible button.
            Item {
                id: orbButton
                objectName: "orbButton"
                anchors.centerIn: parent
                width: orbView.radius * 2.2
                height: width
                activeFocusOnTab: true
                Accessible.role: Accessible.Button
                // Its voice action waits for the voice session; the press still drags the panel.
                readonly property bool voiceActionEnabled: launcher.voiceAvailable
                Accessible.name: Texts.launcherName(launcher.vm.connectedAgentName)
                Accessible.description: launcher.help

                Rectangle {
                    anchors.fill: parent
                    radius: width / 2
                    color: "transparent"
                    border.width: orbButton.activeFocus ? 2 : 0
                    border.color: Theme.focusRing
                }

                MouseArea {
                    id: pressArea
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.ArrowCursor
                    onPressed: (mouse) => launcher.overlay.panel.launcherPressed(mapToGlobal(mouse.x, mouse.y))
                    onPositionChanged: (mouse) => { if (pressed) launcher.overlay.panel.launcherMoved(mapToGlobal(mouse.x, mouse.y)) }
                    onReleased: launcher.overlay.panel.launcherReleased()
                }

                ToolTipArea { text: launcher.help; hovered: pressArea.containsMouse }
            }
        }

        // Mode switcher.
        Rectangle {
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: 6
            implicitWidth: switcher.implicitWidth + 12
            implicitHeight: switcher.implicitHeight + 8
            radius: height / 2
            color: Qt.rgba(Theme.panel.r, Theme.panel.g, Theme.panel.b, 0.92)
            border.color: Theme.panelBorder
            border.width: 1

            RowLayout {
                id: switcher
                anchors.centerIn: parent
                spacing: 4

                IconButton {
                    objectName: "microphoneButton"
                    diameter: 32
                    iconPath: launcher.vm.isVoiceSessionActive && launcher.vm.isMicrophoneMuted
                              ? Icons.microphoneOff : Icons.microphone
                    enabled: launcher.voiceAvailable
                    label: launcher.voiceAvailable
                           ? Texts.microphoneLabel({ isVoiceSessionActive: launcher.vm.isVoiceSessionActive,
                                                     isMicrophoneMuted: launcher.vm.isMicrophoneMuted }, launcher.overlay.t)
                           : launcher.voiceUnavailable
                }
                IconButton {
                    objectName: "chatToggleButton"
                    diameter: 32
                    iconPath: launcher.overlay.expanded ? Icons.collapse : Icons.chat
                    label: Texts.chatToggleLabel(launcher.overlay.expanded, launcher.overlay.t)
                    onClicked: launcher.overlay.expanded ? launcher.vm.closeChat() : launcher.vm.openChat()
                }
                IconButton {
                    objectName: "endButton"
                    diameter: 32
                    // Only a running voice session can be ended.
                    visible: launcher.voiceAvailable && launcher.vm.isVoiceSessionActive
                    enabled: false
                    iconPath: Icons.end
                    tint: Theme.danger
                    label: launcher.voiceUnavailable
                }
            }
        }
    }
}
