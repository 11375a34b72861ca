import QtQuick 2.6

// A driver message: an icon above (or below) a bold centred text.
Item {
    property string icon
    property color iconColor
    property alias text: label.text
    property bool iconTop: true
    property int iconSize: 150

    Column {
        anchors.centerIn: parent
        width: parent.width - 80
        spacing: 30
        ImageBox {
            objectName: "MessageIcon"
            visible: iconTop
            anchors.horizontalCenter: parent.horizontalCenter
            width: iconSize
            height: iconSize
            color: iconColor
            source: icon
        }
        TextBox {
            id: label
            objectName: "MessageText"
            width: parent.width
            size: 40
            bold: true
            color: "#112D63"
        }
        ImageBox {
            visible: !iconTop
            anchors.horizontalCenter: parent.horizontalCenter
            width: iconSize
            height: iconSize
            color: iconColor
            source: icon
        }
    }
}
