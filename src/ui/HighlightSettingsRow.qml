import QtQuick
import Nimbel.Ui
import QtQuick.Controls
import QtQuick.Layouts

// The settings row of "Show me where": a ring on the screen around what a
// screen answer points at. Disabled, saying why, where the desktop cannot show it.
RowLayout {
    id: row
    objectName: "highlightSettingsRow"
    spacing: 10
    Layout.fillWidth: true

    ColumnLayout {
        spacing: 2
        Layout.fillWidth: true
        Text {
            Layout.fillWidth: true
            text: HighlightSettings.title
            font.pixelSize: Theme.fontSize
            color: Theme.text
            wrapMode: Text.Wrap
        }
        Text {
            Layout.fillWidth: true
            text: HighlightSettings.available ? HighlightSettings.hint : HighlightSettings.unavailableReason
            font.pixelSize: Theme.smallFontSize
            color: Theme.textSecondary
            wrapMode: Text.Wrap
        }
    }

    Switch {
        id: toggle
        objectName: "highlightSwitch"
        enabled: HighlightSettings.available
        checked: HighlightSettings.enabled && HighlightSettings.available
        onToggled: HighlightSettings.enabled = checked
        Accessible.role: Accessible.CheckBox
        Accessible.name: HighlightSettings.title
    }

    HoverHandler { id: hover }
    ToolTip.visible: hover.hovered && !HighlightSettings.available
    ToolTip.delay: 700
    ToolTip.text: HighlightSettings.unavailableReason
}
