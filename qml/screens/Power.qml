import QtQuick 2.6
import "../controls"

// Reboot and shutdown buttons.
Row {
    spacing: 40
    CustomButton { text: manager.dynTr + qsTr("Reboot"); onClicked: manager.rebootRequest() }
    CustomButton { text: manager.dynTr + qsTr("Shutdown"); onClicked: manager.shutdownRequest() }
}
