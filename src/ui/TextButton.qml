import QtQuick
import QtQuick.Controls

// A compact pill button with a text label.
AbstractButton {
    id: control

    property bool prominent: false

    implicitHeight: 32
    implicitWidth: Math.max(72, contentItem.implicitWidth + 28)
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    opacity: enabled ? 1 : 0.45

    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: if (enabled) clicked()

    background: Rectangle {
        radius: height / 2
        color: control.prominent ? (control.down ? Qt.darker(Theme.accent, 1.15) : Theme.accent)
                                 : (control.down ? Theme.surfaceHover : control.hovered ? Theme.surfaceHover : Theme.surface)
        border.width: control.visualFocus ? 2 : (control.prominent ? 0 : 1)
        border.color: control.visualFocus ? Theme.focusRing : Theme.panelBorder
        Behavior on color { ColorAnimation { duration: Theme.animationMs } }
    }

    contentItem: Text {
        text: control.text
        font.pixelSize: Theme.fontSize - 1
        font.weight: Font.DemiBold
        color: control.prominent ? Theme.accentText : Theme.text
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
}
