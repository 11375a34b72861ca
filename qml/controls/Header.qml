import QtQuick 2.6

// Driver header: the authority logo and the clock, whose hidden gesture
// opens the maintenance path.
Item {
    signal magicButtonPressed()
    height: 120

    Image {
        anchors.left: parent.left
        anchors.leftMargin: 30
        anchors.verticalCenter: parent.verticalCenter
        width: 300
        height: 80
        sourceSize: Qt.size(300, 80)
        source: "qrc:/qml/images/Icons/ruvo-logo-top-gr.svg"
    }
    Clock {
        objectName: "HeaderClock"
        anchors.right: parent.right
        anchors.rightMargin: 30
        anchors.verticalCenter: parent.verticalCenter
        onTapped: console.log("[QML] Clock tapped.")
        onPressAndHold: magicButtonPressed()
    }
}
