import QtQuick 2.6

// A text with the size, alignment, weight and colour the screens use.
Text {
    property int size: 18
    property bool bold: false
    // A size in points (at 96 dpi) instead of pixels.
    property real points: 0
    font.pixelSize: points > 0 ? Math.round(points * 4 / 3) : size
    font.bold: bold
    color: "#333333"
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    wrapMode: Text.WordWrap
}
