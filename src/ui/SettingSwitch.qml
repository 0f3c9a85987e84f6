import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A labelled switch with a hint under it. It shows `value` (what the service
// says is true) and asks for the change through `changeRequested`; it never
// keeps a state of its own, so a change that fails shows as not made.
Item {
    id: row

    required property string label
    property string hint
    required property bool value
    signal changeRequested(bool on)

    implicitHeight: layout.implicitHeight
    Layout.fillWidth: true

    function request() {
        row.changeRequested(!row.value)
        control.checked = Qt.binding(() => row.value)
    }

    RowLayout {
        id: layout
        width: row.width
        spacing: 10

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            Text {
                Layout.fillWidth: true
                text: row.label
                font.pixelSize: Theme.fontSize
                color: Theme.text
                wrapMode: Text.Wrap
            }
            Text {
                Layout.fillWidth: true
                visible: text.length > 0
                text: row.hint
                font.pixelSize: Theme.smallFontSize
                color: Theme.textSecondary
                wrapMode: Text.Wrap
            }
        }

        Switch {
            id: control
            objectName: row.objectName + "Switch"
            checked: row.value
            onClicked: row.request()
            Accessible.role: Accessible.CheckBox
            Accessible.name: row.label
            Accessible.description: row.hint
            Accessible.onPressAction: row.request()
            Accessible.onToggleAction: row.request()
        }
    }
}
