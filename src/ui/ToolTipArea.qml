import QtQuick
import QtQuick.Controls

// A tooltip for a non-control item.
Item {
    id: area
    property string text
    property bool hovered: false
    anchors.fill: parent

    ToolTip {
        parent: area
        visible: area.hovered && area.text.length > 0
        delay: 700
        text: area.text
    }
}
