import QtQuick

// The agent's avatar: a small still orb.
Item {
    id: avatar
    property string mood: "idle"
    implicitWidth: 28
    implicitHeight: 28
    Accessible.ignored: true

    OrbView {
        anchors.centerIn: parent
        width: parent.width * 1.45
        height: width
        mood: avatar.mood
        reduceMotion: true
    }
}
