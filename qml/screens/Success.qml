import QtQuick 2.6
import "../controls"

// A card was issued: green tick and the manager's message.
Item {
    MessageScreen {
        anchors.fill: parent
        anchors.topMargin: 120
        icon: "qrc:/qml/images/Icons/valid.svg"
        iconColor: "#41b987"
        text: manager.message
    }
}
