import QtQuick 2.6
import QtQuick.Controls 2.0
import QtQuick.Controls.Material 2.0

// A flat-coloured text button.
Button {
    property color color: "#112D63"
    implicitWidth: Math.max(160, contentItem.implicitWidth + 40)
    implicitHeight: 56
    font.pixelSize: 20
    // Texts are shown as written (upper-casing Greek would keep its accents).
    font.capitalization: Font.MixedCase
    Material.background: enabled ? color : "#BBBBBB"
    Material.foreground: "white"
}
