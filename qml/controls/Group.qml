import QtQuick 2.6

// A titled group of settings lines.
Column {
    property alias title: titleText.text
    width: parent ? parent.width : 0
    spacing: 2
    TextBox {
        id: titleText
        width: parent.width
        horizontalAlignment: Text.AlignLeft
        size: 16
        bold: true
        color: "#009FDF"
    }
    Rectangle { width: parent.width; height: 1; color: "#009FDF" }
}
