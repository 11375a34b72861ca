import QtQuick 2.6

// Event list row: title and time, and a message that a tap expands.
Rectangle {
    id: row
    property string title
    property string message
    property string time
    property bool expanded: false

    width: parent ? parent.width : 0
    height: column.height + 20
    color: expanded ? "#F2F6FA" : "white"
    Column {
        id: column
        x: 16
        y: 10
        width: parent.width - 32
        Item {
            width: parent.width
            height: 28
            TextBox {
                anchors.left: parent.left
                anchors.right: when.left
                horizontalAlignment: Text.AlignLeft
                elide: Text.ElideRight
                wrapMode: Text.NoWrap
                bold: true
                text: row.title
            }
            TextBox {
                id: when
                anchors.right: parent.right
                size: 14
                color: "#777777"
                text: row.time
            }
        }
        TextBox {
            width: parent.width
            horizontalAlignment: Text.AlignLeft
            size: 15
            color: "#555555"
            maximumLineCount: row.expanded ? 50 : 1
            elide: Text.ElideRight
            text: row.message
        }
    }
    Rectangle { anchors.bottom: parent.bottom; width: parent.width; height: 1; color: "#DDDDDD" }
    MouseArea { anchors.fill: parent; onClicked: row.expanded = !row.expanded }
}
