import QtQuick 2.6
import QtQuick.Controls 2.2
import "Ipv4.js" as Ipv4

// A labelled IPv4 field that turns red while its text is not an address.
Row {
    property alias label: labelText.text
    property alias text: field.text
    property alias editable: field.enabled
    readonly property bool acceptable: Ipv4.isAcceptable(field.text)

    width: parent ? parent.width : 0
    TextBox {
        id: labelText
        width: parent.width / 2
        height: 48
        horizontalAlignment: Text.AlignLeft
    }
    TextField {
        id: field
        objectName: "field"
        width: parent.width / 2
        color: parent.acceptable ? (enabled ? "#333333" : "#999999") : "#db4a37"
        inputMethodHints: Qt.ImhFormattedNumbersOnly
    }
}
