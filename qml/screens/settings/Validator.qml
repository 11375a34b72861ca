import QtQuick 2.6
import QtQuick.Controls 2.2
import "../../controls"

// Validator information. Only the serial number comes from this terminal;
// the rest shows the validator object where one exists, else empty texts.
SettingsPage {
    id: page
    readonly property var validator: typeof validatorManager !== "undefined" ? validatorManager : null

    function field(object, name) {
        var v = object ? object[name] : undefined;
        return v === undefined || v === null ? "" : String(v);
    }
    function part(name) {
        return validator ? validator[name] : null;
    }

    Group { title: "KSTVTerminal" }
    ValueRow { objectName: "SerialNumber"; label: manager.dynTr + qsTr("Serial Number"); value: manager.deviceId }
    ValueRow { objectName: "Vehicle"; label: manager.dynTr + qsTr("Vehicle"); value: page.field(page.validator, "vehicle") }
    ValueRow { label: manager.dynTr + qsTr("Version"); value: page.field(page.validator, "version") }
    ValueRow { label: manager.dynTr + qsTr("Status"); value: page.field(page.validator, "status") }
    ValueRow { label: manager.dynTr + qsTr("Reason"); value: page.field(page.validator, "reason") }
    Group { title: "RFID" }
    ValueRow { objectName: "RfidFirmware"; label: manager.dynTr + qsTr("Firmware"); value: page.field(page.part("rfid"), "firmware") }
    ValueRow { label: manager.dynTr + qsTr("Model"); value: page.field(page.part("rfid"), "model") }
    ValueRow { label: manager.dynTr + qsTr("UID"); value: page.field(page.part("rfid"), "deviceUid") }
    ValueRow { label: manager.dynTr + qsTr("State"); value: page.field(page.part("rfid"), "state") }
    ValueRow { label: manager.dynTr + qsTr("Error"); value: page.field(page.part("rfid"), "error") }
    Group { title: "SAM" }
    ValueRow { label: manager.dynTr + qsTr("Slot"); value: page.field(page.part("sam"), "slot") }
    ValueRow { label: manager.dynTr + qsTr("Name"); value: page.field(page.part("sam"), "name") }
    ValueRow { label: manager.dynTr + qsTr("Version"); value: page.field(page.part("sam"), "version") }
    ValueRow { label: manager.dynTr + qsTr("UID"); value: page.field(page.part("sam"), "uid") }
    ValueRow { label: manager.dynTr + qsTr("Mode"); value: page.field(page.part("sam"), "mode") }
    ValueRow { label: manager.dynTr + qsTr("Unlocked"); value: page.field(page.part("sam"), "unlocked") }
    ValueRow { label: manager.dynTr + qsTr("Production"); value: page.field(page.part("sam"), "production") }
    CustomButton {
        objectName: "ConfigureButton"
        text: manager.dynTr + qsTr("Configure")
        onClicked: page.StackView.view.push("qrc:/qml/screens/settings/ValidatorConfig.qml")
    }
}
