import QtQuick
import Nimbel.Ui
import QtQuick.Controls
import QtQuick.Layouts

// The voice settings: whether answers are spoken, and which microphone records
// the owner (the system's default until one is chosen).
ColumnLayout {
    id: section

    required property OverlayContext overlay
    readonly property OverlayViewModel vm: overlay.viewModel
    readonly property MicrophoneService microphone: vm.microphone

    spacing: 10
    Component.onCompleted: if (section.microphone) section.microphone.refreshInputSources()

    Text {
        text: section.overlay.t("settings.section.voice")
        font.pixelSize: Theme.smallFontSize
        font.weight: Font.DemiBold
        font.capitalization: Font.AllUppercase
        font.letterSpacing: 0.6
        color: Theme.textSecondary
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: card.implicitHeight + 28
        radius: 14
        color: Theme.surface
        border.color: Theme.panelBorder
        border.width: 1

        ColumnLayout {
            id: card
            anchors.fill: parent
            anchors.margins: 14
            spacing: 10

            RowLayout {
                spacing: 10
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 2
                    Text {
                        Layout.fillWidth: true
                        text: section.overlay.t("settings.speakAnswers")
                        font.pixelSize: Theme.fontSize
                        color: Theme.text
                        wrapMode: Text.Wrap
                    }
                    Text {
                        Layout.fillWidth: true
                        text: section.overlay.t("settings.speakAnswers.hint")
                        font.pixelSize: Theme.smallFontSize
                        color: Theme.textSecondary
                        wrapMode: Text.Wrap
                    }
                }
                Switch {
                    objectName: "speakAnswersSwitch"
                    checked: section.vm.voiceOutputEnabled
                    onToggled: section.vm.setVoiceOutputEnabled(checked)
                    Accessible.name: section.overlay.t("settings.speakAnswers")
                }
            }

            RowLayout {
                spacing: 10
                visible: section.microphone !== null
                Text {
                    text: section.overlay.t("settings.microphone")
                    font.pixelSize: Theme.fontSize
                    color: Theme.text
                }
                ComboBox {
                    id: sourceBox
                    objectName: "microphoneSourceBox"
                    Layout.fillWidth: true
                    readonly property var names: section.microphone ? section.microphone.inputSourceNames : []
                    readonly property string chosen: !section.microphone ? ""
                                                     : section.microphone.preferredSource.length > 0
                                                       ? section.microphone.preferredSource
                                                       : section.microphone.defaultInputSource
                    model: names
                    currentIndex: names.indexOf(chosen)
                    onActivated: (index) => { if (section.microphone) section.microphone.preferredSource = sourceBox.names[index] }
                    Accessible.name: section.overlay.t("settings.microphone")
                }
            }
        }
    }
}
