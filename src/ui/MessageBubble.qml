import QtQuick
import "Texts.mjs" as Texts
import QtQuick.Layouts

// One displayed message: the owner's on the right, the assistant's on the left
// beside the avatar; a screenshot taken for a question shows under its text.
Item {
    id: bubble

    required property OverlayContext overlay
    required property string messageId
    required property string role
    required property string text
    required property bool hasAttachment
    // What left the device for this screen question can be opened from the screenshot.
    property bool hasSentContext: false
    // A connection link waiting for the owner's choice (asked on an assistant message).
    property bool pendingConnection: false
    property string connectTitle
    property string cancelTitle

    readonly property bool fromUser: role === "user"
    readonly property real maxBubbleWidth: width * 0.8
    readonly property real textWidth: Math.min(metrics.advanceWidth + 4, maxBubbleWidth - 28)

    TextMetrics { id: metrics; font.pixelSize: Theme.fontSize; text: bubble.text }

    implicitHeight: row.implicitHeight + 10
    Accessible.role: Accessible.StaticText
    Accessible.name: (fromUser ? "You: " : Texts.launcherName(overlay.viewModel.connectedAgentName) + ": ") + text

    // Every displayed message is also written to the log, so the conversation
    // can be followed from outside without a screen reader.
    function report() {
        if (overlay.expanded && !overlay.showSettings)
            overlay.panel.messageDisplayed(messageId, role, text)
    }
    Component.onCompleted: report()
    onTextChanged: report()
    Connections {
        target: bubble.overlay
        function onExpandedChanged() { bubble.report() }
        function onShowSettingsChanged() { bubble.report() }
    }

    opacity: 0
    transform: Translate { id: slide; y: 8 }
    ParallelAnimation {
        running: true
        NumberAnimation { target: bubble; property: "opacity"; to: 1; duration: bubble.overlay.reduceMotion ? 0 : 220; easing.type: Easing.OutCubic }
        NumberAnimation { target: slide; property: "y"; to: 0; duration: bubble.overlay.reduceMotion ? 0 : 260; easing.type: Easing.OutCubic }
    }

    RowLayout {
        id: row
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.topMargin: 5
        layoutDirection: bubble.fromUser ? Qt.RightToLeft : Qt.LeftToRight
        spacing: 8

        ZelmAvatar {
            visible: !bubble.fromUser
            Layout.alignment: Qt.AlignTop
            Layout.preferredWidth: 26
            Layout.preferredHeight: 26
        }

        Rectangle {
            id: body
            Layout.maximumWidth: bubble.maxBubbleWidth
            Layout.preferredWidth: bubble.hasAttachment ? bubble.maxBubbleWidth
                                 : Math.max(bubble.textWidth, bubble.pendingConnection ? 220 : 0) + 28
            implicitHeight: content.implicitHeight + 20
            radius: Theme.bubbleRadius
            color: bubble.fromUser ? Theme.userBubble : Theme.assistantBubble
            border.width: bubble.fromUser ? 0 : 1
            border.color: Theme.assistantBubbleBorder

            ColumnLayout {
                id: content
                anchors.fill: parent
                anchors.margins: 10
                anchors.leftMargin: 14
                anchors.rightMargin: 14
                spacing: 8

                TextEdit {
                    id: messageText
                    Layout.fillWidth: true
                    text: bubble.text
                    textFormat: TextEdit.PlainText
                    wrapMode: TextEdit.Wrap
                    readOnly: true
                    selectByMouse: true
                    color: bubble.fromUser ? Theme.userBubbleText : Theme.text
                    selectionColor: bubble.fromUser ? Qt.darker(Theme.userBubble, 1.4) : Theme.accent
                    selectedTextColor: "#ffffff"
                    font.pixelSize: Theme.fontSize
                    Accessible.ignored: true
                }

                Row {
                    visible: bubble.pendingConnection
                    spacing: 8
                    TextButton {
                        objectName: "confirmConnection"
                        text: bubble.connectTitle
                        prominent: true
                        onClicked: bubble.overlay.viewModel.confirmPlatformConnection(bubble.messageId)
                    }
                    TextButton {
                        objectName: "cancelConnection"
                        text: bubble.cancelTitle
                        onClicked: bubble.overlay.viewModel.cancelPlatformConnection(bubble.messageId)
                    }
                }

                Image {
                    id: screenshot
                    visible: bubble.hasAttachment
                    Layout.fillWidth: true
                    Layout.preferredWidth: bubble.maxBubbleWidth - 28
                    Layout.preferredHeight: status === Image.Ready ? width * sourceSize.height / Math.max(1, sourceSize.width) : 0
                    source: bubble.hasAttachment ? "image://chat/" + bubble.messageId : ""
                    fillMode: Image.PreserveAspectFit
                    asynchronous: false
                    cache: false
                    Accessible.role: Accessible.Graphic
                    Accessible.name: bubble.overlay.t("chat.screenshot")
                    TapHandler { enabled: bubble.hasSentContext; onTapped: sentView.open() }
                }

                TextButton {
                    objectName: "openSentContext"
                    visible: bubble.hasSentContext
                    text: bubble.overlay.t("sent.open")
                    onClicked: sentView.open()
                }
            }
        }

        Item { Layout.fillWidth: true }
    }

    SentContextView {
        id: sentView
        overlay: bubble.overlay
        messageId: bubble.messageId
    }
}
