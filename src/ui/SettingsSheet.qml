pragma ComponentBehavior: Bound
import QtQuick
import Nimbel.Ui
import QtQuick.Controls
import QtQuick.Layouts
import "Texts.mjs" as Texts

// The settings sheet in place of the conversation. Every control shows what
// its service says is true and asks that service for the change.
Flickable {
    id: sheet

    required property OverlayContext overlay
    readonly property OverlayViewModel vm: overlay.viewModel
    readonly property UpdateService updates: overlay.updates
    readonly property LaunchAtLoginService loginItem: overlay.loginItem
    readonly property LanguageChoice language: overlay.language
    readonly property bool connected: vm.isPlatformConnected

    function t(key: string): string {
        return overlay.t(key)
    }

    clip: true
    contentHeight: column.implicitHeight + 28
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

    ColumnLayout {
        id: column
        objectName: "settingsColumn"
        x: 16
        y: 14
        width: sheet.width - 32
        spacing: 14

        VoiceSettingsSection {
            Layout.fillWidth: true
            overlay: sheet.overlay
        }

        SettingsSection {
            title: sheet.t("settings.section.screen")

            RowLayout {
                Layout.fillWidth: true
                spacing: 10
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 2
                    Text {
                        Layout.fillWidth: true
                        text: sheet.t("permission.screenRecording")
                        font.pixelSize: Theme.fontSize
                        color: Theme.text
                    }
                    SettingNote {
                        objectName: "screenPermissionState"
                        text: sheet.t(sheet.vm.screenCapturePermissionGranted ? "permission.allowed" : "permission.needed")
                    }
                }
                // Nothing to open while pictures are already allowed.
                TextButton {
                    objectName: "screenSettingsButton"
                    visible: !sheet.vm.screenCapturePermissionGranted
                    text: sheet.t("error.action.screenSettings")
                    onClicked: sheet.vm.openScreenRecordingSettings()
                }
            }

            SettingSwitch {
                objectName: "labels"
                label: sheet.t("settings.labels")
                hint: sheet.t("settings.labels.hint")
                value: sheet.vm.accessibilityContextEnabled
                onChangeRequested: on => sheet.vm.setAccessibilityContextEnabled(on)
            }
            SettingNote {
                objectName: "labelsPermissionState"
                visible: sheet.vm.accessibilityContextEnabled && !sheet.vm.accessibilityPermissionGranted
                text: sheet.t("permission.needed")
            }

            HighlightSettingsRow {}
        }

        SettingsSection {
            title: sheet.t("settings.section.connection")

            RowLayout {
                spacing: 10
                Rectangle {
                    implicitWidth: 10
                    implicitHeight: 10
                    radius: 5
                    color: sheet.connected ? Theme.good : Theme.textSecondary
                }
                ColumnLayout {
                    spacing: 2
                    Layout.fillWidth: true
                    Text {
                        Layout.fillWidth: true
                        text: Texts.connectionStatus({ isPlatformConnected: sheet.connected,
                                                       agentName: sheet.vm.connectedAgentName }, sheet.overlay.t)
                        font.pixelSize: Theme.fontSize
                        font.weight: Font.DemiBold
                        color: Theme.text
                        wrapMode: Text.Wrap
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }
                    SettingNote {
                        text: Texts.connectionHint(sheet.connected, sheet.overlay.t)
                    }
                }
            }

            Text {
                text: sheet.t("settings.platformAddress")
                font.pixelSize: Theme.smallFontSize
                color: Theme.textSecondary
            }
            TextField {
                id: address
                objectName: "platformAddressField"
                Layout.fillWidth: true
                text: sheet.vm.gatewayBaseURL
                onTextEdited: sheet.vm.gatewayBaseURL = text
                onPressed: sheet.overlay.panel.wantKeyboard()
                onAccepted: sheet.vm.savePlatformSettings()
                inputMethodHints: Qt.ImhUrlCharactersOnly | Qt.ImhNoAutoUppercase
                selectByMouse: true
                color: Theme.text
                font.pixelSize: Theme.fontSize
                Accessible.role: Accessible.EditableText
                Accessible.name: sheet.t("settings.platformAddress")
                background: Rectangle {
                    implicitHeight: 36
                    radius: 10
                    color: Theme.panel
                    border.width: address.activeFocus ? 2 : 1
                    border.color: address.activeFocus ? Theme.focusRing : Theme.panelBorder
                }
            }

            RowLayout {
                spacing: 8
                TextButton {
                    objectName: "saveButton"
                    text: sheet.t("settings.save")
                    onClicked: sheet.vm.savePlatformSettings()
                }
                TextButton {
                    objectName: "connectButton"
                    text: Texts.connectButtonLabel(sheet.connected, sheet.overlay.t)
                    prominent: !sheet.connected
                    onClicked: sheet.vm.openPlatformConnectionPage()
                }
            }
        }

        SettingsSection {
            visible: sheet.updates !== null
            title: sheet.t("settings.section.updates")

            SettingSwitch {
                objectName: "autoUpdate"
                label: sheet.t("settings.autoUpdate")
                hint: sheet.t("settings.autoUpdate.hint")
                value: sheet.updates ? sheet.updates.automaticallyChecksForUpdates : false
                onChangeRequested: on => sheet.updates.automaticallyChecksForUpdates = on
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 10
                SettingNote {
                    objectName: "versionText"
                    text: sheet.updates ? sheet.t("settings.version").arg(sheet.updates.currentVersion) : ""
                }
                TextButton {
                    objectName: "checkUpdatesButton"
                    text: sheet.t("settings.check")
                    enabled: sheet.updates !== null && sheet.updates.canCheckForUpdates && !sheet.updates.checking
                    // While a check runs, or without a feed or key, it says why it waits.
                    Accessible.description: enabled || !sheet.updates ? ""
                                            : sheet.updates.checking ? sheet.updates.statusText
                                            : sheet.t("settings.updateUnavailable").arg(sheet.updates.lastUpdateError
                                                                                        || sheet.t("settings.noUpdateChecker"))
                    ToolTip.visible: !enabled && hovered && Accessible.description.length > 0
                    ToolTip.text: Accessible.description
                    onClicked: sheet.updates.checkForUpdates()
                }
            }

            SettingNote {
                objectName: "updateStatus"
                text: sheet.updates && !sheet.updates.lastUpdateError ? sheet.updates.statusText : ""
            }
            SettingNote {
                objectName: "updateError"
                warning: true
                text: sheet.updates && sheet.updates.lastUpdateError
                      ? sheet.t("settings.updateUnavailable").arg(sheet.updates.lastUpdateError) : ""
            }

            ColumnLayout {
                objectName: "availableUpdate"
                Layout.fillWidth: true
                visible: sheet.updates !== null && sheet.updates.updateAvailable
                spacing: 6
                Text {
                    Layout.fillWidth: true
                    text: sheet.updates ? sheet.t("update.available").arg(sheet.updates.availableVersion) : ""
                    font.pixelSize: Theme.fontSize
                    font.weight: Font.DemiBold
                    color: Theme.text
                    wrapMode: Text.Wrap
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
                SettingNote {
                    objectName: "releaseNotes"
                    text: sheet.updates ? sheet.updates.releaseNotes : ""
                    textFormat: Text.PlainText
                    color: Theme.text
                }
                TextButton {
                    objectName: "downloadButton"
                    text: sheet.t("settings.update.download")
                    prominent: true
                    onClicked: sheet.updates.openDownloadPage()
                }
            }

            SettingNote {
                text: sheet.t("settings.noRedownload")
            }
        }

        SettingsSection {
            title: sheet.t("settings.section.privacy")

            Text {
                Layout.fillWidth: true
                text: sheet.t("settings.privacy")
                font.pixelSize: Theme.fontSize
                color: Theme.text
            }
            SettingNote {
                text: sheet.t("settings.privacy.hint")
            }
        }

        SettingsSection {
            visible: sheet.language !== null
            title: sheet.t("settings.section.language")

            Repeater {
                model: [
                    { value: "system", key: "settings.language.system", name: "languageSystem" },
                    { value: "en", key: "settings.language.en", name: "languageEnglish" },
                    { value: "ru", key: "settings.language.ru", name: "languageRussian" }
                ]
                delegate: RadioButton {
                    id: choice
                    required property var modelData
                    objectName: modelData.name
                    text: sheet.t(modelData.key)
                    checked: sheet.language !== null && sheet.language.preference === modelData.value
                    autoExclusive: false
                    font.pixelSize: Theme.fontSize
                    palette.windowText: Theme.text
                    Accessible.role: Accessible.RadioButton
                    Accessible.name: text
                    Accessible.onPressAction: choose()
                    Accessible.onToggleAction: choose()
                    onClicked: choose()

                    function choose() {
                        // A new language restarts the application; the same one changes nothing.
                        sheet.language.choose(modelData.value)
                        checked = Qt.binding(() => sheet.language !== null && sheet.language.preference === modelData.value)
                    }
                }
            }
            SettingNote {
                text: sheet.t("settings.language.restartHint")
            }
        }

        SettingsSection {
            visible: sheet.loginItem !== null || sheet.overlay.firstRunSession !== null

            SettingSwitch {
                objectName: "launchAtLogin"
                visible: sheet.loginItem !== null
                label: sheet.t("settings.launchAtLogin")
                hint: sheet.t("settings.launchAtLogin.hint")
                value: sheet.loginItem ? sheet.loginItem.enabled : false
                onChangeRequested: on => sheet.loginItem.setLaunchAtLogin(on)
            }
            SettingNote {
                objectName: "launchAtLoginError"
                warning: true
                text: sheet.loginItem ? sheet.loginItem.lastError : ""
            }

            TextButton {
                objectName: "showFirstRunButton"
                visible: sheet.overlay.firstRunSession !== null
                text: sheet.t("settings.showFirstRun")
                onClicked: {
                    sheet.overlay.showSettings = false
                    sheet.overlay.firstRunSession.show()
                }
            }
        }
    }
}
