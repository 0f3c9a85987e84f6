import QtQuick
import QtQuick.Layouts
import "Texts.mjs" as Texts
import "Icons.mjs" as Icons

// The collapsed panel: the orb and its mode switcher. A short press on the orb
// starts or ends a voice session; pressing and moving drags the panel.
Item {
    id: launcher

    required property var overlay
    readonly property var vm: overlay.viewModel

    readonly property string mood: !vm ? "idle"
                                 : vm.isSpeaking ? "speaking"
                                 : vm.isListening ? (vm.isMicrophoneMuted ? "muted" : "listening")
                                 : overlay.isBusy ? "thinking"
                                 : (vm.isVoiceSessionActive && vm.isMicrophoneMuted) ? "muted"
                                 : "idle"
    readonly property string help: Texts.orbHelp({ isBusy: overlay.isBusy, isSpeaking: !!(vm && vm.isSpeaking),
                                                   isVoiceSessionActive: !!(vm && vm.isVoiceSessionActive) }, overlay.t)

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

            // The orb as one accessible button: pressing it is the orb's action.
            Item {
                id: orbButton
                objectName: "orbButton"
                anchors.centerIn: parent
                width: orbView.radius * 2.2
                height: width
                activeFocusOnTab: true
                Accessible.role: Accessible.Button
                Accessible.name: Texts.launcherName(launcher.vm ? launcher.vm.connectedAgentName : "")
                Accessible.description: launcher.help
                Accessible.onPressAction: launcher.overlay.call("activateVoiceOrb")
                Keys.onSpacePressed: launcher.overlay.call("activateVoiceOrb")
                Keys.onReturnPressed: launcher.overlay.call("activateVoiceOrb")

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
                    onPressed: (mouse) => launcher.overlay.panelPressed(mapToGlobal(mouse.x, mouse.y))
                    onPositionChanged: (mouse) => { if (pressed) launcher.overlay.panelMoved(mapToGlobal(mouse.x, mouse.y)) }
                    onReleased: { if (launcher.overlay.panelReleased()) launcher.overlay.call("activateVoiceOrb") }
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
                    iconPath: launcher.vm && launcher.vm.isVoiceSessionActive && launcher.vm.isMicrophoneMuted
                              ? Icons.microphoneOff : Icons.microphone
                    label: Texts.microphoneLabel({ isVoiceSessionActive: !!(launcher.vm && launcher.vm.isVoiceSessionActive),
                                                   isMicrophoneMuted: !!(launcher.vm && launcher.vm.isMicrophoneMuted) },
                                                 launcher.overlay.t)
                    onClicked: {
                        if (launcher.vm && launcher.vm.isVoiceSessionActive)
                            launcher.overlay.call("setMicrophoneMuted", !launcher.vm.isMicrophoneMuted)
                        else
                            launcher.overlay.call("activateVoiceOrb")
                    }
                }
                IconButton {
                    objectName: "chatToggleButton"
                    diameter: 32
                    iconPath: launcher.overlay.expanded ? Icons.collapse : Icons.chat
                    label: Texts.chatToggleLabel(launcher.overlay.expanded, launcher.overlay.t)
                    onClicked: launcher.overlay.call(launcher.overlay.expanded ? "closeChat" : "openChat")
                }
                IconButton {
                    objectName: "endButton"
                    diameter: 32
                    visible: !!(launcher.vm && launcher.vm.isVoiceSessionActive)
                    iconPath: Icons.end
                    tint: Theme.danger
                    label: launcher.overlay.t("orb.end")
                    onClicked: launcher.overlay.call("toggleListening")
                }
            }
        }
    }
}
