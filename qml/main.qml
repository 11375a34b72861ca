import QtQuick 2.6
import QtQuick.Window 2.2
import QtQuick.Controls 2.0
import QtQuick.Controls.Material 2.0
import "controls"

// The lane terminal's window. Every screen is loaded once and kept; the GUI
// manager's `screen` property says which one is visible.
//
// Start-up: the screen on show is built with the window, the hidden ones only
// after the first frame, in the background (a slice between frames). One that
// is asked for before its turn is finished at once.
ApplicationWindow {
    id: window
    objectName: "mainWindow"
    x: 0
    y: -1
    width: 1024
    height: 600
    visible: true
    title: "KSTVTerminal"
    color: "white"
    font.family: "DejaVu Sans"
    property bool darkTheme: false
    Material.theme: darkTheme ? Material.Dark : Material.Light
    Material.accent: "#009FDF"

    property string currentScreen: manager.screen
    // Set on the first frame: the hidden screens may be built from then on.
    property bool shown: false
    // "InitPage" names a page the resources do not hold: its loader gets no source.
    readonly property var screenList: [
        { name: "Busy", source: "qrc:/qml/screens/Busy.qml" },
        { name: "CollectScreen", source: "qrc:/qml/screens/CollectScreen.qml" },
        { name: "DispenseScreen", source: "qrc:/qml/screens/DispenseScreen.qml" },
        { name: "ErrorScreen", source: "qrc:/qml/screens/ErrorScreen.qml" },
        { name: "InitPage", source: "" },
        { name: "Login", source: "qrc:/qml/screens/settings/Login.qml" },
        { name: "OutOfOrder", source: "qrc:/qml/screens/OutOfOrder.qml" },
        { name: "Settings", source: "qrc:/qml/screens/settings/Main.qml" },
        { name: "Success", source: "qrc:/qml/screens/Success.qml" }
    ]

    FontLoader { source: "qrc:/qml/fonts/DejaVuSans.ttf" }

    Connections {
        target: manager
        function onScreenChanged() {
            console.log("[QML] Screen changed : " + manager.screen);
            window.currentScreen = manager.screen;
        }
        function onLanguageChanged() {
            window.locale = Qt.locale(manager.language);
        }
    }

    Repeater {
        model: window.screenList
        Loader {
            objectName: "screen_" + modelData.name
            width: window.width
            height: window.height
            source: modelData.source
            visible: modelData.name === window.currentScreen
            active: window.shown || visible
            asynchronous: !visible
        }
    }

    Header {
        objectName: "Header"
        width: parent.width
        visible: window.currentScreen !== "Settings"
        onMagicButtonPressed: manager.setMaintenanceScreen()
    }

    Text {
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 4
        text: "v" + Qt.application.version
        font.pixelSize: 12
        color: "grey"
        opacity: 0.5
    }

    // Emitted on this thread just before each frame goes to the renderer;
    // listened to only until the first.
    Connections {
        target: window.shown ? null : window
        function onAfterAnimating() {
            window.shown = true;
        }
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: manager.showCursor ? Qt.ArrowCursor : Qt.BlankCursor
    }

    Component.onCompleted: console.log("MAIN QML LOADED")
}
