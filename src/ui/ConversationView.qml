import QtQuick
import QtQuick.Controls

// The displayed conversation, then the typing bubble while a turn works and
// the failure, if any. Follows the newest message unless the owner scrolled up.
ListView {
    id: conversation

    required property OverlayContext overlay

    clip: true
    spacing: 2
    leftMargin: 14
    rightMargin: 14
    topMargin: 10
    bottomMargin: 10
    boundsBehavior: Flickable.StopAtBounds
    model: overlay.viewModel.messageModel
    activeFocusOnTab: true
    Accessible.role: Accessible.List
    Accessible.name: overlay.t("chat.history")

    property bool followEnd: true
    onMovementEnded: followEnd = atYEnd
    onContentHeightChanged: if (followEnd) follow.restart()
    onCountChanged: { followEnd = true; follow.restart() }
    // Follows the end once the new content is laid out.
    Timer { id: follow; interval: 0; onTriggered: conversation.positionViewAtEnd() }

    delegate: MessageBubble {
        required property var model
        readonly property ConversationView view: ListView.view as ConversationView
        width: view.width - view.leftMargin - view.rightMargin
        overlay: view.overlay
        messageId: String(model.id)
        role: String(model.role)
        text: model.text
        hasAttachment: !!model.hasAttachment
        hasSentContext: !!model.hasSentContext
        pendingConnection: !!model.pendingConnection
        connectTitle: model.connectTitle || ""
        cancelTitle: model.cancelTitle || ""
    }

    footer: Column {
        id: footer
        readonly property ConversationView view: ListView.view as ConversationView
        width: view.width - view.leftMargin - view.rightMargin
        TypingBubble {
            objectName: "typingBubble"
            width: parent.width
            overlay: footer.view.overlay
            visible: footer.view.overlay.isBusy
            height: visible ? implicitHeight : 0
        }
        ErrorBubble {
            objectName: "errorBubble"
            width: parent.width
            overlay: footer.view.overlay
            visible: !!footer.view.overlay.failure
            height: visible ? implicitHeight : 0
        }
    }

    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
}
