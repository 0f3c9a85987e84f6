import QtQuick
import Nimbel.Ui
import QtQuick.Controls
import QtQuick.Layouts

// The voice settings: whether answers are spoken, and which microphone records
// the owner (the system's default until one is chosen).
SettingsSection {
    id: section

    required property OverlayContext overlay
    readonly property OverlayViewModel vm: overlay.viewModel
    readonly property MicrophoneService microphone: vm.microphone

    title: overlay.t("settings.section.voice")
    Component.onCompleted: if (section.microphone) section.microphone.refreshInputSources()

    SettingSwitch {
        objectName: "speakAnswers"
        label: section.overlay.t("settings.speakAnswers")
        hint: section.overlay.t("settings.speakAnswers.hint")
        value: section.vm.voiceOutputEnabled
        onChangeRequested: on => section.vm.setVoiceOutputEnabled(on)
    }

    RowLayout {
        spacing: 10
        visible: section.microphone !== null
        Text {
            text: section.overlay.t("settings.microphone")
            font.pixelSize: Theme.fontSize
            color: Theme.text
        }
        ComboBox {
            id: sourceBox
            objectName: "microphoneSourceBox"
            Layout.fillWidth: true
            readonly property var names: section.microphone ? section.microphone.inputSourceNames : []
            readonly property string chosen: !section.microphone ? ""
                                             : section.microphone.preferredSource.length > 0
                                               ? section.microphone.preferredSource
                                               : section.microphone.defaultInputSource
            model: names
            currentIndex: names.indexOf(chosen)
            onActivated: (index) => { if (section.microphone) section.microphone.preferredSource = sourceBox.names[index] }
            Accessible.name: section.overlay.t("settings.microphone")
        }
    }

    // Whether the microphone may be recorded, the system's page for it, and a
    // fresh look after the owner changed it there.
    RowLayout {
        spacing: 10
        SettingNote {
            objectName: "microphonePermissionState"
            text: section.overlay.t(section.overlay.panel.microphonePermissionKey)
        }
        TextButton {
            objectName: "microphoneSettingsButton"
            visible: !section.overlay.panel.microphoneAuthorized
            text: section.overlay.t("error.action.voiceSettings")
            onClicked: section.vm.openMicrophoneSettings()
        }
        TextButton {
            objectName: "recheckPermissionsButton"
            text: section.overlay.t("settings.recheckPermissions")
            onClicked: section.vm.refreshVoicePermissions()
        }
    }

    ShortcutSettingsRow {
        Layout.fillWidth: true
        overlay: section.overlay
    }
}
