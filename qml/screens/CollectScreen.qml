import QtQuick 2.6
import "../controls"

// Resting screen of a card-collection lane.
PlateScreen {
    readingKey: "Rear"
    caption: manager.dynTr + qsTr("Rear License Plate")
    prompt: manager.dynTr + qsTr("Insert your card")
}
