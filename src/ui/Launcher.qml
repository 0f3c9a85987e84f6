import QtQuick
import Nimbel.Ui
import QtQuick.Layouts
import "Texts.mjs" as Texts
import "Icons.mjs" as Icons

// The collapsed panel: the orb and its mode switcher. Pressing and moving the
// orb drags the panel; a click starts or ends the voice conversation.
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

            // How loud the microphone hears the owner while it listens.
            Rectangle {
                objectName: "inputLevel"
                readonly property real level: launcher.vm.microphone && launcher.vm.isListening
                                              ? Math.min(1, launcher.vm.microphone.inputLevel * 8) : 0
                visible: launcher.vm.isListening
                anchors.centerIn: orbView
                width: orbView.width * (0.78 + 0.3 * level)
                height: width
                radius: width / 2
                color: "transparent"
                border.width: 2
                border.color: Theme.focusRing
                opacity: 0.25 + 0.75 * level
            }

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
                readonly property bool voiceActionEnabled: launcher.voiceAvailable
                Accessible.name: Texts.launcherName(launcher.vm.connectedAgentName)
                Accessible.description: launcher.help
                Accessible.onPressAction: if (orbButton.voiceActionEnabled) launcher.vm.activateVoiceOrb()
                Keys.onSpacePressed: if (orbButton.voiceActionEnabled) launcher.vm.activateVoiceOrb()

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
                    onReleased: {
                        if (launcher.overlay.panel.launcherReleased() && orbButton.voiceActionEnabled)
                            launcher.vm.activateVoiceOrb()
                    }
                }

                ToolTipArea { text: launcher.help; hovered: pressArea.containsMouse }
            }
        }

        // What the voice conversation is doing ("Listening…", "Transcribing…", …).
        Text {
            objectName: "voiceStatus"
            Layout.fillWidth: true
            visible: text.length > 0
            text: launcher.vm.speechStatusMessage
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideRight
            font.pixelSize: Theme.smallFontSize
            color: Theme.textSecondary
            Accessible.role: Accessible.StaticText
            Accessible.name: text
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
                    onClicked: launcher.vm.isVoiceSessionActive
                               ? launcher.vm.muteMicrophone(!launcher.vm.isMicrophoneMuted)
                               : launcher.vm.activateVoiceOrb()
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
                    iconPath: Icons.end
                    tint: Theme.danger
                    label: launcher.overlay.t("orb.end")
                    onClicked: launcher.vm.toggleListening()
                }
            }
        }
    }
}
