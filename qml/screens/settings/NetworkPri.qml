import QtQuick 2.6
import "../../controls"
import "../../controls/Colors.js" as Colors

// The network service's primary connection.
SettingsPage {
    readonly property var primary: network.primaryConnection
    readonly property var ipv4: primary ? primary.ipv4 : null

    Group { title: manager.dynTr + qsTr("Primary Connection") }
    ValueRow {
        label: manager.dynTr + qsTr("Connection State")
        value: network.connectionState
        valueColor: Colors.connectionState(value)
    }
    ValueRow {
        label: manager.dynTr + qsTr("Connectivity")
        value: network.connectivity
        valueColor: Colors.connectivity(value)
    }
    ValueRow { label: manager.dynTr + qsTr("Hostname"); value: network.hostname }
    ValueRow { label: manager.dynTr + qsTr("Connection Type"); value: primary ? primary.type : "" }
    ValueRow { label: manager.dynTr + qsTr("Interface"); value: primary ? primary.interface : "" }
    ValueRow { label: manager.dynTr + qsTr("IPv4 Address"); value: ipv4 ? ipv4.address : "" }
    ValueRow { label: manager.dynTr + qsTr("IPv4 Netmask"); value: ipv4 ? ipv4.mask : "" }
    ValueRow { label: manager.dynTr + qsTr("IPv4 Gateway"); value: ipv4 ? ipv4.gateway : "" }
    ValueRow { label: manager.dynTr + qsTr("IPv4 DNS"); value: ipv4 ? ipv4.dns0 : "" }
}
