import QtQuick 2.6
import QtQuick.Controls 2.0

// Modal box with a text, an optional image and, as a dialog, Yes and No.
// A box that is not a dialog closes on a tap.
Popup {
    id: popup
    property alias text: label.text
    property alias image: picture.source
    property bool isDialog: false
    signal buttonYesPressed()
    signal buttonNoPressed()

    modal: true
    // Shown and hidden at once: a tap right after closing must reach the page.
    enter: null
    exit: null
    closePolicy: isDialog ? Popup.NoAutoClose : Popup.CloseOnPressOutside
    width: 560
    height: (picture.source != "" ? 300 : 200) + (isDialog ? 70 : 0)
    x: parent ? (parent.width - width) / 2 : 0
    y: parent ? (parent.height - height) / 2 : 0

    Column {
        anchors.fill: parent
        spacing: 12
        TextBox {
            id: label
            objectName: "PopupText"
            width: parent.width
            height: parent.height - (picture.source != "" ? 100 : 0) - (isDialog ? 82 : 0)
        }
        Image {
            id: picture
            objectName: "PopupImage"
            // Units of a document that gives only a viewBox, such as a QR code's modules.
            readonly property int units: {
                var text = String(source);
                try {
                    text = decodeURIComponent(text);
                } catch (e) {
                    // a plain file name with a stray '%': no viewBox to read
                }
                var box = /viewBox="0 0 (\d+)/.exec(text);
                return box ? Number(box[1]) : 0;
            }
            anchors.horizontalCenter: parent.horizontalCenter
            visible: source != ""
            // Drawn at the size shown, each unit on whole pixels and without smoothing:
            // a QR code must stay crisp to be read from the screen.
            width: units > 0 && units <= 100 ? Math.floor(100 / units) * units : 100
            height: width
            sourceSize: Qt.size(width, height)
            smooth: false
            fillMode: Image.PreserveAspectFit
        }
        Row {
            visible: isDialog
            spacing: 40
            anchors.horizontalCenter: parent.horizontalCenter
            CustomButton {
                objectName: "PopupYes"
                text: manager.dynTr + qsTr("Yes")
                onClicked: { popup.close(); popup.buttonYesPressed(); }
            }
            CustomButton {
                objectName: "PopupNo"
                text: manager.dynTr + qsTr("No")
                onClicked: { popup.close(); popup.buttonNoPressed(); }
            }
        }
    }
    MouseArea {
        anchors.fill: parent
        enabled: !isDialog
        onClicked: popup.close()
    }
}
