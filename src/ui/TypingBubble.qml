import QtQuick

// Three pulsing dots while a turn is at work.
Item {
    id: typing

    required property OverlayContext overlay
    readonly property bool animate: visible && !overlay.reduceMotion
    implicitHeight: 44
    Accessible.role: Accessible.StaticText
    Accessible.name: overlay.t("status.thinking")

    ZelmAvatar {
        id: avatar
        x: 0
        y: 9
        width: 26
        height: 26
        mood: "thinking"
    }

    Rectangle {
        x: avatar.width + 8
        y: 5
        width: 62
        height: 34
        radius: Theme.bubbleRadius
        color: Theme.assistantBubble
        border.width: 1
        border.color: Theme.assistantBubbleBorder

        Row {
            anchors.centerIn: parent
            spacing: 6
            TypingDot { index: 0; running: typing.animate }
            TypingDot { index: 1; running: typing.animate }
            TypingDot { index: 2; running: typing.animate }
        }
    }
}
