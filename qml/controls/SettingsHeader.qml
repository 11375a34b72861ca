import QtQuick 2.6
import QtQuick.Controls 2.0

// Settings title bar: back arrow, title and the power and logout menu.
Rectangle {
    id: header
    property alias title: titleText.text
    property bool canGoBack: false
    signal backPressed()
    signal menuChosen(string action)

    height: 64
    color: "#112D63"
    RoundButton {
        objectName: "BackButton"
        x: 8
        anchors.verticalCenter: parent.verticalCenter
        visible: header.canGoBack
        source: "qrc:/qml/images/Icons/chevron-left.svg"
        onClicked: header.backPressed()
    }
    TextBox {
        id: titleText
        objectName: "SettingsTitle"
        anchors.centerIn: parent
        size: 24
        bold: true
        color: "white"
    }
    Image {
        objectName: "MenuButton"
        anchors.right: parent.right
        anchors.rightMargin: 16
        anchors.verticalCenter: parent.verticalCenter
        width: 40
        height: 40
        source: "qrc:/qml/images/Icons/menu.png"
        MouseArea { anchors.fill: parent; onClicked: menu.open() }
        Menu {
            id: menu
            objectName: "PowerMenu"
            y: parent.height
            // As wide as its longest entry: some translations are longer than the style's width.
            width: Math.max(implicitWidth, leftPadding + rightPadding + Math.max(restart.implicitWidth,
                reboot.implicitWidth, shutdown.implicitWidth, logout.implicitWidth))
            MenuItem { id: restart; text: manager.dynTr + qsTr("Restart Application"); onTriggered: header.menuChosen("exit") }
            MenuItem { id: reboot; text: manager.dynTr + qsTr("Reboot"); onTriggered: header.menuChosen("reboot") }
            MenuItem { id: shutdown; text: manager.dynTr + qsTr("Shutdown"); onTriggered: header.menuChosen("shutdown") }
            MenuItem { id: logout; text: manager.dynTr + qsTr("Logout"); onTriggered: header.menuChosen("logout") }
        }
    }
}
