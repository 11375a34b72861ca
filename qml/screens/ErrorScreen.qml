import QtQuick 2.6
import "../controls"

// The passage failed: red cross, a fixed title and the session's error text.
Item {
    MessageScreen {
        anchors.fill: parent
        anchors.topMargin: 80
        icon: "qrc:/qml/images/Icons/invalid.svg"
        iconColor: "#db4a37"
        text: manager.dynTr + qsTr("Transaction error")
    }
    TextBox {
        objectName: "ErrorMessage"
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 40
        x: 40
        width: parent.width - 80
        points: 14
        text: manager.message
    }
}
