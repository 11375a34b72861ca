import QtQuick 2.6
import "../controls"

// The terminal cannot serve: warning sign and the terminal's reason.
Item {
    MessageScreen {
        anchors.fill: parent
        anchors.topMargin: 80
        icon: "qrc:/qml/images/Icons/warning.svg"
        iconColor: "#db4a37"
        text: manager.dynTr + qsTr("Out-of-order")
    }
    TextBox {
        objectName: "OutOfOrderMessage"
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 40
        x: 40
        width: parent.width - 80
        points: 14
        text: terminal.reason
    }
}
