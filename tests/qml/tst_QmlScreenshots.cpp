// The screens on the application's own objects (the GUI manager and all it
// builds, with no broker to reach), rendered with OpenGL on a private X server
// (xvfb-run). Screenshots of the driver, login and settings screens in both
// languages are kept in the build folder (screenshots/<language>/<screen>.png)
// and checked for their size, icon colour or busy indicator, one visible
// screen, the header and texts that fit their items. Every settings page is
// shown too; no screen or page may log a QML fault. Failures to send show, and the
// self-test's QR code reads back from a grab of its popup. Settings pages, their
// choice lists and the power menu show every text whole in both languages. The NTP server set on the
// Region page lands in the time services' copy in the test's folder, not in the machine's.
#include "Clock.h"
#include "Config.h"
#include "GUIManager.h"
#include "Logger.h"
#include "QmlStage.h"
#include "TestPorts.h"
#include "TimeStandIns.h"

#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QImageReader>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlExpression>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

namespace {
// Pixels of `image` inside `item` whose colour is within a small distance of `colour`.
int pixelsNear(const QImage& image, QQuickItem* item, const QColor& colour)
{
    const QRect area = item->mapRectToScene(QRectF(0, 0, item->width(), item->height())).toRect() & image.rect();
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (qAbs(c.red() - colour.red()) + qAbs(c.green() - colour.green()) + qAbs(c.blue() - colour.blue()) < 40)
                ++count;
        }
    }
    return count;
}

const QByteArray OwnTimesyncd = "[Time]\n#NTP=\n#FallbackNTP=127.0.0.1\n";

// Visible texts among `items` that are cut off or do not fit their item.
QStringList cutTexts(const QList<QQuickItem*>& items)
{
    QStringList cut;
    for (QQuickItem* item : items) {
        if (!item->isVisible() || !item->inherits("QQuickText") || item->property("text").toString().isEmpty())
            continue;
        if (item->property("truncated").toBool() || item->property("contentWidth").toReal() > item->width() + 1)
            cut << item->property("text").toString();
    }
    return cut;
}

QStringList cutTexts(QQuickItem* root)
{
    return cutTexts(root->findChildren<QQuickItem*>());
}

// `item` and every item drawn inside it.
void drawnItems(QQuickItem* item, QList<QQuickItem*>& items)
{
    items << item;
    for (QQuickItem* child : item->childItems())
        drawnItems(child, items);
}

// The entries of an open menu or choice list: drawn in its content, though it does not own them.
QStringList cutEntries(QObject* popup)
{
    QList<QQuickItem*> items;
    drawnItems(popup->property("contentItem").value<QQuickItem*>(), items);
    return cutTexts(items);
}
} // namespace

class tst_QmlScreenshots : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QFile file(m_dir.filePath("gui.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString("[log]\nsyslog=false\n[mqtt]\nport=%1\n[gui]\nsettingsPin=4321\n")
                       .arg(testsupport::freePort())
                       .toUtf8());
        file.close();
        // The time services' state in the test's folder, with a configuration of its own.
        QVERIFY(QDir(m_dir.path()).mkpath("time"));
        QFile timesyncd(m_dir.filePath("time/timesyncd.conf"));
        QVERIFY(timesyncd.open(QIODevice::WriteOnly) && timesyncd.write(OwnTimesyncd) > 0);
        timesyncd.close();
        testsupport::useTimeStandIns(m_dir.filePath("time"));
        manager::Logger::instance(); // its handler first, so that the test's log capture sits on top of it
        QmlStage::problems();
        m_config.reset(new Config(file.fileName(), GUIManager::Defaults));
        m_gui.reset(new GUIManager(*m_config));
        m_gui->load();
        m_stage.reset(new QmlStage(qobject_cast<QQuickWindow*>(m_gui->engine().rootObjects().value(0))));
        QVERIFY(m_stage->window);
        logIn();
    }
    void cleanupTestCase()
    {
        m_stage.reset();
        m_gui.reset();
        QVERIFY2(QmlStage::problems().isEmpty(), qPrintable(QmlStage::problems()));
    }
    void screens_data();
    void screens();
    void everyPage();
    void failuresAndQrCode();
    void ntpServer();

private:
    // Log in on the login screen: during a maintenance session the terminal's state moves no screen.
    void logIn()
    {
        m_gui->setScreen("Login");
        for (const char* key : { "4", "3", "2", "1" })
            m_stage->click(m_stage->find(QString("key_") + key));
        m_stage->click(m_stage->find("LoginButton"));
        QCOMPARE(m_gui->screen(), "Settings");
    }

    QTemporaryDir m_dir;
    QScopedPointer<Config> m_config;
    QScopedPointer<GUIManager> m_gui;
    QScopedPointer<QmlStage> m_stage;
};

void tst_QmlScreenshots::screens_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("screen");
    for (const char* language : { "en_US", "el_GR" }) {
        for (const char* screen :
            { "Busy", "Success", "ErrorScreen", "OutOfOrder", "DispenseScreen", "CollectScreen", "Login", "Settings" })
            QTest::addRow("%s %s", language, screen) << language << screen;
    }
}

void tst_QmlScreenshots::screens()
{
    QFETCH(QString, language);
    QFETCH(QString, screen);
    QmlStage& s = *m_stage;
    // The item drawn in the screen's colour.
    const QMap<QString, QStringList> marks { { "Busy", { "BusyIndicator", "#009FDF" } },
        { "Success", { "MessageIcon", "#41b987" } }, { "ErrorScreen", { "MessageIcon", "#db4a37" } },
        { "OutOfOrder", { "MessageIcon", "#db4a37" } } };
    const QStringList mark = marks.value(screen, { "", "" });
    m_gui->setLanguage(language);
    m_gui->setScreen(screen);
    QCoreApplication::processEvents();
    QQuickItem* shown = s.find("screen_" + screen);
    QQuickItem* markItem = mark[0].isEmpty() ? nullptr : s.find(mark[0], shown);
    // Icons and the busy indicator fade in: take the picture once the mark is drawn.
    QImage image;
    int near = 0;
    const bool drawn = QTest::qWaitFor(
        [&] {
            image = s.window->grabWindow();
            near = markItem ? pixelsNear(image, markItem, QColor(mark[1])) : 0;
            return !markItem || near > markItem->width() * markItem->height() / 20;
        },
        3000);
    const QString folder = qEnvironmentVariable("LANE_BINARY_DIR") + "/screenshots/" + language;
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(image.save(folder + "/" + screen + ".png"));
    QCOMPARE(image.size(), QSize(1024, 600));

    QCOMPARE(s.visibleScreens(), QList<QQuickItem*>({ shown }));
    QCOMPARE(s.find("Header")->isVisible(), screen != "Settings");
    QVERIFY2(drawn, qPrintable(QString("%1 pixels in the colour of %2").arg(near).arg(mark[0])));
    const QStringList cut = cutTexts(shown) + cutTexts(s.find("Header"));
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(" | ")));

    if (screen == "Busy" || screen == "ErrorScreen")
        QCOMPARE(s.text(screen == "Busy" ? "BusyMessage" : "ErrorMessage", shown), m_gui->message());
    if (screen == "OutOfOrder") // the reader never answers here
        QCOMPARE(s.text("OutOfOrderMessage", shown), "RFID inactive");
    if (screen == "Settings")
        QCOMPARE(s.text("SettingsTitle", shown), language == "el_GR" ? "Ρυθμίσεις" : "Settings");
}

// Every settings page and sub-page with its choice lists open, and the power menu, each text whole
// in both languages; the names that show nothing, and the files no screen refers to.
void tst_QmlScreenshots::everyPage()
{
    QmlStage& s = *m_stage;
    QQuickItem* stack = s.find("SettingsStack");
    auto run = [stack](const QString& script) { QQmlExpression(qmlContext(stack), stack, script).evaluate(); };
    for (const char* language : { "el_GR", "en_US" }) {
        m_gui->setLanguage(language);
        m_gui->setScreen("Settings");
        for (const char* page : { "Validator", "ValidatorConfig", "Diagnostics", "Region", "Audio", "Display",
                 "Network", "NetworkPri", "Ethernet", "EthernetConfig", "Update", "EventLog" }) {
            run(QString("push('qrc:/qml/screens/settings/%1.qml')").arg(page));
            QCOMPARE(stack->property("depth").toInt(), 2);
            QTest::qWait(20);
            QQuickItem* shown = stack->property("currentItem").value<QQuickItem*>();
            QStringList cut = cutTexts(shown);
            for (QObject* choice : shown->findChildren<QObject*>()) {
                if (!choice->inherits("QQuickComboBox"))
                    continue;
                QObject* list = choice->property("popup").value<QObject*>();
                QMetaObject::invokeMethod(list, "open");
                QTRY_VERIFY(list->property("opened").toBool());
                cut += cutEntries(list);
                QMetaObject::invokeMethod(list, "close");
                QTRY_VERIFY(!list->property("visible").toBool());
            }
            QVERIFY2(cut.isEmpty(), qPrintable(QString("%1 %2: %3").arg(language, page, cut.join(" | "))));
            run("pop()");
        }
        QObject* menu = s.object("PowerMenu");
        QMetaObject::invokeMethod(menu, "open");
        QTRY_VERIFY(menu->property("opened").toBool());
        QVERIFY(s.window->grabWindow().save(
            qEnvironmentVariable("LANE_BINARY_DIR") + "/screenshots/" + language + "/PowerMenu.png"));
        const QStringList cut = cutEntries(menu);
        QVERIFY2(cut.isEmpty(), qPrintable(QString("%1 power menu: %2").arg(language, cut.join(" | "))));
        QMetaObject::invokeMethod(menu, "close");
        QTRY_VERIFY(!menu->property("visible").toBool());
    }
    for (const char* screen : { "NoSuchScreen", "InitPage" }) {
        m_gui->setScreen(screen);
        QVERIFY(s.visibleScreens().isEmpty());
        QVERIFY(s.find("Header")->isVisible());
    }
    for (const char* file : { "ScreenSaver", "Media", "Overview", "Power", "SettingsPopUp", "ProvisionPopUp" }) {
        QQmlComponent component(&m_gui->engine(), QUrl(QString("qrc:/qml/screens/%1.qml").arg(file)));
        QScopedPointer<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
    }
}

// Without a broker nothing can be sent: the Ethernet page and the power requests say so.
// The self-test's QR code, grabbed from the popup as shown, reads back as the code it draws.
void tst_QmlScreenshots::failuresAndQrCode()
{
    QmlStage& s = *m_stage;
    QQuickItem* stack = s.find("SettingsStack");
    auto run = [stack](const QString& script) { return QQmlExpression(qmlContext(stack), stack, script).evaluate(); };
    m_gui->setLanguage("en_US");
    m_gui->setScreen("Settings");
    run("push('qrc:/qml/screens/settings/EthernetConfig.qml')");
    QQuickItem* page = stack->property("currentItem").value<QQuickItem*>();
    s.click(s.find("SaveButton", page));
    QCOMPARE(stack->property("depth").toInt(), 2);
    QObject* problem = s.object("ProblemPopup", page);
    QVERIFY(problem->property("opened").toBool());
    QCOMPARE(s.text("PopupText", problem), "Configuration not sent, no connection to the network service");
    s.click(s.find("PopupText", problem));
    run("pop()");

    for (const auto& [request, message] : { std::pair { &GUIManager::rebootRequest, "Reboot request not sent" },
             std::pair { &GUIManager::shutdownRequest, "Shutdown request not sent" } }) {
        m_gui->setScreen("Settings");
        (m_gui.data()->*request)();
        QCOMPARE(m_gui->screen() + ": " + m_gui->message(), QString("ErrorScreen: ") + message);
        // That screen ended the maintenance session.
        logIn();
    }

    m_gui->setScreen("Settings");
    run("push('qrc:/qml/screens/settings/Diagnostics.qml')");
    page = stack->property("currentItem").value<QQuickItem*>();
    QObject* report = s.object("ReportPopup", page);
    // A report as long as one from the lane: every check answered.
    m_gui->terminal().setDeviceId("KSTV-TERM-0042");
    QCoreApplication::setApplicationVersion("1.4.2-17-g1045188");
    for (const char* check : { "buzzer", "leds", "speaker", "cardScan", "lightSensor", "rgbTest" })
        m_gui->diagnostics()->setProperty(check, "ERROR");
    const QString qr = m_gui->diagnostics()->generateQr();
    report->setProperty("image", qr);
    QVERIFY(QMetaObject::invokeMethod(report, "open"));
    QQuickItem* picture = s.find("PopupImage", report);
    QTRY_COMPARE(picture->property("status").toInt(), 1); // Image.Ready
    const auto decode = [this](const QImage& image) {
        const QString file = m_dir.filePath("qr.png");
        QProcess zbar;
        if (!image.save(file))
            return QByteArray("<not saved>");
        zbar.start("zbarimg", { "--quiet", "--raw", "-Sbinary", file });
        return zbar.waitForFinished(30000) && zbar.exitCode() == 0 ? zbar.readAllStandardOutput()
                                                                    : QByteArray("<not decoded>");
    };
    // The same document rendered large is what the code says.
    QBuffer svg;
    svg.setData(QByteArray::fromPercentEncoding(qr.section(',', 1).toLatin1()));
    QImageReader reader(&svg, "svg");
    reader.setScaledSize(QSize(400, 400));
    const QByteArray expected = decode(reader.read());
    QVERIFY2(expected.count(';') == 22, expected.constData());
    // The popup as drawn on the screen, with a margin of its background: crisp, nothing but
    // black and white where the code is, and it reads back.
    const QRect area = picture->mapRectToScene(QRectF(-20, -20, picture->width() + 40, picture->height() + 40)).toRect();
    QTRY_COMPARE(decode(s.window->grabWindow().copy(area)), expected);
    const QImage drawn = s.window->grabWindow().copy(area.adjusted(20, 20, -20, -20));
    int grey = 0;
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x)
            grey += qGray(drawn.pixel(x, y)) > 40 && qGray(drawn.pixel(x, y)) < 215;
    }
    QCOMPARE(grey, 0);
    QMetaObject::invokeMethod(report, "close");
    run("pop()");
}

// Typed on the Region page, a new NTP server and then an empty field change the copy of the
// time-sync configuration the stand-ins keep; the machine's own file keeps every byte.
void tst_QmlScreenshots::ntpServer()
{
    QFile machine(manager::Clock::ConfigFile);
    const QByteArray before = machine.open(QIODevice::ReadOnly) ? machine.readAll() : QByteArray();
    machine.close();
    manager::Clock* clock = m_gui->terminal().clock();
    QCOMPARE(clock->ntpServer(), "127.0.0.1"); // read from the test's copy

    QmlStage& s = *m_stage;
    QQuickItem* stack = s.find("SettingsStack");
    m_gui->setLanguage("en_US");
    m_gui->setScreen("Settings");
    QQmlExpression(qmlContext(stack), stack, "push('qrc:/qml/screens/settings/Region.qml')").evaluate();
    QQuickItem* field = s.find("NtpServer", stack->property("currentItem").value<QQuickItem*>());
    QFile copy(m_dir.filePath("time/timesyncd.conf"));
    for (const char* server : { "127.0.0.2 ::1", "" }) {
        s.click(field);
        QVERIFY(field->hasActiveFocus());
        QVERIFY(QMetaObject::invokeMethod(field, "selectAll"));
        QTest::keyClick(s.window, Qt::Key_Delete);
        for (const char c : QByteArray(server))
            QTest::keyClick(s.window, c);
        QTest::keyClick(s.window, Qt::Key_Return);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray(OwnTimesyncd).replace("#NTP=", QByteArray("NTP=") + server));
        copy.close();
    }
    QCOMPARE(clock->ntpServer(), "127.0.0.1"); // the empty line counts for nothing; the fallback shows
    QFile calls(m_dir.filePath("time/calls"));
    QVERIFY(calls.open(QIODevice::ReadOnly));
    QCOMPARE(calls.readAll().count("restart systemd-timesyncd\n"), 2);
    if (machine.exists()) {
        QVERIFY(machine.open(QIODevice::ReadOnly));
        QCOMPARE(machine.readAll(), before);
    }
    QQmlExpression(qmlContext(stack), stack, "pop()").evaluate();
}

int main(int argc, char** argv)
{
    // Run again inside a private X server of our own.
    if (qEnvironmentVariableIsEmpty("LANE_XVFB")) {
        qputenv("LANE_XVFB", "1");
        execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 1280x800x24 -nolisten tcp", argv[0],
            static_cast<char*>(nullptr));
        qFatal("xvfb-run not found (package xvfb)");
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("QT_QUICK_BACKEND");
    QGuiApplication app(argc, argv);
    tst_QmlScreenshots test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_QmlScreenshots.moc"
