import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbel.Ui

// What left this computer for one screen question, exactly: the picture as
// uploaded (its size in pixels and bytes, and a checksum to compare it by),
// the recognised lines and controls of the prepared context, the
// accessibility summary, the page address, and how many lines were withheld
// as secrets (the number only). It closes itself when the message goes.
Popup {
    id: view

    required property OverlayContext overlay
    required property string messageId

    parent: Overlay.overlay
    x: 12
    y: 12
    width: (parent ? parent.width : 480) - 24
    height: (parent ? parent.height : 640) - 24
    modal: true
    focus: true
    padding: 14
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    // Reads the conversation only while shown: every bubble has its view.
    readonly property SentContextSheet sheet: SentContextSheet {
        messages: view.visible ? view.overlay.viewModel.messageModel : null
        messageId: view.messageId
        onAvailableChanged: if (!available) view.close()
    }

    // A read-only text the owner can select and copy.
    component Field: TextEdit {
        property bool secondary: false
        Layout.fillWidth: true
        textFormat: TextEdit.PlainText
        wrapMode: TextEdit.Wrap
        readOnly: true
        selectByMouse: true
        color: secondary ? Theme.textSecondary : Theme.text
        selectionColor: Theme.accent
        selectedTextColor: Theme.accentText
        font.pixelSize: secondary ? Theme.smallFontSize : Theme.fontSize
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
    component Heading: Text {
        Layout.fillWidth: true
        Layout.topMargin: 6
        color: Theme.textSecondary
        font.pixelSize: Theme.smallFontSize
        font.bold: true
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    function listed(lines: list<string>): string {
        return lines.length > 0 ? lines.join("\n") : view.overlay.t("sent.none")
    }

    background: Rectangle {
        radius: Theme.radius
        color: Theme.panel
        border.width: 1
        border.color: Theme.panelBorder
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            Text {
                Layout.fillWidth: true
                text: view.overlay.t("sent.title")
                color: Theme.text
                font.pixelSize: Theme.titleFontSize
                font.bold: true
                wrapMode: Text.Wrap
            }
            TextButton {
                objectName: "closeSentContext"
                text: view.overlay.t("sent.close")
                onClicked: view.close()
            }
        }

        ScrollView {
            id: scroller
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: availableWidth

            ColumnLayout {
                width: scroller.availableWidth
                spacing: 6

                Image {
                    objectName: "sentPicture"
                    Layout.fillWidth: true
                    Layout.preferredHeight: status === Image.Ready
                                            ? width * sourceSize.height / Math.max(1, sourceSize.width) : 0
                    source: view.visible ? view.sheet.pictureSource : ""
                    fillMode: Image.PreserveAspectFit
                    asynchronous: false
                    cache: false
                    Accessible.role: Accessible.Graphic
                    Accessible.name: pictureFacts.text
                }
                Field {
                    id: pictureFacts
                    objectName: "sentPictureFacts"
                    text: view.overlay.t("sent.picture").arg(view.sheet.pixelWidth).arg(view.sheet.pixelHeight)
                                                        .arg(view.sheet.byteCount)
                }
                Field {
                    objectName: "sentDigest"
                    text: view.overlay.t("sent.digest").arg(view.sheet.digest)
                    secondary: true
                }

                Heading { text: view.overlay.t("sent.summary") }
                Field {
                    objectName: "sentSummary"
                    text: view.sheet.screenSummary.length > 0 ? view.sheet.screenSummary : view.overlay.t("sent.none")
                }
                Heading { text: view.overlay.t("sent.lines") }
                Field { objectName: "sentLines"; text: view.listed(view.sheet.visibleText) }
                Heading { text: view.overlay.t("sent.controls") }
                Field { objectName: "sentControls"; text: view.listed(view.sheet.controls) }
                Heading { text: view.overlay.t("sent.accessibility") }
                Field { objectName: "sentAccessibility"; text: view.listed(view.sheet.accessibility) }
                Heading { text: view.overlay.t("sent.address") }
                Field {
                    objectName: "sentAddress"
                    text: view.sheet.pageAddress.length > 0 ? view.sheet.pageAddress : view.overlay.t("sent.none")
                }
                Field {
                    objectName: "sentWithheld"
                    text: view.overlay.t("sent.withheld").arg(view.sheet.withheldLines)
                    secondary: true
                }
            }
        }
    }
}
