import QtQuick 2.6
import "../controls"

// Resting screen of a card-vending lane.
PlateScreen {
    readingKey: "Front"
    caption: manager.dynTr + qsTr("Front License Plate")
    prompt: manager.dynTr + qsTr("Press button to issue card")
}
