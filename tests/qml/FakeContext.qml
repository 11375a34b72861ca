import QtQuick 2.6

// Stand-ins for the terminal, board, inspector, network, event log, self-test
// and update objects; operations record what the screens asked for.
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
            property int refreshes: 0
            property int syncs: 0
            function refresh() { refreshes++; }
            function ntpSync() { syncs++; }
        }
    }
    property QtObject board: QtObject {
        property int displayBrightness: 40
        property int brightnessSet: -1
        function setDisplayBrightness(value) { brightnessSet = value; }
    }
    property QtObject inspector: QtObject {
        property int audioVolume: 70
        property string played: ""
        function audioPlay(path) { played = path; }
        function setAudioVolume(value) { audioVolume = value; }
    }
    property QtObject network: QtObject {
        property string connectionState: "Connected"
        property string connectivity: "Full"
        property string hostname: "lane-1"
        // primaryConnection and ethernet are property maps set by the test
        property QtObject primaryConnection
        property QtObject ethernet
    }
    property QtObject primaryIpv4: QtObject {
        property string address: "127.0.0.2"
        property string mask: "255.0.0.0"
        property string gateway: "127.0.0.1"
        property string dns0: "127.0.0.1"
        property string dns1: ""
    }
    property QtObject ethernetIpv4: QtObject {
        property string address: "127.0.0.2"
        property string mask: "255.0.0.0"
        property string gateway: ""
        property string dns0: ""
        property string dns1: ""
    }
    property QtObject ethernetConfig: QtObject {
        property string address: "127.0.0.2"
        property string mask: "255.0.0.0"
        property string gateway: ""
        property string dns0: ""
        property string dns1: ""
    }
    property QtObject eventLogManager: QtObject {
        property var data: [{ name: "Application started", description: "", timestamp: new Date(2026, 0, 2, 3, 4) }]
        property string filter: ""
        property string period: ""
        function applyFilter(text) { filter = text; }
        function applyFilterPeriod(text) { period = text; }
    }
    property QtObject diagnostics: QtObject {
        property string rtc: ""
        property string ethernet: "OK"
        property string usbHub: "OK"
        property string usbHost: "ERROR"
        property string ftdi: "OK"
        property string mPCIe1: "WARNING"
        property string touch: "OK"
        property string sdCard: "OK"
        property string rfidUsb: "OK"
        property string rfidService: "ERROR"
        property string buzzer: ""
        property string leds: ""
        property string speaker: ""
        property string cardScan: ""
        property string lightSensor: ""
        property string rgbTest: ""
        property int running: 0
        signal saveReportFinished(bool result, string message)
        function start() { running++; }
        function stop() { running--; }
        function saveReport() { saveReportFinished(true, "Test report saved successfully:\n./TestReport_x.txt"); }
        function generateQr() { return ""; }
    }
    property QtObject update: QtObject {
        property string status: "Ready to install"
        property string current: "1.0.0"
        property string pending: ""
        property string progressMessage: ""
        property int progressPercent: 0
        property int checks: 0
        property int installs: 0
        function check() { checks++; }
        function install() { installs++; }
    }
}
