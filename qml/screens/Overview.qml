import QtQuick 2.6
import QtQuick.Layouts 1.1
import "../controls"

// At-a-glance terminal summary: serial number, state reason and last readings.
Column {
    function reading(key) {
        var readings = terminal.session ? terminal.session.readings : null;
        return readings && readings[key] !== undefined ? String(readings[key]) : "";
    }
    spacing: 4
    ValueRow { label: manager.dynTr + qsTr("Serial Number"); value: manager.deviceId }
    ValueRow { label: manager.dynTr + qsTr("Reason"); value: terminal.reason }
    ValueRow { label: manager.dynTr + qsTr("Front License Plate"); value: reading("Front") }
    ValueRow { label: manager.dynTr + qsTr("Rear License Plate"); value: reading("Rear") }
}
