import QtQuick 2.6
import QtQuick.Controls 2.2
import "../../controls"
import "../../controls/Colors.js" as Colors

// Software update status, versions and progress.
SettingsPage {
    id: page
    readonly property var update: manager.update

    function version(text) {
        return text ? text : manager.dynTr + qsTr("None");
    }

    ValueRow {
        objectName: "UpdateStatus"
        label: manager.dynTr + qsTr("Status")
        value: page.update ? page.update.status : ""
        valueColor: Colors.updateStatus(value, "#333333")
    }
    ValueRow { label: manager.dynTr + qsTr("Current Version"); value: page.version(page.update ? page.update.current : "") }
    ValueRow { label: manager.dynTr + qsTr("Pending Version"); value: page.version(page.update ? page.update.pending : "") }
    ValueRow { label: manager.dynTr + qsTr("Progress"); value: page.update ? page.update.progressMessage : "" }
    ProgressBar {
        width: parent.width
        from: 0
        to: 100
        value: page.update ? page.update.progressPercent : 0
    }
    Row {
        spacing: 20
        CustomButton {
            objectName: "CheckButton"
            text: manager.dynTr + qsTr("Check")
            enabled: page.update !== null
            onClicked: page.update.check()
        }
        CustomButton {
            objectName: "InstallButton"
            text: manager.dynTr + qsTr("Install")
            enabled: page.update !== null && page.update.status === "Ready to install"
            onClicked: page.update.install()
        }
    }
}
