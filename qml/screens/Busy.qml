import QtQuick 2.6
import QtQuick.Controls 2.0
import QtQuick.Controls.Material 2.0
import "../controls"

// "Please wait": the manager's message above a running busy indicator.
Item {
    id: screen
    Column {
        anchors.centerIn: parent
        anchors.verticalCenterOffset: 60
        width: parent.width - 80
        spacing: 40
        TextBox {
            objectName: "BusyMessage"
            width: parent.width
            size: 40
            bold: true
            color: "#112D63"
            text: manager.message
        }
        BusyIndicator {
            objectName: "BusyIndicator"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 120
            height: 120
            running: screen.visible
            Material.accent: "#009FDF"
        }
    }
}
