import QtQuick

// One dot of the typing bubble, pulsing a little after the one before it.
Rectangle {
    id: dot
    property int index
    property bool running: false
    width: 7
    height: 7
    radius: 3.5
    color: Theme.textSecondary
    SequentialAnimation on opacity {
        running: dot.running
        loops: Animation.Infinite
        PauseAnimation { duration: dot.index * 160 }
        NumberAnimation { to: 1; duration: 300; easing.type: Easing.OutQuad }
        NumberAnimation { to: 0.35; duration: 300; easing.type: Easing.InQuad }
        PauseAnimation { duration: (2 - dot.index) * 160 + 200 }
    }
}
