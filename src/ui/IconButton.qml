import QtQuick
import QtQuick.Controls

// A round icon button with a tooltip; its accessible name is its label.
AbstractButton {
    id: control

    property string iconPath
    property string label
    property bool prominent: false
    property color tint: prominent ? Theme.accentText : Theme.text
    property int diameter: 34

    implicitWidth: diameter
    implicitHeight: diameter
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    opacity: enabled ? 1 : 0.38

    Accessible.role: Accessible.Button
    Accessible.name: label
    Accessible.onPressAction: if (enabled) clicked()

    ToolTip.visible: hovered && label.length > 0
    ToolTip.delay: 600
    ToolTip.text: label

    Behavior on opacity { NumberAnimation { duration: Theme.animationMs } }

    background: Rectangle {
        radius: width / 2
        color: control.prominent ? (control.down ? Qt.darker(Theme.accent, 1.15) : Theme.accent)
                                 : (control.down ? Theme.surfaceHover : control.hovered ? Theme.surface : "transparent")
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.focusRing
        Behavior on color { ColorAnimation { duration: Theme.animationMs } }
    }

    contentItem: Item {
        IconGlyph {
            anchors.centerIn: parent
            width: Math.round(control.diameter * 0.56)
            height: width
            path: control.iconPath
            color: control.tint
        }
    }
}
