import QtQuick 2.6
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.3

// Two tabs: the primary connection and the Ethernet interface.
Item {
    id: page
    readonly property var stack: StackView.view

    TabBar {
        id: tabs
        objectName: "NetworkTabs"
        width: parent.width
        TabButton { text: manager.dynTr + qsTr("General") }
        TabButton { text: manager.dynTr + qsTr("Ethernet") }
    }
    StackLayout {
        anchors.fill: parent
        anchors.topMargin: tabs.height
        currentIndex: tabs.currentIndex
        NetworkPri { objectName: "NetworkPri" }
        Ethernet {
            objectName: "Ethernet"
            onConfigureRequested: page.stack.push("qrc:/qml/screens/settings/EthernetConfig.qml")
        }
    }
}
