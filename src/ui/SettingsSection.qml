import QtQuick
import QtQuick.Layouts

// A titled card of the settings sheet; its children are laid out in a column.
ColumnLayout {
    id: section

    property string title
    default property alias content: card.data

    Layout.fillWidth: true
    spacing: 6

    Text {
        visible: text.length > 0
        text: section.title
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
        }
    }
}
