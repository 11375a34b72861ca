import QtQuick 2.6

// 4 x 3 keys: digits, a backspace arrow, 0 and CLR. The page given as
// `target` offers append(digit), backspace() and clear().
Grid {
    property var target
    columns: 3
    spacing: 8

    Repeater {
        model: ["1", "2", "3", "4", "5", "6", "7", "8", "9", "<", "0", "CLR"]
        Rectangle {
            objectName: "key_" + modelData
            width: 110
            height: 62
            radius: 6
            color: area.pressed ? "#009FDF" : "#E8EEF6"
            TextBox {
                anchors.centerIn: parent
                visible: modelData !== "<"
                text: modelData
                size: 26
                bold: true
                color: "#112D63"
            }
            ImageBox {
                anchors.centerIn: parent
                visible: modelData === "<"
                width: 36
                height: 36
                color: "#112D63"
                source: "qrc:/qml/images/Icons/backspace.svg"
            }
            MouseArea {
                id: area
                anchors.fill: parent
                onClicked: {
                    if (modelData === "<")
                        target.backspace();
                    else if (modelData === "CLR")
                        target.clear();
                    else
                        target.append(modelData);
                }
            }
        }
    }
}
