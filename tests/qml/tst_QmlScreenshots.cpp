// Screenshots of the driver, login and settings screens in both languages,
// rendered with OpenGL on a private X server and kept in the build folder
// (screenshots/<language>/<screen>.png). Each is checked for its size, its
// icon colour or busy indicator, one visible screen, the header, and texts
// that fit their items.
#include "QmlStage.h"
#include "XvfbServer.h"

#include <QDir>
#include <QGuiApplication>
#include <QTest>

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

// Visible texts below `root` that are cut off or do not fit their item.
QStringList cutTexts(QQuickItem* root)
{
    QStringList cut;
    for (QQuickItem* item : root->findChildren<QQuickItem*>()) {
        if (!item->isVisible() || !item->inherits("QQuickText") || item->property("text").toString().isEmpty())
            continue;
        if (item->property("truncated").toBool() || item->property("contentWidth").toReal() > item->width() + 1)
            cut << item->property("text").toString();
    }
    return cut;
}
} // namespace

class tst_QmlScreenshots : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_stage = new QmlStage; }
    void cleanupTestCase()
    {
        delete m_stage;
        QVERIFY2(QmlStage::problems().isEmpty(), qPrintable(QmlStage::problemText()));
    }
    void screens_data();
    void screens();

private:
    QmlStage* m_stage = nullptr;
};

void tst_QmlScreenshots::screens_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QString>("message"); // QObject context, as the application sets it
    QTest::addColumn<QString>("markName");
    QTest::addColumn<QColor>("markColour");
    for (const char* language : { "en_US", "el_GR" }) {
        auto row = [&](const char* screen) { return &(QTest::addRow("%s %s", language, screen) << language << screen); };
        *row("Busy") << "Please Wait" << "BusyIndicator" << QColor("#009FDF");
        *row("Success") << "Please collect your card" << "MessageIcon" << QColor("#41b987");
        *row("ErrorScreen") << "Card jammed" << "MessageIcon" << QColor("#db4a37");
        *row("OutOfOrder") << "" << "MessageIcon" << QColor("#db4a37");
        *row("DispenseScreen") << "" << "" << QColor();
        *row("CollectScreen") << "" << "" << QColor();
        *row("Login") << "" << "" << QColor();
        *row("Settings") << "" << "" << QColor();
    }
}

void tst_QmlScreenshots::screens()
{
    QFETCH(QString, language);
    QFETCH(QString, screen);
    QFETCH(QString, message);
    QFETCH(QString, markName);
    QFETCH(QColor, markColour);
    QmlStage& s = *m_stage;
    s.manager.setLanguage(language);
    s.manager.setProperty("message", QCoreApplication::translate("QObject", qPrintable(message)));
    s.showScreen(screen);
    QQuickItem* shown = s.screen(screen);
    QQuickItem* mark = markName.isEmpty() ? nullptr : s.find(markName, shown);
    // Icons and the busy indicator fade in: take the picture once the mark is drawn.
    QImage image;
    int near = 0;
    (void)QTest::qWaitFor([&] {
        image = s.window->grabWindow();
        near = mark ? pixelsNear(image, mark, markColour) : 0;
        return !mark || near > mark->width() * mark->height() / 20;
    }, 3000);
    const QString folder = qEnvironmentVariable("LANE_BINARY_DIR") + "/screenshots/" + language;
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(image.save(folder + "/" + screen + ".png"));
    QCOMPARE(image.size(), QSize(1024, 600));

    QCOMPARE(s.visibleScreens(), QList<QQuickItem*>({ shown }));
    QCOMPARE(s.find("Header")->isVisible(), screen != "Settings");
    if (mark)
        QVERIFY2(near > mark->width() * mark->height() / 20, qPrintable(QString("%1 pixels").arg(near)));
    const QStringList cut = cutTexts(shown) + cutTexts(s.find("Header"));
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(" | ")));

    const bool greek = language == "el_GR";
    if (screen == "Busy")
        QCOMPARE(s.text("BusyMessage", shown), greek ? "Παρακαλώ περιμένετε" : "Please Wait");
    if (screen == "Success")
        QCOMPARE(s.text("MessageText", shown), greek ? "Παρακαλώ πάρτε την κάρτα σας" : "Please collect your card");
    if (screen == "ErrorScreen")
        QCOMPARE(s.text("ErrorMessage", shown), "Card jammed");
    if (screen == "OutOfOrder")
        QCOMPARE(s.text("OutOfOrderMessage", shown), "Dispenser not ready");
    if (screen == "CollectScreen")
        QCOMPARE(s.text("PlateText", shown), "XYZ 9876");
    if (screen == "Login")
        QCOMPARE(s.text("LoginButton", shown), greek ? "ΕΙΣΟΔΟΣ" : "LOGIN");
    if (screen == "Settings")
        QCOMPARE(s.text("SettingsTitle", shown), greek ? "Ρυθμίσεις" : "Settings");
}

int main(int argc, char** argv)
{
    XvfbServer xvfb;
    QString error;
    if (!xvfb.start(&error)) {
        fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("QT_QUICK_BACKEND");
    QGuiApplication app(argc, argv);
    tst_QmlScreenshots test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_QmlScreenshots.moc"
