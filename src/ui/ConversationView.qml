import QtQuick
import QtQuick.Controls

// The displayed conversation, then the typing bubble while a turn works and
// the failure, if any. Follows the newest message unless the owner scrolled up.
ListView {
    id: list

    required property OverlayRootView overlay

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
    onContentHeightChanged: if (followEnd) Qt.callLater(positionViewAtEnd)
    onCountChanged: { followEnd = true; Qt.callLater(positionViewAtEnd) }

    delegate: MessageBubble {
        required property var model
        width: ListView.view.width - ListView.view.leftMargin - ListView.view.rightMargin
        overlay: list.overlay
        messageId: String(model.id)
        role: String(model.role)
        text: model.text
        hasAttachment: !!model.hasAttachment
        pendingConnection: !!model.pendingConnection
        connectTitle: model.connectTitle || ""
        cancelTitle: model.cancelTitle || ""
    }

    footer: Column {
        width: list.width - list.leftMargin - list.rightMargin
        TypingBubble {
            objectName: "typingBubble"
            width: parent.width
            overlay: list.overlay
            visible: list.overlay.isBusy
            height: visible ? implicitHeight : 0
        }
        ErrorBubble {
            objectName: "errorBubble"
            width: parent.width
            overlay: list.overlay
            visible: !!list.overlay.failure
            height: visible ? implicitHeight : 0
        }
    }

    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
}
