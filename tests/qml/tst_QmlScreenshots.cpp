// Screenshots of the driver, login and settings screens in both languages,
// rendered with OpenGL on a private X server (xvfb-run) and kept in the build folder
// (screenshots/<language>/<screen>.png). Each is checked for its size, its
// icon colour or busy indicator, one visible screen, the header, and texts
// that fit their items.
#include "QmlStage.h"

#include <QDir>
#include <QGuiApplication>
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
        QVERIFY2(QmlStage::problems().isEmpty(), qPrintable(QmlStage::problems()));
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
    for (const char* language : { "en_US", "el_GR" }) {
        for (const char* screen : { "Busy", "Success", "ErrorScreen", "OutOfOrder", "DispenseScreen", "CollectScreen",
                                    "Login", "Settings" })
            QTest::addRow("%s %s", language, screen) << language << screen;
    }
}

void tst_QmlScreenshots::screens()
{
    QFETCH(QString, language);
    QFETCH(QString, screen);
    QmlStage& s = *m_stage;
    // The application's message of the screen, and the item drawn in the screen's colour.
    const QMap<QString, QStringList> marks { { "Busy", { "Please Wait", "BusyIndicator", "#009FDF" } },
                                             { "Success", { "Please collect your card", "MessageIcon", "#41b987" } },
                                             { "ErrorScreen", { "Card jammed", "MessageIcon", "#db4a37" } },
                                             { "OutOfOrder", { "", "MessageIcon", "#db4a37" } } };
    const QStringList mark = marks.value(screen, { "", "", "" });
    s.manager.setLanguage(language);
    s.manager.setProperty("message", QCoreApplication::translate("QObject", qPrintable(mark[0])));
    s.showScreen(screen);
    QQuickItem* shown = s.find("screen_" + screen);
    QQuickItem* markItem = mark[1].isEmpty() ? nullptr : s.find(mark[1], shown);
    // Icons and the busy indicator fade in: take the picture once the mark is drawn.
    QImage image;
    int near = 0;
    (void)QTest::qWaitFor([&] {
        image = s.window->grabWindow();
        near = markItem ? pixelsNear(image, markItem, QColor(mark[2])) : 0;
        return !markItem || near > markItem->width() * markItem->height() / 20;
    }, 3000);
    const QString folder = qEnvironmentVariable("LANE_BINARY_DIR") + "/screenshots/" + language;
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(image.save(folder + "/" + screen + ".png"));
    QCOMPARE(image.size(), QSize(1024, 600));

    QCOMPARE(s.visibleScreens(), QList<QQuickItem*>({ shown }));
    QCOMPARE(s.find("Header")->isVisible(), screen != "Settings");
    if (markItem)
        QVERIFY2(near > markItem->width() * markItem->height() / 20, qPrintable(QString("%1 pixels").arg(near)));
    const QStringList cut = cutTexts(shown) + cutTexts(s.find("Header"));
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(" | ")));

    const bool greek = language == "el_GR";
    if (screen == "Busy")
        QCOMPARE(s.text("BusyMessage", shown), greek ? "Παρακαλώ περιμένετε" : "Please Wait");
    if (screen == "ErrorScreen")
        QCOMPARE(s.text("ErrorMessage", shown), "Card jammed");
    if (screen == "OutOfOrder")
        QCOMPARE(s.text("OutOfOrderMessage", shown), "Dispenser not ready");
    if (screen == "Settings")
        QCOMPARE(s.text("SettingsTitle", shown), greek ? "Ρυθμίσεις" : "Settings");
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
