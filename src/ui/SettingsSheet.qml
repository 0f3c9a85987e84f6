import QtQuick
import Nimbel.Ui
import QtQuick.Controls
import QtQuick.Layouts
import "Texts.mjs" as Texts

// The settings sheet in place of the conversation: the connection to the platform.
Flickable {
    id: sheet

    required property OverlayContext overlay
    readonly property OverlayViewModel vm: overlay.viewModel
    readonly property bool connected: vm.isPlatformConnected

    clip: true
    contentHeight: column.implicitHeight + 28
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

    ColumnLayout {
        id: column
        x: 16
        y: 14
        width: sheet.width - 32
        spacing: 10

        VoiceSettingsSection { Layout.fillWidth: true; overlay: sheet.overlay }

        Text {
            text: sheet.overlay.t("settings.section.connection")
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
                    Rectangle {
                        implicitWidth: 10
                        implicitHeight: 10
                        radius: 5
                        color: sheet.connected ? Theme.good : Theme.textSecondary
                    }
                    ColumnLayout {
                        spacing: 2
                        Layout.fillWidth: true
                        Text {
                            Layout.fillWidth: true
                            text: Texts.connectionStatus({ isPlatformConnected: sheet.connected,
                                                           agentName: sheet.vm.connectedAgentName }, sheet.overlay.t)
                            font.pixelSize: Theme.fontSize
                            font.weight: Font.DemiBold
                            color: Theme.text
                            wrapMode: Text.Wrap
                            Accessible.role: Accessible.StaticText
                            Accessible.name: text
                        }
                        Text {
                            Layout.fillWidth: true
                            visible: text.length > 0
                            text: Texts.connectionHint(sheet.connected, sheet.overlay.t)
                            font.pixelSize: Theme.smallFontSize
                            color: Theme.textSecondary
                            wrapMode: Text.Wrap
                        }
                    }
                }

                Text {
                    text: sheet.overlay.t("settings.platformAddress")
                    font.pixelSize: Theme.smallFontSize
                    color: Theme.textSecondary
                }
                TextField {
                    id: address
                    objectName: "platformAddressField"
                    Layout.fillWidth: true
                    text: sheet.vm.gatewayBaseURL
                    onTextEdited: sheet.vm.gatewayBaseURL = text
                    onPressed: sheet.overlay.panel.wantKeyboard()
                    onAccepted: sheet.vm.savePlatformSettings()
                    inputMethodHints: Qt.ImhUrlCharactersOnly | Qt.ImhNoAutoUppercase
                    selectByMouse: true
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                    Accessible.role: Accessible.EditableText
                    Accessible.name: sheet.overlay.t("settings.platformAddress")
                    background: Rectangle {
                        implicitHeight: 36
                        radius: 10
                        color: Theme.panel
                        border.width: address.activeFocus ? 2 : 1
                        border.color: address.activeFocus ? Theme.focusRing : Theme.panelBorder
                    }
                }

                RowLayout {
                    spacing: 8
                    TextButton {
                        objectName: "saveButton"
                        text: sheet.overlay.t("settings.save")
                        onClicked: sheet.vm.savePlatformSettings()
                    }
                    TextButton {
                        objectName: "connectButton"
                        text: Texts.connectButtonLabel(sheet.connected, sheet.overlay.t)
                        prominent: !sheet.connected
                        onClicked: sheet.vm.openPlatformConnectionPage()
                    }
                }
            }
        }
    }
}
