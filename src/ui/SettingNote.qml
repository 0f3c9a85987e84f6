import QtQuick
import QtQuick.Layouts

// A line of secondary text in a settings card; hidden while empty.
Text {
    property bool warning: false

    Layout.fillWidth: true
    visible: text.length > 0
    font.pixelSize: Theme.smallFontSize
    color: warning ? Theme.danger : Theme.textSecondary
    wrapMode: Text.Wrap
    Accessible.role: Accessible.StaticText
    Accessible.name: text
}
