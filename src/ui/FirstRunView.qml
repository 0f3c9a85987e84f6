pragma ComponentBehavior: Bound
import QtQuick
import Nimbel.Ui
import QtQuick.Layouts

// One page of the first-run introduction: its step, title, body, notes and
// buttons, as the first-run session publishes them for the current page.
Item {
    id: page

    required property OverlayContext overlay
    readonly property FirstRunSession session: overlay.firstRunSession

    function toneColour(tone: string): color {
        return tone === "good" ? Theme.good : tone === "warn" ? Theme.danger : Theme.textSecondary
    }

    Accessible.role: Accessible.Pane
    Accessible.name: session ? session.title : ""

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 22
        spacing: 12

        Text {
            objectName: "firstRunPosition"
            visible: text.length > 0
            text: page.session ? page.session.positionText : ""
            font.pixelSize: Theme.smallFontSize
            font.weight: Font.DemiBold
            color: Theme.accent
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Text {
            objectName: "firstRunTitle"
            Layout.fillWidth: true
            text: page.session ? page.session.title : ""
            font.pixelSize: 22
            font.weight: Font.DemiBold
            color: Theme.text
            wrapMode: Text.Wrap
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }

        Text {
            objectName: "firstRunBody"
            Layout.fillWidth: true
            text: page.session ? page.session.body : ""
            font.pixelSize: Theme.fontSize
            lineHeight: 1.2
            color: Theme.text
            wrapMode: Text.Wrap
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Repeater {
            model: page.session ? page.session.notes : []
            delegate: RowLayout {
                id: note
                required property var modelData
                Layout.fillWidth: true
                spacing: 8
                Rectangle {
                    Layout.alignment: Qt.AlignTop
                    Layout.topMargin: 6
                    implicitWidth: 6
                    implicitHeight: 6
                    radius: 3
                    color: page.toneColour(note.modelData.tone)
                }
                Text {
                    objectName: "firstRunNote"
                    Layout.fillWidth: true
                    text: note.modelData.text
                    font.pixelSize: Theme.smallFontSize + 1
                    color: note.modelData.tone === "quiet" ? Theme.textSecondary : page.toneColour(note.modelData.tone)
                    wrapMode: Text.Wrap
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
            }
        }

        TextButton {
            objectName: "firstRunPrivacyLink"
            visible: text.length > 0
            text: page.session ? page.session.privacyLinkText : ""
            onClicked: page.session.openPrivacyPage()
        }

        // Set when the desktop had no settings tool for the page, or a restart failed.
        SettingNote {
            objectName: "firstRunSettingsMessage"
            warning: true
            text: page.session ? page.session.settingsMessage : ""
        }

        Item { Layout.fillHeight: true }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            TextButton {
                objectName: "firstRunBack"
                visible: page.session !== null && page.session.canGoBack
                text: "←"
                Accessible.name: page.overlay.t("firstRun.back")
                onClicked: page.session.back()
            }
            Item { Layout.fillWidth: true }
            TextButton {
                objectName: "firstRunSkip"
                visible: text.length > 0
                text: page.session ? page.session.skipText : ""
                onClicked: page.session.advance()
            }
            TextButton {
                objectName: "firstRunPrimary"
                prominent: true
                text: page.session ? page.session.primaryText : ""
                onClicked: page.session.primary()
            }
        }
    }
}
