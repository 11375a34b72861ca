import QtQuick 2.6

// A scrolling settings page; its children are stacked in one column.
Flickable {
    id: page
    default property alias content: column.data
    property alias spacing: column.spacing

    contentHeight: column.height + 40
    clip: true
    Column {
        id: column
        x: 40
        y: 20
        width: page.width - 80
        spacing: 12
    }
}
