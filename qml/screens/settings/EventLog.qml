import QtQuick 2.6
import QtQuick.Controls 2.2
import "../../controls"

// The event log with a name search and a period filter.
Item {
    id: page
    readonly property var periods: [QT_TR_NOOP("All history"), QT_TR_NOOP("Last hour"), QT_TR_NOOP("Last 2 hours"),
        QT_TR_NOOP("Today"), QT_TR_NOOP("Yesterday"), QT_TR_NOOP("Last week"), QT_TR_NOOP("Last month")]
    readonly property var severities: [QT_TR_NOOP("Critical"), QT_TR_NOOP("Warning"), QT_TR_NOOP("All messages")]

    Row {
        id: filters
        x: 20
        y: 10
        spacing: 12
        TextField {
            id: search
            objectName: "SearchField"
            width: 300
            placeholderText: manager.dynTr + qsTr("Search")
            onTextChanged: eventLogManager.applyFilter(text)
        }
        CustomButton {
            objectName: "ClearButton"
            text: manager.dynTr + qsTr("CLEAR")
            onClicked: {
                search.text = "";
                Qt.inputMethod.hide();
            }
        }
        // Events carry no severity: the choice is shown but filters nothing.
        ComboBox {
            width: 200
            model: page.severities
            currentIndex: 2
            displayText: manager.dynTr + qsTr(currentText)
            delegate: ItemDelegate { width: parent.width; text: manager.dynTr + qsTr(modelData) }
        }
        ComboBox {
            objectName: "PeriodChoice"
            width: 220
            model: page.periods
            displayText: manager.dynTr + qsTr(currentText)
            delegate: ItemDelegate { width: parent.width; text: manager.dynTr + qsTr(modelData) }
            onActivated: {
                eventLogManager.applyFilterPeriod(page.periods[index]);
                Qt.inputMethod.hide();
            }
        }
    }
    ListView {
        objectName: "EventList"
        anchors.fill: parent
        anchors.topMargin: filters.height + 20
        clip: true
        model: eventLogManager.data
        delegate: MessageRowItem {
            width: ListView.view.width
            title: modelData.name
            message: modelData.description
            time: Qt.formatDateTime(modelData.timestamp, "dd-MMM-yy hh:mm")
        }
    }
}
