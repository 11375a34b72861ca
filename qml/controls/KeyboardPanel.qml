import QtQuick 2.6

// Slides the on-screen keyboard up while the input method is visible. The
// keyboard module is a platform part: without it the panel stays empty.
Item {
    id: panel
    property var keyboard: Qt.createComponent("qrc:/qml/controls/VirtualKeyboard.qml")

    width: parent.width
    height: 260
    y: Qt.inputMethod.visible ? parent.height - height : parent.height
    visible: y < parent.height
    Behavior on y { NumberAnimation { duration: 150 } }

    Loader {
        objectName: "KeyboardLoader"
        anchors.fill: parent
        sourceComponent: panel.keyboard.status === Component.Ready ? panel.keyboard : null
    }
    Component.onCompleted: {
        if (keyboard.status !== Component.Ready)
            console.log("[QML] On-screen keyboard not available");
    }
}
