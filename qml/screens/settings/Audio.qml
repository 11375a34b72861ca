import QtQuick 2.6
import QtQuick.Controls 2.2
import "../../controls"

// Speaker volume; a released slider plays a sample at the new volume.
SettingsPage {
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Audio Enabled") }
        Switch { id: enabledSwitch; objectName: "AudioEnabled"; checked: true }
    }
    Row {
        width: parent.width
        TextBox { width: parent.width / 2; height: 48; horizontalAlignment: Text.AlignLeft; text: manager.dynTr + qsTr("Audio Volume") }
        Slider {
            id: volume
            objectName: "VolumeSlider"
            width: parent.width / 2 - 80
            from: 0
            to: 100
            stepSize: 1
            enabled: enabledSwitch.checked
            value: inspector.audioVolume
            onPressedChanged: {
                if (!pressed) {
                    inspector.audioPlay("/opt/zent/kstvterminalui/Valid.wav");
                    inspector.setAudioVolume(Math.round(value));
                }
            }
        }
        TextBox { width: 80; height: 48; text: Math.round(volume.value) + "%" }
    }
}
