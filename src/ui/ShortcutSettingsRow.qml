import QtQuick
import Nimbel.Ui
import QtQuick.Layouts

// The voice shortcut in the settings: the combination, a button that records a
// new one from the next key press, and why it does not work when it does not.
// Hidden where the application has no shortcut.
ColumnLayout {
    id: row

    required property OverlayContext overlay
    readonly property GlobalShortcut shortcut: overlay.panel.globalShortcut

    visible: shortcut !== null
    spacing: 4

    RowLayout {
        spacing: 10
        Layout.fillWidth: true

        Text {
            Layout.fillWidth: true
            text: row.overlay.t("settings.shortcut")
            font.pixelSize: Theme.fontSize
            color: Theme.text
            wrapMode: Text.Wrap
        }

        TextButton {
            id: recorder
            objectName: "shortcutButton"
            readonly property bool recording: row.shortcut !== null && row.shortcut.recording
            text: recording ? row.overlay.t("settings.shortcut.recording")
                            : (row.shortcut ? row.shortcut.displayText : "")
            prominent: recording
            onClicked: {
                if (!row.shortcut)
                    return
                row.shortcut.recording = !row.shortcut.recording
                if (row.shortcut.recording) {
                    row.overlay.panel.wantKeyboard()
                    recorder.forceActiveFocus()
                }
            }
            onActiveFocusChanged: if (!activeFocus && row.shortcut) row.shortcut.recording = false
            Keys.onPressed: (event) => {
                if (!recording)
                    return
                event.accepted = true
                if (event.key === Qt.Key_Escape)
                    row.shortcut.recording = false
                else
                    row.shortcut.record(event.key, event.modifiers)
            }
        }
    }

    Text {
        Layout.fillWidth: true
        visible: text.length > 0
        text: row.shortcut && row.shortcut.problemKey.length > 0 ? row.overlay.t(row.shortcut.problemKey) : ""
        font.pixelSize: Theme.smallFontSize
        color: Theme.textSecondary
        wrapMode: Text.Wrap
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
}
