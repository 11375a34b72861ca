// The screens headless (offscreen, software renderer): every screen and
// settings page in both languages without a QML warning, the login pad, the
// maintenance gesture, the Ethernet checks and the faults mended in the screens.
#include "QmlStage.h"

#include <QFile>
#include <QQmlComponent>
#include <QTest>

class tst_QmlScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_stage = new QmlStage; }
    void cleanupTestCase()
    {
        delete m_stage;
        QVERIFY2(QmlStage::problems().isEmpty(), qPrintable(QmlStage::problemText()));
    }
    void everyScreenInBothLanguages();
    void loginPad();
    void maintenanceGesture();
    void ethernetChecks();
    void settingsActions();
    void mendedFaults();

private:
    // Opens a page from the settings menu (showing the settings resets them to the menu).
    QQuickItem* openSettings(const QString& file)
    {
        m_stage->showScreen("Busy");
        m_stage->showScreen("Settings");
        return m_stage->openSettingsPage(file);
    }
    QQuickItem* openEthernetConfig();

    QmlStage* m_stage = nullptr;
};

void tst_QmlScreens::everyScreenInBothLanguages()
{
    QmlStage& s = *m_stage;
    const QStringList pages { "Validator.qml", "Diagnostics.qml", "Region.qml", "Audio.qml", "Display.qml",
                              "Network.qml", "Update.qml", "EventLog.qml" };
    for (const QString language : { "el_GR", "en_US" }) {
        s.manager.setLanguage(language);
        const bool greek = language == "el_GR";
        for (const char* screen : { "Busy", "CollectScreen", "DispenseScreen", "ErrorScreen", "Login", "OutOfOrder",
                                    "Settings", "Success" }) {
            s.showScreen(screen);
            QCOMPARE(s.visibleScreens(), QList<QQuickItem*>({ s.screen(screen) }));
            QCOMPARE(s.find("Header")->isVisible(), QString(screen) != "Settings");
        }
        s.showScreen("Settings");
        QCOMPARE(s.text("SettingsTitle"), greek ? "Ρυθμίσεις" : "Settings");
        for (const QString& page : pages) {
            QQuickItem* item = s.openSettingsPage(page);
            QVERIFY(s.find("BackButton", s.find("SettingsHeader"))->isVisible());
            if (page == "Network.qml")
                s.find("NetworkTabs", item)->setProperty("currentIndex", 1);
            if (page == "Network.qml" || page == "Validator.qml") {
                s.click(s.find("ConfigureButton", page == "Network.qml" ? s.find("Ethernet", item) : item));
                QCOMPARE(s.find("SettingsStack")->property("depth").toInt(), 3);
                s.settingsBack();
            }
            s.settingsBack();
            QCOMPARE(s.find("SettingsStack")->property("depth").toInt(), 1);
        }
        QCOMPARE(s.text("MessageText", s.screen("ErrorScreen")), greek ? "Σφάλμα συναλλαγής" : "Transaction error");
        QCOMPARE(s.text("PromptText", s.screen("DispenseScreen")),
                 greek ? "Πατήστε το κουμπί για έκδοση κάρτας" : "Press button to issue card");
    }
    // A name outside the list, and the page the resources do not hold, show nothing.
    for (const char* screen : { "NoSuchScreen", "InitPage" }) {
        s.showScreen(screen);
        QVERIFY(s.visibleScreens().isEmpty());
        QVERIFY(s.find("Header")->isVisible());
    }
    // The files no screen refers to still load.
    for (const char* file : { "ScreenSaver", "Media", "Overview", "Power", "SettingsPopUp", "ProvisionPopUp" }) {
        QQmlComponent component(&s.engine, QUrl(QString("qrc:/qml/screens/%1.qml").arg(file)));
        QScopedPointer<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
    }
    QVERIFY2(QmlStage::problems().isEmpty(), qPrintable(QmlStage::problemText()));
}

void tst_QmlScreens::loginPad()
{
    QmlStage& s = *m_stage;
    s.manager.setLanguage("en_US");
    s.showScreen("Login");
    QQuickItem* login = s.find("LoginButton");
    auto key = [&](const char* name) { s.click(s.find(QString("key_") + name)); };
    QCOMPARE(s.text("PinField"), "Pin");
    QVERIFY(!login->isEnabled());
    key("1");
    key("2");
    QCOMPARE(s.text("PinField"), "12");
    QVERIFY(login->isEnabled());
    key("<");
    key("<");
    QCOMPARE(s.text("PinField"), "Pin");
    QVERIFY(!login->isEnabled());
    key("9");
    key("CLR");
    QCOMPARE(s.text("PinField"), "Pin");
    for (const char* digit : { "4", "3", "2", "1" })
        key(digit);
    s.click(login);
    QCOMPARE(s.manager.calls.last(), "login:4321");

    emit s.manager.settingsAccessDenied();
    QCOMPARE(s.text("PinField"), "Pin");
    key("5");
    s.showScreen("Busy");
    s.showScreen("Login");
    QCOMPARE(s.text("PinField"), "Pin");
    emit s.manager.settingsAccessGranted();
    QCOMPARE(s.manager.screen(), "Settings");
}

void tst_QmlScreens::maintenanceGesture()
{
    QmlStage& s = *m_stage;
    s.showScreen("DispenseScreen");
    for (int taps : { 2, 3 }) {
        s.manager.calls.clear();
        for (int i = 0; i < taps; ++i)
            s.click(s.find("HeaderClock"));
        QTest::qWait(1100);
        QCOMPARE(s.manager.calls.count("maintenance"), taps == 3 ? 1 : 0);
    }
}

QQuickItem* tst_QmlScreens::openEthernetConfig()
{
    QmlStage& s = *m_stage;
    QQuickItem* network = openSettings("Network.qml");
    s.find("NetworkTabs", network)->setProperty("currentIndex", 1);
    s.click(s.find("ConfigureButton", s.find("Ethernet", network)));
    QQuickItem* stack = s.find("SettingsStack");
    return stack->property("currentItem").value<QQuickItem*>();
}

void tst_QmlScreens::ethernetChecks()
{
    QmlStage& s = *m_stage;
    struct Row {
        QStringList fields; // address, netmask, gateway, DNS #0, DNS #1
        QString error;
    };
    const Row rows[] = {
        { { "", "bad", "bad", "", "" }, "IPv4 address cannot be empty in 'manual' mode" },
        { { "bad", "", "", "", "" }, "IPv4 netmask cannot be empty in 'manual' mode" },
        { { "10.0.0.256", "255.255.255.0", "bad", "", "" }, "IPv4 address is not a valid IP address" },
        { { "10.0.0.5", "255.255.255.0x", "", "", "" }, "IPv4 netmask is not a valid IP address" },
        { { "10.0.0.5", "255.255.255.0", "10.0.0.01", "x", "" }, "IPv4 gateway is not a valid IP address" },
        { { "10.0.0.5", "255.255.255.0", "", "1.2.3", "" }, "IPv4 DNS #0 is not a valid IP address" },
        { { "10.0.0.5", "255.255.255.0", "", "", "1.2.3.4.5" }, "IPv4 DNS #1 is not a valid IP address" },
        { { "10.0.0.5", "255.255.255.0", "", "10.0.0.1", "" }, "" },
    };
    const char* names[] = { "address", "netmask", "gateway", "dns0", "dns1" };
    QQuickItem* page = openEthernetConfig();
    for (const Row& row : rows) {
        for (int i = 0; i < 5; ++i)
            s.find(names[i], page)->setProperty("text", row.fields[i]);
        const int saves = s.ethernet.saves;
        s.click(s.find("SaveButton", page));
        if (!row.error.isEmpty()) {
            QObject* popup = s.object("ProblemPopup", page);
            QCOMPARE(s.text("PopupText", popup), row.error);
            QCOMPARE(s.ethernet.saves, saves);
            s.click(s.find("PopupText", popup));
            continue;
        }
        QCOMPARE(s.ethernet.saves, saves + 1);
        QObject* config = s.fake("ethernetConfig");
        QCOMPARE(config->property("address").toString(), "10.0.0.5");
        QCOMPARE(config->property("dns0").toString(), "10.0.0.1");
    }
    // The field turns red while its text is not an address; in "auto" nothing is checked.
    page = openEthernetConfig();
    QQuickItem* address = s.find("address", page);
    address->setProperty("text", "10.0.0");
    QCOMPARE(s.find("field", address)->property("color").value<QColor>(), QColor("#db4a37"));
    s.ethernet.insert("method", "auto");
    emit s.ethernet.valueChanged("method", "auto");
    const int saves = s.ethernet.saves;
    s.click(s.find("SaveButton", page));
    QCOMPARE(s.ethernet.saves, saves + 1);
    s.ethernet.insert("method", "manual");
}

void tst_QmlScreens::settingsActions()
{
    QmlStage& s = *m_stage;
    s.showScreen("Settings");
    QQuickItem* header = s.find("SettingsHeader");
    for (const char* action : { "reboot", "shutdown", "exit" }) {
        QMetaObject::invokeMethod(header, "menuChosen", Q_ARG(QString, action));
        s.click(s.find("PopupYes", s.object("ConfirmPopup")));
        QCOMPARE(s.manager.calls.last(), action);
    }
    QMetaObject::invokeMethod(header, "menuChosen", Q_ARG(QString, "logout"));
    QCOMPARE(s.manager.calls.last(), "logout");

    // Self-test: runs while the page is open; answers go into the results.
    QObject* diagnostics = s.fake("diagnostics");
    QQuickItem* page = openSettings("Diagnostics.qml");
    QCOMPARE(diagnostics->property("running").toInt(), 1);
    s.click(s.find("manual_buzzer", page));
    QCOMPARE(s.text("PopupText", s.object("QuestionPopup", page)), "Can you hear the buzzer?");
    s.click(s.find("PopupYes", s.object("QuestionPopup", page)));
    QCOMPARE(diagnostics->property("buzzer").toString(), "OK");
    s.click(s.find("manual_rgbTest", page));
    QVERIFY(!header->isVisible());
    for (int tap = 0; tap < 3; ++tap)
        s.click(s.find("ColourTest", page));
    QVERIFY(header->isVisible());
    s.click(s.find("PopupNo", s.object("QuestionPopup", page)));
    QCOMPARE(diagnostics->property("rgbTest").toString(), "ERROR");
    s.settingsBack();
    QCOMPARE(diagnostics->property("running").toInt(), 0);

    // Install only while an update is ready.
    QObject* update = s.fake("update");
    page = openSettings("Update.qml");
    QVERIFY(s.find("InstallButton", page)->isEnabled());
    update->setProperty("status", "Downloading");
    QVERIFY(!s.find("InstallButton", page)->isEnabled());
    s.settingsBack();
}

void tst_QmlScreens::mendedFaults()
{
    QmlStage& s = *m_stage;
    // The Region page's flag for every non-Greek locale is in the resources.
    for (const char* language : { "en_US", "el_GR" }) {
        s.manager.setLanguage(language);
        QQuickItem* flag = s.find("FlagImage", openSettings("Region.qml"));
        QTRY_COMPARE(flag->property("status").toInt(), 1); // Image.Ready
        s.settingsBack();
    }
    s.manager.setLanguage("en_US");
    QVERIFY(QFile::exists(":/qml/images/Flags/uk.png"));

    // A released brightness slider goes through the board's invokable setter.
    QQuickItem* slider = s.find("BrightnessSlider", openSettings("Display.qml"));
    const QPointF at = slider->mapToScene(QPointF(slider->width() * 0.8, slider->height() / 2));
    QTest::mousePress(s.window, Qt::LeftButton, Qt::NoModifier, at.toPoint());
    QTest::mouseRelease(s.window, Qt::LeftButton, Qt::NoModifier, at.toPoint());
    const int set = s.fake("board")->property("brightnessSet").toInt();
    QVERIFY2(set > 50 && set == qRound(slider->property("value").toDouble()), qPrintable(QString::number(set)));
    s.settingsBack();

    // A camera that delivered nothing leaves its plate empty.
    s.fake("session")->setProperty("readings", QVariantMap { { "Rear", "XYZ 9876" } });
    QCOMPARE(s.text("PlateText", s.screen("DispenseScreen")), "");
    QCOMPARE(s.text("PlateText", s.screen("CollectScreen")), "XYZ 9876");

    // Without a validator object its values stay empty and its form cannot save.
    QQuickItem* page = openSettings("Validator.qml");
    QCOMPARE(s.text("value", s.find("SerialNumber", page)), "SN-0001");
    QCOMPARE(s.text("value", s.find("Vehicle", page)), "");
    QCOMPARE(s.text("value", s.find("RfidFirmware", page)), "");
    s.click(s.find("ConfigureButton", page));
    QQuickItem* stack = s.find("SettingsStack");
    QCOMPARE(stack->property("depth").toInt(), 3);
    QQuickItem* form = stack->property("currentItem").value<QQuickItem*>();
    s.find("ShutdownDelay", form)->setProperty("value", 60);
    QVERIFY(!s.find("SaveButton", form)->isEnabled());
    s.click(s.find("BackButton", form));
    QCOMPARE(stack->property("depth").toInt(), 2);
    QCOMPARE(s.manager.m_shutdownDelaySec, 30);
    QVERIFY2(QmlStage::problems().isEmpty(), qPrintable(QmlStage::problemText()));
}

QTEST_MAIN(tst_QmlScreens)
#include "tst_QmlScreens.moc"
