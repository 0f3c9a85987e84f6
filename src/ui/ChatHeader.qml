import QtQuick
import QtQuick.Layouts
import "Icons.mjs" as Icons

// Title, status line and the header's controls. Dragging the header moves the panel.
Item {
    id: header

    required property OverlayContext overlay
    
    implicitHeight: 60

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.LeftButton
        onPressed: header.overlay.panel.startPanelDrag()
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 14
        anchors.rightMargin: 10
        spacing: 10

        ZelmAvatar {
            Layout.preferredWidth: 30
            Layout.preferredHeight: 30
            mood: header.overlay.isBusy ? "thinking" : "idle"
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 1

            Text {
                id: title
                objectName: "headerTitle"
                Layout.fillWidth: true
                text: header.overlay.headerTitle
                font.pixelSize: Theme.titleFontSize
                font.weight: Font.DemiBold
                color: Theme.text
                elide: Text.ElideRight
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: 6
                Rectangle {
                    implicitWidth: 7
                    implicitHeight: 7
                    radius: 3.5
                    color: header.overlay.stateName === "failed" ? Theme.danger
                         : header.overlay.isBusy ? "#f5a524" : Theme.good
                    Behavior on color { ColorAnimation { duration: Theme.animationMs } }
                }
                Text {
                    objectName: "headerStatus"
                    Layout.fillWidth: true
                    text: header.overlay.headerStatus
                    font.pixelSize: Theme.smallFontSize
                    color: Theme.textSecondary
                    elide: Text.ElideRight
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
            }
        }

        IconButton {
            objectName: "newConversationButton"
            // The introduction covers the conversation and the settings: nothing to switch to.
            visible: !header.overlay.firstRunPresent
            iconPath: Icons.plus
            label: header.overlay.t("chat.new")
            onClicked: {
                header.overlay.showSettings = false
                header.overlay.viewModel.resetConversation()
            }
        }
        IconButton {
            objectName: "settingsButton"
            visible: !header.overlay.firstRunPresent
            iconPath: header.overlay.showSettings ? Icons.back : Icons.sliders
            label: header.overlay.t(header.overlay.showSettings ? "chat.back" : "settings.title")
            onClicked: header.overlay.showSettings = !header.overlay.showSettings
        }
        IconButton {
            objectName: "closeChatButton"
            iconPath: Icons.close
            label: header.overlay.t("chat.close")
            onClicked: header.overlay.viewModel.closeChat()
        }
    }

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.panelBorder
    }
}
