import QtQuick 2.6
import QtGraphicalEffects 1.0

// An icon drawn in black and tinted with one colour.
Item {
    property alias source: image.source
    property color color: "#333333"

    Image {
        id: image
        anchors.fill: parent
        sourceSize.width: width
        sourceSize.height: height
        fillMode: Image.PreserveAspectFit
        visible: false
    }
    ColorOverlay {
        anchors.fill: image
        source: image
        color: parent.color
    }
}
