import QtQuick 2.6

// A driver screen showing one camera's plate reading above a prompt.
// A camera that delivered nothing leaves its key out: the plate is empty then.
Item {
    property string readingKey
    property string caption
    property string prompt

    function reading(readings) {
        var value = readings ? readings[readingKey] : undefined;
        return value === undefined || value === null ? "" : String(value);
    }

    Column {
        anchors.fill: parent
        anchors.topMargin: 150
        spacing: 16
        TextBox {
            objectName: "PlateText"
            width: parent.width
            points: 32
            bold: true
            text: reading(terminal.session ? terminal.session.readings : null)
        }
        TextBox {
            objectName: "PlateCaption"
            width: parent.width
            points: 10
            color: "#777777"
            text: caption
        }
        Item { width: 1; height: 40 }
        TextBox {
            objectName: "PromptText"
            width: parent.width
            size: 40
            bold: true
            color: "#112D63"
            text: prompt
        }
        ImageBox {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 80
            height: 80
            color: "#112D63"
            source: "qrc:/qml/images/Icons/chevron-down.svg"
        }
    }
}
