import QtQuick 2.6
import QtQuick.Controls 2.2
import "../../controls"

// Brightness, cursor, theme and the display-off delay.
SettingsPage {
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Brightness Mode") }
        ComboBox { width: parent.width / 2; model: ["auto", "manual"] }
    }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Display Brightness") }
        Slider {
            id: brightness
            objectName: "BrightnessSlider"
            width: parent.width / 2 - 80
            from: 0
            to: 100
            stepSize: 1
            value: board.displayBrightness
            onPressedChanged: {
                if (!pressed)
                    board.setDisplayBrightness(Math.round(value));
            }
        }
        TextBox { width: 80; height: 48; text: Math.round(brightness.value) + "%" }
    }
    ValueRow { label: manager.dynTr + qsTr("Ambient Light Sensor") }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Show Cursor") }
        Switch {
            objectName: "ShowCursor"
            checked: manager.showCursor
            onToggled: manager.showCursor = checked
        }
    }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Dark Theme") }
        Switch {
            objectName: "DarkTheme"
            checked: ApplicationWindow.window ? ApplicationWindow.window.darkTheme : false
            onToggled: {
                console.log(checked ? "[QML] Switching to dark theme" : "[QML] Switching to light theme");
                ApplicationWindow.window.darkTheme = checked;
            }
        }
    }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Display OFF (min)") }
        SpinBox {
            objectName: "DisplayOff"
            from: 0
            to: 86400
            stepSize: 1
            editable: true
            value: manager.displayOffMin
            onValueModified: manager.displayOffMin = value
        }
    }
}
