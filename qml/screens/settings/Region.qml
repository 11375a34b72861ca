import QtQuick 2.6
import QtQuick.Controls 2.2
import QtQuick.Extras 1.4
import "../../controls"

// Language, locale formats, time zone and time synchronisation.
SettingsPage {
    id: page
    readonly property var locales: ["en_US", "en_IE", "el_GR"]
    property date now: new Date()
    readonly property var clock: terminal.clock

    Component.onCompleted: clock.refresh()

    Timer {
        interval: 1000
        running: page.visible
        repeat: true
        onTriggered: page.now = new Date()
    }

    Group { title: manager.dynTr + qsTr("Language") }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Locale") }
        ComboBox {
            objectName: "LocaleChoice"
            width: parent.width / 2
            model: page.locales
            currentIndex: page.locales.indexOf(manager.language)
            onActivated: manager.language = page.locales[index]
        }
    }
    Row {
        width: parent.width
        height: 44
        TextBox { width: parent.width / 2; height: parent.height; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Language") }
        Image {
            objectName: "FlagImage"
            width: 45
            height: 30
            anchors.verticalCenter: parent.verticalCenter
            source: manager.language === "el_GR" ? "qrc:/qml/images/Flags/gr.png" : "qrc:/qml/images/Flags/us.png"
        }
        TextBox {
            objectName: "LanguageName"
            height: parent.height
            leftPadding: 12
            bold: true
            text: Qt.locale(manager.language).nativeLanguageName
        }
    }
    ValueRow {
        objectName: "CurrencyFormat"
        label: manager.dynTr + qsTr("Currency Format")
        value: Number(0.99).toLocaleCurrencyString(Qt.locale(manager.language))
    }
    ValueRow {
        label: manager.dynTr + qsTr("Time Format")
        value: page.now.toLocaleString(Qt.locale(manager.language), "d MMM yy, hh:mm:ss t")
    }

    Group { title: manager.dynTr + qsTr("Time") }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Timezone") }
        ComboBox {
            objectName: "TimezoneChoice"
            width: parent.width / 2
            model: page.clock.timezones
            currentIndex: model ? model.indexOf(page.clock.timezone) : -1
            onActivated: page.clock.timezone = textAt(index)
        }
    }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("NTP server") }
        TextField {
            objectName: "NtpServer"
            width: parent.width / 2
            text: page.clock.ntpServer
            onEditingFinished: page.clock.ntpServer = text
        }
    }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("NTP Active") }
        Switch {
            objectName: "NtpActive"
            checked: page.clock.ntpEnabled
            onToggled: page.clock.ntpEnabled = checked
        }
    }
    Row {
        width: parent.width
        height: 48
        TextBox { width: parent.width / 2; height: parent.height; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("NTP Synced") }
        StatusIndicator {
            objectName: "NtpSyncedLamp"
            anchors.verticalCenter: parent.verticalCenter
            width: 28
            height: 28
            active: page.clock.ntpSynced
            color: "#41b987"
        }
    }
    CustomButton {
        text: manager.dynTr + qsTr("NTP SYNC")
        onClicked: page.clock.ntpSync()
    }
}
