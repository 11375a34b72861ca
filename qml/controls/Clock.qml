import QtQuick 2.9

// Date and time, refreshed every second. A press held 800 ms, or more than
// two presses within a second of the first, raise pressAndHold.
Item {
    id: clock
    property string dateFormat: "dd-MM-yyyy"
    property string timeFormat: "hh:mm"
    property date now: new Date()
    property int presses: 0
    signal pressAndHold()
    signal tapped()

    implicitWidth: 200
    implicitHeight: 90

    Timer {
        interval: 1000
        running: true
        repeat: true
        onTriggered: clock.now = new Date()
    }
    Timer {
        id: pressWindow
        interval: 1000
        onTriggered: {
            console.log("[QML][Clock] Press time expired : " + clock.presses + " click(s)");
            if (clock.presses > 2) {
                console.log("[QML][Clock] More than 2 taps detected within 1 sec.");
                clock.pressAndHold();
            }
            clock.presses = 0;
        }
    }
    Column {
        anchors.centerIn: parent
        TextBox {
            objectName: "ClockDate"
            anchors.horizontalCenter: parent.horizontalCenter
            size: 20
            color: "#112D63"
            text: Qt.formatDateTime(clock.now, clock.dateFormat)
        }
        TextBox {
            objectName: "ClockTime"
            anchors.horizontalCenter: parent.horizontalCenter
            size: 42
            bold: true
            color: "#112D63"
            text: Qt.formatDateTime(clock.now, clock.timeFormat)
        }
    }
    MouseArea {
        anchors.fill: parent
        pressAndHoldInterval: 800
        onPressed: {
            clock.tapped();
            if (clock.presses === 0)
                pressWindow.start();
            clock.presses++;
        }
        onPressAndHold: {
            console.log("[QML][Clock] Press and hold detected");
            clock.pressAndHold();
        }
    }
}
