import QtQuick
import QtQuick.Layouts

// The expanded panel: header, then the settings sheet or the conversation, and the composer.
Rectangle {
    id: panel

    required property OverlayContext overlay

    radius: Theme.radius
    color: Theme.panel
    border.color: Theme.panelBorder
    border.width: 1
    clip: true
    Accessible.role: Accessible.Pane
    Accessible.name: overlay.headerTitle

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 1
        spacing: 0

        ChatHeader {
            Layout.fillWidth: true
            overlay: panel.overlay
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            // The introduction, while it runs, takes the place of everything else.
            FirstRunView {
                anchors.fill: parent
                overlay: panel.overlay
                visible: panel.overlay.firstRunPresent
            }
            ConversationView {
                anchors.fill: parent
                overlay: panel.overlay
                visible: !panel.overlay.firstRunPresent && !panel.overlay.showSettings
            }
            SettingsSheet {
                anchors.fill: parent
                overlay: panel.overlay
                visible: !panel.overlay.firstRunPresent && panel.overlay.showSettings
            }
        }

        Composer {
            Layout.fillWidth: true
            overlay: panel.overlay
            visible: !panel.overlay.firstRunPresent
        }
    }
}
