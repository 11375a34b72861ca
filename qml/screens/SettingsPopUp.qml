import QtQuick 2.6
import "../controls"

// Asks before the maintenance login is opened.
CustomPopup {
    isDialog: true
    text: manager.dynTr + qsTr("Open the settings?")
    onButtonYesPressed: manager.setMaintenanceScreen()
}
