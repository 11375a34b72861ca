import QtQuick 2.6
import QtQuick.FreeVirtualKeyboard 1.0

// The platform's on-screen keyboard; loaded only where its module exists.
InputPanel {
    anchors.fill: parent
    Keys.onReturnPressed: Qt.inputMethod.hide()
}
