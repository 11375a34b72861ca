import QtQuick 2.6

// A settings line: a label on the left, its value (optionally coloured) on the right.
Item {
    property alias label: labelText.text
    property alias value: valueText.text
    property alias valueColor: valueText.color

    width: parent ? parent.width : 0
    height: 34
    TextBox {
        id: labelText
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width * 0.45
        horizontalAlignment: Text.AlignLeft
        wrapMode: Text.NoWrap
        elide: Text.ElideRight
    }
    TextBox {
        id: valueText
        objectName: "value"
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width * 0.55
        horizontalAlignment: Text.AlignRight
        wrapMode: Text.NoWrap
        elide: Text.ElideRight
        bold: true
    }
}
