import QtQuick 2.6
import "../controls"

// Shows the serial number to quote when the terminal is provisioned.
CustomPopup {
    text: manager.dynTr + qsTr("Serial Number") + " : " + manager.deviceId
}
