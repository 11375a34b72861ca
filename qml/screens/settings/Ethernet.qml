import QtQuick 2.6
import "../../controls"
import "../../controls/Colors.js" as Colors

// Live state of the Ethernet interface.
SettingsPage {
    readonly property var ethernet: network.ethernet
    readonly property var ipv4: ethernet ? ethernet.ipv4 : null
    signal configureRequested()

    Group { title: manager.dynTr + qsTr("Connection State") }
    ValueRow {
        label: manager.dynTr + qsTr("State")
        value: ethernet ? ethernet.state : ""
        valueColor: Colors.connectionState(value)
    }
    ValueRow { label: manager.dynTr + qsTr("IPv4 Address"); value: ipv4 ? ipv4.address : "" }
    ValueRow { label: manager.dynTr + qsTr("IPv4 Netmask"); value: ipv4 ? ipv4.mask : "" }
    ValueRow { label: manager.dynTr + qsTr("IPv4 Gateway"); value: ipv4 ? ipv4.gateway : "" }
    ValueRow { label: manager.dynTr + qsTr("IPv4 DNS#0"); value: ipv4 ? ipv4.dns0 : "" }
    ValueRow { label: manager.dynTr + qsTr("IPv4 DNS#1"); value: ipv4 ? ipv4.dns1 : "" }
    ValueRow { label: manager.dynTr + qsTr("MAC"); value: ethernet ? ethernet.mac : "" }
    ValueRow { label: manager.dynTr + qsTr("Interface"); value: ethernet ? ethernet.interface : "" }
    ValueRow { label: manager.dynTr + qsTr("State Change Reason"); value: ethernet ? ethernet.reason : "" }
    CustomButton {
        objectName: "ConfigureButton"
        text: manager.dynTr + qsTr("Configure")
        onClicked: configureRequested()
    }
}
