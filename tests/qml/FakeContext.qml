import QtQuick 2.6

// Stand-ins for the terminal, board and network objects that the pages under
// test read; operations record what the screens asked for.
QtObject {
    property QtObject terminal: QtObject {
        property string reason: "Dispenser not ready"
        property QtObject session: QtObject {
            property var readings: ({ "Front": "ABC 1234", "Rear": "XYZ 9876" })
        }
        property QtObject clock: QtObject {
            property var timezones: ["Europe/Athens", "UTC"]
            property string timezone: "Europe/Athens"
            property string ntpServer: "127.0.0.1"
            property bool ntpEnabled: true
            property bool ntpSynced: true
            function refresh() {}
        }
    }
    property QtObject board: QtObject {
        property int displayBrightness: 40
        property int brightnessSet: -1
        function setDisplayBrightness(value) { brightnessSet = value; }
    }
    property QtObject network: QtObject {
        property string connectionState: "Connected"
        property string connectivity: "Full"
        property string hostname: "lane-1"
        // Plain objects: QML cannot declare a property called "interface".
        property var primaryConnection: ({ type: "ethernet", "interface": "eth0", ipv4: ethernetConfig })
        property var ethernet: ({ state: "Connected", mac: "00:11:22:33:44:55", "interface": "eth0", reason: "",
                                  method: "manual", ipv4: ethernetConfig, config: ethernetConfig, saves: 0,
                                  save: function() { this.saves++; return true; } })
    }
    // The self-test's results are read as "" when missing.
    property QtObject diagnostics: QtObject {
        property string rgbTest: ""
        signal saveReportFinished(bool result, string message)
        function start() {}
        function stop() {}
    }
    property QtObject ethernetConfig: QtObject {
        property string address: "127.0.0.2"
        property string mask: "255.0.0.0"
        property string gateway: ""
        property string dns0: ""
        property string dns1: ""
    }
}
