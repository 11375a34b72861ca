import QtQuick 2.6
import QtQuick.Controls 2.2
import "../../controls"

// Validator and terminal options. Without a validator object the form
// shows empty values and cannot save.
SettingsPage {
    id: page
    readonly property var validator: typeof validatorManager !== "undefined" ? validatorManager : null
    readonly property var config: validator ? validator.config : null
    readonly property bool changed: config !== null && (obcUrl.text !== String(config.obuUrl)
        || passback.value !== config.passbackSecs || qrPassback.checked !== config.passbackQrEnabled
        || shutdownDelay.value !== manager.shutdownDelaySec || showError.checked !== manager.showErrorDesc)

    function save() {
        config.obuUrl = obcUrl.text;
        config.passbackSecs = passback.value;
        config.passbackQrEnabled = qrPassback.checked;
        validator.saveConfig();
        manager.shutdownDelaySec = shutdownDelay.value;
        manager.showErrorDesc = showError.checked;
        page.StackView.view.pop();
    }

    function back() {
        if (validator)
            validator.refreshConfig();
        page.StackView.view.pop();
    }

    Component.onCompleted: {
        obcUrl.text = config ? String(config.obuUrl) : "";
        passback.value = config ? config.passbackSecs : 0;
        qrPassback.checked = config ? config.passbackQrEnabled : false;
        shutdownDelay.value = manager.shutdownDelaySec;
        showError.checked = manager.showErrorDesc;
    }

    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("OBC URL") }
        TextField { id: obcUrl; objectName: "ObcUrl"; width: parent.width / 2; enabled: page.config !== null }
    }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Passback Time (sec)") }
        SpinBox { id: passback; from: 0; to: 86400; editable: true; enabled: page.config !== null }
    }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Shutdown Delay (sec)") }
        SpinBox { id: shutdownDelay; objectName: "ShutdownDelay"; from: 5; to: 900; stepSize: 5; editable: true }
    }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("QR Passback Enabled") }
        Switch { id: qrPassback; enabled: page.config !== null }
    }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Show Error Description") }
        Switch { id: showError; objectName: "ShowErrorDesc" }
    }
    Row {
        spacing: 20
        CustomButton { objectName: "BackButton"; text: manager.dynTr + qsTr("Back"); onClicked: page.back() }
        CustomButton {
            objectName: "SaveButton"
            text: manager.dynTr + qsTr("Save")
            enabled: page.changed
            onClicked: page.save()
        }
    }
}
