import QtQuick 2.6

// Screen saver: the configured background colour and image.
Rectangle {
    color: manager.screenSaverBg
    Image {
        anchors.centerIn: parent
        source: manager.screenSaverImg
    }
}
