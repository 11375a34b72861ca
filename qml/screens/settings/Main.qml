import QtQuick 2.6
import QtQuick.Controls 2.0
import "../../controls"

// Maintenance settings: a header and a stack whose first item is the menu.
// Showing or hiding the settings returns to the menu.
Item {
    id: settings
    property string pageTitle: ""

    readonly property var rows: [
        { title: QT_TR_NOOP("Validator"), hint: QT_TR_NOOP("Validator information and settings"), icon: "ticket.svg", page: "Validator.qml" },
        { title: QT_TR_NOOP("Diagnostics"), hint: QT_TR_NOOP("System health and diagnostic"), icon: "diagnostic.svg", page: "Diagnostics.qml" },
        { title: QT_TR_NOOP("Region"), hint: QT_TR_NOOP("Date, time and languange settings"), icon: "region.svg", page: "Region.qml" },
        { title: QT_TR_NOOP("Audio"), hint: QT_TR_NOOP("Adjust audio volume"), icon: "audio.svg", page: "Audio.qml" },
        { title: QT_TR_NOOP("Display"), hint: QT_TR_NOOP("Adjust display brightness and mode"), icon: "brightness-2.svg", page: "Display.qml" },
        { title: QT_TR_NOOP("Network"), hint: QT_TR_NOOP("Configure Ethernet, WiFi and Modem"), icon: "network.svg", page: "Network.qml" },
        { title: QT_TR_NOOP("Update"), hint: QT_TR_NOOP("Check for software and sytem updates"), icon: "update.svg", page: "Update.qml" },
        { title: QT_TR_NOOP("Event Log"), hint: QT_TR_NOOP("Examine system events and alarms"), icon: "log.svg", page: "EventLog.qml" }
    ]

    // Opens a menu row's page; pages deeper down are pushed by the pages themselves.
    function openPage(index) {
        if (stack.depth !== 1)
            return;
        pageTitle = rows[index].title;
        stack.push("qrc:/qml/screens/settings/" + rows[index].page);
    }

    function confirmed(action) {
        if (action === "exit")
            manager.exitRequest();
        else if (action === "reboot")
            manager.rebootRequest();
        else if (action === "shutdown")
            manager.shutdownRequest();
    }

    onVisibleChanged: {
        stack.pop(null);
        confirm.close();
        Qt.inputMethod.hide();
    }

    SettingsHeader {
        id: header
        objectName: "SettingsHeader"
        width: parent.width
        visible: !stack.headerHidden
        z: 1
        canGoBack: stack.depth > 1
        title: manager.dynTr + (stack.depth > 1 ? qsTr(settings.pageTitle) : qsTr("Settings"))
        onBackPressed: {
            stack.pop();
            Qt.inputMethod.hide();
        }
        onMenuChosen: {
            if (action === "logout") {
                manager.settingsLogoutRequest();
                return;
            }
            confirm.action = action;
            confirm.open();
        }
    }

    StackView {
        id: stack
        objectName: "SettingsStack"
        // A page hides the header only while it is on show (the colour test): leaving
        // the page in any way brings the header back.
        readonly property bool headerHidden: !!(currentItem && currentItem.hidesHeader)
        anchors.fill: parent
        anchors.topMargin: headerHidden ? 0 : header.height
        initialItem: menu
        // Pages switch at once, like the screens.
        pushEnter: null
        pushExit: null
        popEnter: null
        popExit: null
    }

    Component {
        id: menu
        Flickable {
            objectName: "SettingsMenu"
            contentHeight: menuColumn.height
            clip: true
            Column {
                id: menuColumn
                width: parent.width
                Repeater {
                    model: settings.rows
                    RowButton {
                        objectName: "row_" + modelData.page
                        width: menuColumn.width
                        icon: "qrc:/qml/images/Icons/" + modelData.icon
                        title: manager.dynTr + qsTr(modelData.title)
                        hint: manager.dynTr + qsTr(modelData.hint)
                        onClicked: settings.openPage(index)
                    }
                }
            }
        }
    }

    CustomPopup {
        id: confirm
        objectName: "ConfirmPopup"
        property string action
        isDialog: true
        text: manager.dynTr + qsTr("Are you sure?")
        onButtonYesPressed: settings.confirmed(action)
    }

    KeyboardPanel {
        z: 2
    }
}
