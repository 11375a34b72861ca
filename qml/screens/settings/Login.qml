import QtQuick 2.6
import "../../controls"

// Maintenance PIN entry. The entry is emptied whenever the page is shown or
// hidden, and after a refused PIN (the box shakes). After repeated wrong PINs the
// login is locked for a while: the field says so and the button is off.
Item {
    id: page
    property string entry: ""

    function append(digit) { entry += digit; }
    function backspace() { entry = entry.slice(0, -1); }
    function clear() { entry = ""; }

    onVisibleChanged: clear()

    Connections {
        target: manager
        function onSettingsAccessGranted() {
            console.log("[QML] Settings access granted");
            manager.screen = "Settings";
        }
        function onSettingsAccessDenied() {
            console.warn("[QML] Settings access denied");
            page.clear();
            shake.restart();
        }
    }

    Column {
        id: box
        objectName: "LoginBox"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 130
        spacing: 14

        Rectangle {
            width: pad.width
            height: 56
            radius: 6
            border.color: "#112D63"
            ImageBox {
                x: 12
                anchors.verticalCenter: parent.verticalCenter
                width: 32
                height: 32
                color: "#112D63"
                source: "qrc:/qml/images/Icons/lock.svg"
            }
            TextBox {
                objectName: "PinField"
                anchors.centerIn: parent
                size: 26
                color: manager.settingsLoginLocked ? "#C62828" : page.entry.length > 0 ? "#112D63" : "#999999"
                text: manager.settingsLoginLocked ? manager.dynTr + qsTr("Login locked")
                    : page.entry.length > 0 ? page.entry : manager.dynTr + qsTr("Pin")
            }
        }
        NumberPad {
            id: pad
            objectName: "NumberPad"
            target: page
        }
        CustomButton {
            objectName: "LoginButton"
            width: pad.width
            text: manager.dynTr + qsTr("LOGIN")
            enabled: page.entry.length > 0 && !manager.settingsLoginLocked
            onClicked: manager.settingsLoginRequest(page.entry)
        }
    }

    SequentialAnimation {
        id: shake
        loops: 2
        NumberAnimation { target: box; property: "anchors.horizontalCenterOffset"; to: 10; duration: 50 }
        NumberAnimation { target: box; property: "anchors.horizontalCenterOffset"; to: -10; duration: 100 }
        NumberAnimation { target: box; property: "anchors.horizontalCenterOffset"; to: 0; duration: 50 }
    }
}
