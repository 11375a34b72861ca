import QtQuick 2.6
import QtQuick.Controls 2.2
import "../../controls"
import "../../controls/Ipv4.js" as Ipv4

// Static Ethernet settings. Nothing is sent until every field passes the checks.
SettingsPage {
    id: page
    readonly property var ethernet: network.ethernet
    readonly property bool manual: ethernet.method === "manual"

    // Untranslated message of the first failing rule, or "" when the input may be saved.
    function check() {
        if (ethernet.method !== "manual")
            return "";
        return Ipv4.check({ address: address.text, netmask: netmask.text, gateway: gateway.text,
                            dns0: dns0.text, dns1: dns1.text });
    }

    function save() {
        var error = check();
        if (error !== "") {
            problem.text = manager.dynTr + qsTr(error);
            problem.open();
            return;
        }
        var config = ethernet.config;
        config.address = address.text;
        config.mask = netmask.text;
        config.gateway = gateway.text;
        config.dns0 = dns0.text;
        config.dns1 = dns1.text;
        // A configuration that never left stays on the page, with the reason.
        if (!ethernet.save()) {
            problem.text = manager.dynTr + qsTr("Configuration not sent, no connection to the network service");
            problem.open();
            return;
        }
        page.StackView.view.pop();
    }

    Component.onCompleted: {
        var config = ethernet.config;
        address.text = config ? config.address : "";
        netmask.text = config ? config.mask : "";
        gateway.text = config ? config.gateway : "";
        dns0.text = config ? config.dns0 : "";
        dns1.text = config ? config.dns1 : "";
    }

    Group { title: manager.dynTr + qsTr("Ethernet Configuration") }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Mode") }
        ComboBox {
            objectName: "ModeChoice"
            width: parent.width / 2
            model: ["auto", "manual"]
            currentIndex: page.manual ? 1 : 0
            onActivated: page.ethernet.method = model[index]
        }
    }
    IpField { id: address; objectName: "address"; editable: page.manual; label: manager.dynTr + qsTr("IPv4 Address") }
    IpField { id: netmask; objectName: "netmask"; editable: page.manual; label: manager.dynTr + qsTr("IPv4 Netmask") }
    IpField { id: gateway; objectName: "gateway"; editable: page.manual; label: manager.dynTr + qsTr("IPv4 Gateway") }
    IpField { id: dns0; objectName: "dns0"; editable: page.manual; label: manager.dynTr + qsTr("DNS #0") }
    IpField { id: dns1; objectName: "dns1"; editable: page.manual; label: manager.dynTr + qsTr("DNS #1") }
    Row {
        spacing: 20
        CustomButton { objectName: "BackButton"; text: manager.dynTr + qsTr("Back"); onClicked: page.StackView.view.pop() }
        CustomButton { objectName: "SaveButton"; text: manager.dynTr + qsTr("Save"); onClicked: page.save() }
    }
    CustomPopup {
        id: problem
        objectName: "ProblemPopup"
    }
}
