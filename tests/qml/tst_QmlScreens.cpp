// The screens headless (offscreen, software renderer) on stand-in objects: the
// login pad, the maintenance gesture, the Ethernet checks, the Update page's
// Install and the faults mended in the screens, without a QML fault in the log.
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttProbe.h"
#include "QmlStage.h"
#include "Update.h"

#include <QFile>
#include <QTest>

class tst_QmlScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_stage = new QmlStage; }
    void cleanupTestCase()
    {
        delete m_stage;
        QVERIFY2(QmlStage::problems().isEmpty(), qPrintable(QmlStage::problems()));
    }
    void loginPad();
    void ethernetChecks();
    void mendedFaults();
    void colourTestLeft_data();
    void colourTestLeft();
    void installTappedTwice();

private:
    // Opens a page from the settings menu (showing the settings returns them to the menu).
    QQuickItem* openSettings(const QString& file)
    {
        m_stage->showScreen("Busy");
        m_stage->showScreen("Settings");
        return m_stage->openSettingsPage(file);
    }
    QQuickItem* openEthernetConfig()
    {
        QQuickItem* network = openSettings("Network.qml");
        m_stage->find("NetworkTabs", network)->setProperty("currentIndex", 1);
        m_stage->click(m_stage->find("ConfigureButton", m_stage->find("Ethernet", network)));
        return stack()->property("currentItem").value<QQuickItem*>();
    }
    QQuickItem* stack() { return m_stage->find("SettingsStack"); }

    QmlStage* m_stage = nullptr;
};

void tst_QmlScreens::loginPad()
{
    QmlStage& s = *m_stage;
    s.manager.setLanguage("en_US");
    s.showScreen("Login");
    QQuickItem* login = s.find("LoginButton");
    auto type = [&](const QStringList& keys) {
        for (const QString& key : keys)
            s.click(s.find("key_" + key));
    };
    const QStringList steps[][2] = { { {}, { "Pin" } }, { { "1", "2" }, { "12" } }, { { "<", "<" }, { "Pin" } },
        { { "9", "CLR" }, { "Pin" } }, { { "4", "3", "2", "1" }, { "4321" } } };
    for (const auto& step : steps) {
        type(step[0]);
        QCOMPARE(s.text("PinField"), step[1][0]);
        QCOMPARE(login->isEnabled(), step[1][0] != "Pin");
    }
    // Locked after wrong PINs: the field says so, the button stays off until the lock ends.
    s.manager.m_settingsLoginLocked = true;
    emit s.manager.changed();
    QCOMPARE(s.text("PinField"), QString("Login locked"));
    QVERIFY(!login->isEnabled());
    s.manager.m_settingsLoginLocked = false;
    emit s.manager.changed();
    QCOMPARE(s.text("PinField"), QString("4321"));
    QVERIFY(login->isEnabled());
}

void tst_QmlScreens::ethernetChecks()
{
    QmlStage& s = *m_stage;
    const QStringList rows[][2] = {
        // address, netmask, gateway, DNS #0, DNS #1; message
        { { "", "bad", "bad", "", "" }, { "IPv4 address cannot be empty in 'manual' mode" } },
        { { "bad", "", "", "", "" }, { "IPv4 netmask cannot be empty in 'manual' mode" } },
        { { "10.0.0.256", "255.255.255.0", "bad", "", "" }, { "IPv4 address is not a valid IP address" } },
        { { "10.0.0.5", "255.255.255.0", "10.0.0.01", "x", "" }, { "IPv4 gateway is not a valid IP address" } },
        { { "10.0.0.5", "255.255.255.0", "", "10.0.0.1", "" }, { "" } },
    };
    const char* names[] = { "address", "netmask", "gateway", "dns0", "dns1" };
    QQuickItem* page = openEthernetConfig();
    for (const auto& row : rows) {
        for (int i = 0; i < 5; ++i)
            s.find(names[i], page)->setProperty("text", row[0][i]);
        const int saves = s.eval("network.ethernet.saves").toInt();
        s.click(s.find("SaveButton", page));
        QCOMPARE(s.eval("network.ethernet.saves").toInt(), saves + (row[1][0].isEmpty() ? 1 : 0));
        if (!row[1][0].isEmpty()) {
            QCOMPARE(s.text("PopupText", s.object("ProblemPopup", page)), row[1][0]);
            s.click(s.find("PopupText", s.object("ProblemPopup", page)));
        }
    }
    QCOMPARE(s.fake("ethernetConfig")->property("address").toString(), "10.0.0.5");
}

void tst_QmlScreens::mendedFaults()
{
    QmlStage& s = *m_stage;
    // The Region page's flag for every non-Greek locale is in the resources, and so is "uk.png".
    for (const char* language : { "en_US", "el_GR" }) {
        s.manager.setLanguage(language);
        QQuickItem* flag = s.find("FlagImage", openSettings("Region.qml"));
        QTRY_COMPARE(flag->property("status").toInt(), 1); // Image.Ready
    }
    QVERIFY(QFile::exists(":/qml/images/Flags/uk.png"));

    // A released brightness slider goes through the board's invokable setter.
    QQuickItem* slider = s.find("BrightnessSlider", openSettings("Display.qml"));
    const QPoint at = slider->mapToScene(QPointF(slider->width() * 0.8, slider->height() / 2)).toPoint();
    QTest::mousePress(s.window, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(s.window, Qt::LeftButton, Qt::NoModifier, at);
    const int set = s.fake("board")->property("brightnessSet").toInt();
    QVERIFY2(set > 50 && set == qRound(slider->property("value").toDouble()), qPrintable(QString::number(set)));

    // A camera that delivered nothing leaves its plate empty.
    s.eval("terminal.session.readings = { Rear: 'XYZ 9876' }");
    QCOMPARE(s.text("PlateText", s.find("screen_DispenseScreen")), "");
    QCOMPARE(s.text("PlateText", s.find("screen_CollectScreen")), "XYZ 9876");

    // Without a validator object its values stay empty and its form cannot save.
    QQuickItem* page = openSettings("Validator.qml");
    QCOMPARE(s.text("value", s.find("SerialNumber", page)), "SN-0001");
    QCOMPARE(s.text("value", s.find("Vehicle", page)), "");
    QCOMPARE(s.text("value", s.find("RfidFirmware", page)), "");
    s.click(s.find("ConfigureButton", page));
    QQuickItem* form = stack()->property("currentItem").value<QQuickItem*>();
    s.find("ShutdownDelay", form)->setProperty("value", 60);
    QVERIFY(!s.find("SaveButton", form)->isEnabled());
    s.click(s.find("BackButton", form));
    QCOMPARE(stack()->property("depth").toInt(), 2);
}

void tst_QmlScreens::colourTestLeft_data()
{
    QTest::addColumn<QString>("screen");
    QTest::newRow("finished") << "";
    QTest::newRow("session ended") << "Busy";
    QTest::newRow("passage") << "DispenseScreen";
    QTest::newRow("logged out") << "Login";
}

// The colour test covers the page and hides the settings header until its last
// colour is tapped; however the settings are left, the header is back at the next login.
void tst_QmlScreens::colourTestLeft()
{
    QFETCH(QString, screen);
    QmlStage& s = *m_stage;
    QQuickItem* header = s.find("SettingsHeader");
    QQuickItem* page = openSettings("Diagnostics.qml");
    s.click(s.find("manual_rgbTest", page));
    QQuickItem* colour = s.find("ColourTest", page);
    QVERIFY(colour->isVisible());
    QVERIFY(!header->isVisible());

    if (screen.isEmpty()) {
        for (int tap = 0; tap < 3; ++tap)
            s.click(colour);
        QVERIFY(!colour->isVisible());
        QVERIFY(header->isVisible());
        s.click(s.find("PopupYes", s.object("QuestionPopup", page)));
        QCOMPARE(s.fake("diagnostics")->property("rgbTest").toString(), "OK");
        return;
    }
    s.showScreen(screen);
    s.showScreen("Settings");
    QVERIFY(header->isVisible());
    page = s.openSettingsPage("Diagnostics.qml");
    QVERIFY(!s.find("ColourTest", page)->isVisible());
    QVERIFY(header->isVisible());
    s.settingsBack();
    QCOMPARE(stack()->property("depth").toInt(), 1);
}

// Install tapped twice on the Update page before the update service answers: one install order
// goes out; the button stays off while it waits and is back once the check time passed in silence.
void tst_QmlScreens::installTappedTwice()
{
    QmlStage& s = *m_stage;
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttProbe service;
    QVERIFY(service.connectTo(broker.host(), broker.port()));
    QVERIFY(service.subscribe("zent/update/#"));
    manager::MqttClient client;
    manager::Update update(client, "zent/update");
    update.setCheckTimeout(300);
    client.setHostname(broker.host());
    client.setPort(broker.port());
    client.setClientId("terminal");
    client.connect();
    QVERIFY(service.waitFor("zent/update/status/get") != -1); // sent after the client's subscriptions
    s.manager.m_update = &update;
    emit s.manager.changed();
    QQuickItem* page = openSettings("Update.qml");
    QQuickItem* install = s.find("InstallButton", page);
    QVERIFY(
        service.publish("zent/update/status", R"({"state":"Ready to install","version":"1.0.0","pending":"1.4.0"})"));
    QTRY_VERIFY(install->isEnabled());

    s.click(install);
    s.click(install);
    QCOMPARE(s.text("value", s.find("UpdateStatus", page)), QString("Install requested"));
    QVERIFY(!install->isEnabled());
    s.click(s.find("CheckButton", page)); // after anything the page sent before
    QVERIFY(service.waitFor("zent/update/check") != -1);
    QCOMPARE(service.messages("zent/update/install").size(), 1);
    QTRY_VERIFY(install->isEnabled());
    s.manager.m_update = nullptr;
    emit s.manager.changed();
}

QTEST_MAIN(tst_QmlScreens)
#include "tst_QmlScreens.moc"
