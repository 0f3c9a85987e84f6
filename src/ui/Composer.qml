import QtQuick
import Nimbel.Ui
import QtQuick.Controls
import QtQuick.Layouts
import "Texts.mjs" as Texts
import "Icons.mjs" as Icons

// The question field with the screenshot and send buttons. Enter sends,
// Shift+Enter starts a new line.
Item {
    id: composer

    required property OverlayContext overlay
    readonly property OverlayViewModel vm: overlay.viewModel
    readonly property bool canSend: Texts.canSend(vm.question, overlay.isBusy)

    implicitHeight: Math.min(140, field.implicitHeight + 24)

    function send() {
        if (canSend)
            vm.submitQuestion(true)
    }

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: 1
        color: Theme.panelBorder
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: 10
        anchors.leftMargin: 12
        spacing: 6

        IconButton {
            objectName: "screenshotButton"
            Layout.alignment: Qt.AlignBottom
            iconPath: Icons.camera
            label: composer.overlay.t("chat.screenshot")
            enabled: Texts.canCapture(composer.overlay.isBusy)
            onClicked: composer.vm.captureOnly()
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            radius: 18
            color: Theme.surface
            border.width: field.activeFocus ? 2 : 1
            border.color: field.activeFocus ? Theme.focusRing : Theme.panelBorder

            ScrollView {
                anchors.fill: parent
                anchors.leftMargin: 4
                anchors.rightMargin: 4

                TextArea {
                    id: field
                    objectName: "questionField"
                    placeholderText: composer.overlay.t("chat.placeholder")
                    placeholderTextColor: Theme.textSecondary
                    color: Theme.text
                    font.pixelSize: Theme.fontSize
                    wrapMode: TextArea.Wrap
                    background: null
                    selectByMouse: true
                    Accessible.role: Accessible.EditableText
                    Accessible.name: composer.overlay.t("chat.placeholder")

                    // The view model owns the text; the field only mirrors and edits it.
                    text: composer.vm.question
                    onTextChanged: if (composer.vm.question !== text) composer.vm.question = text

                    // The panel takes keyboard focus only when the owner wants to type.
                    onPressed: composer.overlay.panel.wantKeyboard()
                    onActiveFocusChanged: if (activeFocus) composer.overlay.panel.wantKeyboard()

                    Keys.onReturnPressed: (event) => {
                        if (event.modifiers & Qt.ShiftModifier)
                            event.accepted = false
                        else
                            composer.send()
                    }
                    Keys.onEnterPressed: composer.send()
                }
            }
        }

        IconButton {
            objectName: "sendButton"
            Layout.alignment: Qt.AlignBottom
            iconPath: Icons.send
            label: composer.overlay.t("chat.send")
            prominent: true
            enabled: composer.canSend
            onClicked: composer.send()
        }
    }

    function focusField() { field.forceActiveFocus() }
}
