import QtQuick
import QtQuick.Shapes

// One line icon from Icons.mjs, stroked in `color`.
Item {
    id: glyph

    property string path
    property color color: "black"
    property real lineWidth: 1.8

    implicitWidth: 20
    implicitHeight: 20

    Shape {
        width: 24
        height: 24
        scale: glyph.width / 24
        transformOrigin: Item.TopLeft
        antialiasing: true
        layer.enabled: false

        ShapePath {
            strokeColor: glyph.color
            strokeWidth: glyph.lineWidth
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            joinStyle: ShapePath.RoundJoin
            PathSvg { path: glyph.path }
        }
    }
}
