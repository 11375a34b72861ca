import QtQuick 2.6

// Settings menu row: icon, title, hint and an arrow to the right.
Rectangle {
    id: row
    property alias icon: image.source
    property alias title: titleText.text
    property alias hint: hintText.text
    signal clicked()

    height: 64
    color: area.pressed ? "#E8EEF6" : "white"
    ImageBox {
        id: image
        x: 20
        anchors.verticalCenter: parent.verticalCenter
        width: 36
        height: 36
        color: "#112D63"
    }
    Column {
        x: 76
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width - 140
        TextBox { id: titleText; width: parent.width; horizontalAlignment: Text.AlignLeft; bold: true; size: 20 }
        TextBox { id: hintText; width: parent.width; horizontalAlignment: Text.AlignLeft; size: 14; color: "#777777" }
    }
    ImageBox {
        anchors.right: parent.right
        anchors.rightMargin: 20
        anchors.verticalCenter: parent.verticalCenter
        width: 24
        height: 24
        color: "#999999"
        source: "qrc:/qml/images/Icons/chevron-right.svg"
    }
    Rectangle { anchors.bottom: parent.bottom; x: 76; width: parent.width - 76; height: 1; color: "#DDDDDD" }
    MouseArea { id: area; anchors.fill: parent; onClicked: row.clicked() }
}
