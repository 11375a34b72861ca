import QtQuick 2.6
import QtQuick.Controls 2.2
import "../../controls"
import "../../controls/Colors.js" as Colors

// Self-test: automatic results, manual checks answered by the technician,
// and the report. The self-test runs while the page is open.
Item {
    id: page
    readonly property var diagnostics: manager.diagnostics
    // The card reader of the validator is not part of this terminal; the
    // card test works only where such an object exists.
    readonly property var validator: typeof validatorManager !== "undefined" ? validatorManager : null
    property string question: ""
    property string result: ""
    property int rgbStep: -1
    // The colour test fills the screen, settings header included.
    readonly property bool hidesHeader: rgbStep >= 0
    property bool reportSaved: false

    readonly property var autoRows: [[QT_TR_NOOP("RTC"), "rtc"], [QT_TR_NOOP("Ethernet"), "ethernet"],
        [QT_TR_NOOP("USB Hub"), "usbHub"], [QT_TR_NOOP("USB Host"), "usbHost"], [QT_TR_NOOP("FTDI"), "ftdi"],
        [QT_TR_NOOP("mPCIe #1"), "mPCIe1"], [QT_TR_NOOP("Touch"), "touch"], [QT_TR_NOOP("SD Card"), "sdCard"],
        [QT_TR_NOOP("RFID (USB)"), "rfidUsb"], [QT_TR_NOOP("RFID (Service)"), "rfidService"]]
    readonly property var manualButtons: [[QT_TR_NOOP("Buzzer"), "buzzer"], [QT_TR_NOOP("LEDs"), "leds"],
        [QT_TR_NOOP("RFID"), "cardScan"], [QT_TR_NOOP("Speaker"), "speaker"], [QT_TR_NOOP("Sensor"), "lightSensor"],
        [QT_TR_NOOP("RGB"), "rgbTest"]]
    readonly property var questions: ({
        "buzzer": QT_TR_NOOP("Can you hear the buzzer?"),
        "leds": QT_TR_NOOP("Can you see the LEDs flashing?"),
        "speaker": QT_TR_NOOP("Can you hear the internal speaker?"),
        "lightSensor": QT_TR_NOOP("Is LCD brightness adjusting?"),
        "rgbTest": QT_TR_NOOP("Was the RGB test successful?")
    })

    function value(name) {
        var v = diagnostics ? diagnostics[name] : "";
        return v ? String(v) : "";
    }

    function ask(name) {
        result = name;
        question = questions[name];
        if (name === "speaker")
            inspector.audioPlay("/opt/zent/kstvterminalui/Valid.wav");
        dialog.open();
    }

    function startManual(name) {
        if (name === "rgbTest") {
            rgbStep = 0;
        } else if (name === "cardScan") {
            if (validator)
                validator.enableRfid();
            tapCard.open();
        } else {
            ask(name);
        }
    }

    function nextColour() {
        if (rgbStep < 2) {
            rgbStep++;
            return;
        }
        rgbStep = -1;
        ask("rgbTest");
    }

    Component.onCompleted: if (diagnostics) diagnostics.start()
    Component.onDestruction: if (diagnostics) diagnostics.stop()

    Connections {
        target: page.diagnostics
        function onSaveReportFinished(result, message) {
            page.reportSaved = result;
            report.text = message;
            report.image = result ? page.diagnostics.generateQr() : "";
            report.open();
        }
    }
    Connections {
        target: page.validator
        ignoreUnknownSignals: true
        function onCardDetected(uid, type) {
            page.diagnostics.cardScan = "OK";
            tapCard.close();
        }
    }

    SettingsPage {
        anchors.fill: parent
        Group { title: manager.dynTr + qsTr("Self Tests") }
        Grid {
            width: parent.width
            columns: 2
            columnSpacing: 40
            Repeater {
                model: page.autoRows
                ValueRow {
                    objectName: "diag_" + modelData[1]
                    width: (parent.width - 40) / 2
                    label: manager.dynTr + qsTr(modelData[0])
                    value: page.value(modelData[1])
                    valueColor: Colors.diagnostic(value)
                }
            }
        }
        Flow {
            width: parent.width
            spacing: 12
            Repeater {
                model: page.manualButtons
                CustomButton {
                    objectName: "manual_" + modelData[1]
                    text: manager.dynTr + qsTr(modelData[0])
                    color: page.value(modelData[1]) ? Colors.diagnostic(page.value(modelData[1])) : "#112D63"
                    onClicked: page.startManual(modelData[1])
                }
            }
        }
        CustomButton {
            objectName: "FinishButton"
            text: manager.dynTr + qsTr("FINISH")
            onClicked: page.diagnostics.saveReport()
        }
    }

    CustomPopup {
        id: dialog
        objectName: "QuestionPopup"
        isDialog: true
        text: manager.dynTr + qsTr(page.question)
              + (page.result === "lightSensor" ? "\n" + qsTr("Brightness : ") + board.displayBrightness + "%" : "")
        onButtonYesPressed: page.diagnostics[page.result] = "OK"
        onButtonNoPressed: page.diagnostics[page.result] = "ERROR"
    }
    CustomPopup {
        id: tapCard
        objectName: "TapCardPopup"
        text: manager.dynTr + qsTr("Tap a card")
        onClosed: if (page.validator) page.validator.disableRfid()
    }
    CustomPopup {
        id: report
        objectName: "ReportPopup"
        onClosed: if (page.reportSaved) page.StackView.view.pop()
    }

    Rectangle {
        objectName: "ColourTest"
        anchors.fill: parent
        visible: page.rgbStep >= 0
        color: ["red", "lime", "blue"][Math.max(0, page.rgbStep)]
        MouseArea { anchors.fill: parent; onClicked: page.nextColour() }
    }
}
