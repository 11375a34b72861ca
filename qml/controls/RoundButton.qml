import QtQuick 2.6

// A round button showing an icon.
Rectangle {
    id: button
    property alias source: icon.source
    property alias iconColor: icon.color
    signal clicked()

    implicitWidth: 56
    implicitHeight: 56
    radius: width / 2
    color: area.pressed ? "#33FFFFFF" : "transparent"
    ImageBox {
        id: icon
        anchors.centerIn: parent
        width: parent.width * 0.6
        height: width
        color: "white"
    }
    MouseArea {
        id: area
        anchors.fill: parent
        onClicked: button.clicked()
    }
}
