import QtQuick

// Three pulsing dots while a turn is at work.
Item {
    id: typing

    required property OverlayRootView overlay
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
            Repeater {
                model: 3
                Rectangle {
                    id: dot
                    required property int index
                    width: 7
                    height: 7
                    radius: 3.5
                    color: Theme.textSecondary
                    opacity: 0.35
                    SequentialAnimation on opacity {
                        running: typing.visible && !typing.overlay.reduceMotion
                        loops: Animation.Infinite
                        PauseAnimation { duration: dot.index * 160 }
                        NumberAnimation { to: 1; duration: 300; easing.type: Easing.OutQuad }
                        NumberAnimation { to: 0.35; duration: 300; easing.type: Easing.InQuad }
                        PauseAnimation { duration: (2 - dot.index) * 160 + 200 }
                    }
                }
            }
        }
    }
}
