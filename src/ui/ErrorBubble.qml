import QtQuick
import QtQuick.Layouts
import "Texts.mjs" as Texts
import "Icons.mjs" as Icons

// The current failure: its title, its message and, when it offers one, the
// button that performs its recovery.
Item {
    id: error

    required property OverlayContext overlay
    readonly property var failure: overlay.failure
    readonly property string actionTitle: failure ? Texts.failureActionTitle(failure.recovery, overlay.t) : ""

    implicitHeight: box.implicitHeight + 10
    Accessible.role: Accessible.AlertMessage
    Accessible.name: failure ? Texts.failureTitle(failure.isPermissionProblem, overlay.t) + ": " + failure.message : ""

    Rectangle {
        id: box
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.rightMargin: parent.width * 0.12
        y: 5
        implicitHeight: column.implicitHeight + 22
        radius: Theme.bubbleRadius
        color: Theme.dangerSurface
        border.width: 1
        border.color: Qt.rgba(Theme.danger.r, Theme.danger.g, Theme.danger.b, 0.4)

        ColumnLayout {
            id: column
            anchors.fill: parent
            anchors.margins: 11
            anchors.leftMargin: 14
            spacing: 6

            RowLayout {
                spacing: 8
                IconGlyph { width: 18; height: 18; path: Icons.alert; color: Theme.danger }
                Text {
                    Layout.fillWidth: true
                    text: error.failure ? Texts.failureTitle(error.failure.isPermissionProblem, error.overlay.t) : ""
                    font.pixelSize: Theme.fontSize
                    font.weight: Font.DemiBold
                    color: Theme.danger
                    wrapMode: Text.Wrap
                }
            }
            Text {
                Layout.fillWidth: true
                text: error.failure ? error.failure.message : ""
                font.pixelSize: Theme.fontSize - 1
                color: Theme.text
                wrapMode: Text.Wrap
            }
            TextButton {
                objectName: "errorAction"
                visible: error.actionTitle.length > 0
                Layout.topMargin: 2
                text: error.actionTitle
                prominent: true
                onClicked: error.overlay.performRecovery(error.failure.recovery)
            }
        }
    }
}
