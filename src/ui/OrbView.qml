import QtQuick
import QtQuick.Shapes

// The living orb: a soft liquid blob that breathes while idle, ripples while
// listening and speaking, and warms up while thinking. Reduce-motion keeps it still.
Item {
    id: orb

    // "idle", "listening", "speaking", "thinking" or "muted"
    property string mood: "idle"
    property bool reduceMotion: false
    property real phase

    readonly property var palette: mood === "listening" ? Theme.orbListening
                                 : mood === "speaking" ? Theme.orbSpeaking
                                 : mood === "thinking" ? Theme.orbThinking
                                 : mood === "muted" ? Theme.orbMuted
                                 : Theme.orbIdle
    property color core: palette[0]
    property color rim: palette[1]
    property color halo: palette[2]
    Behavior on core { ColorAnimation { duration: 420 } }
    Behavior on rim { ColorAnimation { duration: 420 } }
    Behavior on halo { ColorAnimation { duration: 420 } }

    readonly property real amplitude: reduceMotion ? 0
                                    : mood === "speaking" ? 0.075
                                    : mood === "listening" ? 0.06
                                    : mood === "thinking" ? 0.05
                                    : 0.03
    readonly property int cycleMs: mood === "speaking" ? 2600
                                 : mood === "listening" ? 3600
                                 : mood === "thinking" ? 3000
                                 : 9000
    readonly property real radius: Math.min(width, height) * 0.34
    readonly property real breathing: 1 + (reduceMotion ? 0 : 0.025 * Math.sin(phase))

    implicitWidth: 120
    implicitHeight: 120

    NumberAnimation on phase {
        from: 0
        to: 2 * Math.PI
        duration: orb.cycleMs
        loops: Animation.Infinite
        running: !orb.reduceMotion && orb.visible
    }

    // A closed smooth curve through points on a wobbling circle (Catmull-Rom as cubic Béziers).
    function blobPath(cx, cy, r, wobble, shift) {
        const n = 8;
        const points = [];
        for (let i = 0; i < n; ++i) {
            const angle = i / n * 2 * Math.PI;
            const k = 1 + wobble * (Math.sin(phase * 2 + i * 1.7 + shift) * 0.6 + Math.sin(phase * 3 - i * 2.3 + shift) * 0.4);
            points.push([cx + Math.cos(angle) * r * k, cy + Math.sin(angle) * r * k]);
        }
        let d = "M " + points[0][0].toFixed(2) + " " + points[0][1].toFixed(2);
        for (let i = 0; i < n; ++i) {
            const p0 = points[(i - 1 + n) % n], p1 = points[i], p2 = points[(i + 1) % n], p3 = points[(i + 2) % n];
            const c1x = p1[0] + (p2[0] - p0[0]) / 6, c1y = p1[1] + (p2[1] - p0[1]) / 6;
            const c2x = p2[0] - (p3[0] - p1[0]) / 6, c2y = p2[1] - (p3[1] - p1[1]) / 6;
            d += " C " + c1x.toFixed(2) + " " + c1y.toFixed(2) + " " + c2x.toFixed(2) + " " + c2y.toFixed(2)
               + " " + p2[0].toFixed(2) + " " + p2[1].toFixed(2);
        }
        return d + " Z";
    }

    // Halo.
    Shape {
        anchors.fill: parent
        scale: orb.breathing
        ShapePath {
            strokeColor: "transparent"
            fillGradient: RadialGradient {
                centerX: orb.width / 2; centerY: orb.height / 2
                centerRadius: orb.radius * 1.45
                focalX: centerX; focalY: centerY
                GradientStop { position: 0.55; color: Qt.rgba(orb.halo.r, orb.halo.g, orb.halo.b, 0.38) }
                GradientStop { position: 1.0; color: Qt.rgba(orb.halo.r, orb.halo.g, orb.halo.b, 0) }
            }
            PathSvg { path: orb.blobPath(orb.width / 2, orb.height / 2, orb.radius * 1.45, orb.amplitude * 0.5, 1.3) }
        }
    }

    // Body.
    Shape {
        anchors.fill: parent
        scale: orb.breathing
        ShapePath {
            strokeColor: Qt.rgba(1, 1, 1, 0.18)
            strokeWidth: 1
            fillGradient: RadialGradient {
                centerX: orb.width / 2; centerY: orb.height / 2
                centerRadius: orb.radius * 1.08
                focalX: orb.width / 2 - orb.radius * 0.35; focalY: orb.height / 2 - orb.radius * 0.4
                GradientStop { position: 0.0; color: Qt.lighter(orb.core, 1.25) }
                GradientStop { position: 0.55; color: orb.core }
                GradientStop { position: 1.0; color: orb.rim }
            }
            PathSvg { path: orb.blobPath(orb.width / 2, orb.height / 2, orb.radius, orb.amplitude, 0) }
        }
    }

    // Inner current: a lighter drop drifting inside the body.
    Shape {
        anchors.fill: parent
        scale: orb.breathing
        opacity: 0.55
        ShapePath {
            strokeColor: "transparent"
            fillGradient: RadialGradient {
                centerX: orb.width / 2 + Math.cos(orb.phase) * orb.radius * 0.18
                centerY: orb.height / 2 + Math.sin(orb.phase) * orb.radius * 0.12
                centerRadius: orb.radius * 0.6
                focalX: centerX; focalY: centerY
                GradientStop { position: 0.0; color: Qt.rgba(1, 1, 1, 0.55) }
                GradientStop { position: 1.0; color: Qt.rgba(1, 1, 1, 0) }
            }
            PathSvg {
                path: orb.blobPath(orb.width / 2 + Math.cos(orb.phase) * orb.radius * 0.18,
                                   orb.height / 2 + Math.sin(orb.phase) * orb.radius * 0.12,
                                   orb.radius * 0.6, orb.amplitude * 1.6, 2.1)
            }
        }
    }

    // Specular highlight.
    Rectangle {
        width: orb.radius * 0.55
        height: orb.radius * 0.32
        radius: height / 2
        x: orb.width / 2 - orb.radius * 0.62
        y: orb.height / 2 - orb.radius * 0.72
        rotation: -28
        color: Qt.rgba(1, 1, 1, 0.38)
        scale: orb.breathing
    }
}
