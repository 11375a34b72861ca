#include "QmlStage.h"

#include <QMutex>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickStyle>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {
QMutex problemsMutex;
QStringList collected;
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    static const QRegularExpression fault(
        "qrc:/|TypeError|ReferenceError|[Bb]inding loop|No such file|[Cc]annot open|not installed|is not a type");
    if (type != QtDebugMsg && type != QtInfoMsg && message.contains(fault)) {
        QMutexLocker lock(&problemsMutex);
        collected << message;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}
// Items hang in two trees (visual parents and object parents); search both.
void collectItems(QObject* node, const QRegularExpression& name, QList<QObject*>& found, QSet<QObject*>& seen)
{
    if (!node || seen.contains(node))
        return;
    seen.insert(node);
    auto* item = qobject_cast<QQuickItem*>(node);
    if (name.match(node->objectName()).hasMatch())
        found << node;
    for (QObject* child : node->children())
        collectItems(child, name, found, seen);
    if (item) {
        for (QQuickItem* child : item->childItems())
            collectItems(child, name, found, seen);
    }
}

QList<QObject*> itemsNamed(QObject* root, const QRegularExpression& name)
{
    QList<QObject*> found;
    QSet<QObject*> seen;
    collectItems(root, name, found, seen);
    return found;
}
} // namespace

QmlStage::QmlStage()
{
    previousHandler = qInstallMessageHandler(collect);
    QQuickStyle::setStyle("Material");
    QQmlComponent component(&engine, QUrl::fromLocalFile(qEnvironmentVariable("LANE_SOURCE_DIR") + "/tests/qml/FakeContext.qml"));
    fakes = component.create();
    if (!fakes)
        qFatal("%s", qPrintable(component.errorString()));
    const QVariantMap links[] = {
        { { "type", "ethernet" }, { "interface", "eth0" }, { "ipv4", QVariant::fromValue(fake("primaryIpv4")) } },
        { { "state", "Connected" }, { "mac", "00:11:22:33:44:55" }, { "interface", "eth0" }, { "reason", "" },
          { "method", "manual" }, { "ipv4", QVariant::fromValue(fake("ethernetIpv4")) },
          { "config", QVariant::fromValue(fake("ethernetConfig")) } }
    };
    for (auto it = links[0].begin(); it != links[0].end(); ++it)
        primary.insert(it.key(), it.value());
    for (auto it = links[1].begin(); it != links[1].end(); ++it)
        ethernet.insert(it.key(), it.value());
    fake("network")->setProperty("primaryConnection", QVariant::fromValue<QObject*>(&primary));
    fake("network")->setProperty("ethernet", QVariant::fromValue<QObject*>(&ethernet));
    manager.m_diagnostics = fake("diagnostics");
    manager.m_update = fake("update");
    manager.setLanguage("en_US");
    QQmlContext* context = engine.rootContext();
    context->setContextProperty("manager", &manager);
    for (const char* name : { "board", "inspector", "eventLogManager", "network", "terminal" })
        context->setContextProperty(name, fake(name));
    engine.load(QUrl("qrc:/qml/main.qml"));
    window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (!window)
        qFatal("main window did not load");
    if (!QTest::qWaitForWindowExposed(window))
        qFatal("main window not shown");
}

QmlStage::~QmlStage()
{
    delete window;
    delete fakes;
    qInstallMessageHandler(previousHandler);
}

QStringList QmlStage::problems()
{
    QMutexLocker lock(&problemsMutex);
    return collected;
}

void QmlStage::clearProblems()
{
    QMutexLocker lock(&problemsMutex);
    collected.clear();
}

QObject* QmlStage::fake(const char* name) const
{
    QObject* object = fakes->property(name).value<QObject*>();
    if (!object)
        object = fakes->property("terminal").value<QObject*>()->property(name).value<QObject*>();
    return object;
}

QObject* QmlStage::object(const QString& objectName, QObject* below) const
{
    const auto found = itemsNamed(below ? below : window->contentItem(),
                                  QRegularExpression("^" + QRegularExpression::escape(objectName) + "$"));
    return found.isEmpty() ? nullptr : found.first();
}

QQuickItem* QmlStage::find(const QString& objectName, QObject* below) const
{
    return qobject_cast<QQuickItem*>(object(objectName, below));
}

QQuickItem* QmlStage::screen(const QString& name) const
{
    return find("screen_" + name);
}

QList<QQuickItem*> QmlStage::visibleScreens() const
{
    QList<QQuickItem*> shown;
    for (QObject* object : itemsNamed(window->contentItem(), QRegularExpression("^screen_"))) {
        auto* item = qobject_cast<QQuickItem*>(object);
        if (item && item->isVisible() && item->property("item").value<QObject*>())
            shown << item;
    }
    return shown;
}

QString QmlStage::text(const QString& objectName, QObject* below) const
{
    QObject* item = object(objectName, below);
    return item ? item->property("text").toString() : QString("<missing %1>").arg(objectName);
}

void QmlStage::click(QQuickItem* item)
{
    QVERIFY2(item, "no item to click");
    // Scroll every flickable above the item so that the item is in view.
    for (QQuickItem* up = item->parentItem(); up; up = up->parentItem()) {
        if (!up->inherits("QQuickFlickable"))
            continue;
        auto* content = up->property("contentItem").value<QQuickItem*>();
        const qreal y = item->mapToItem(content, QPointF(0, 0)).y();
        const qreal bottom = qMax(0.0, up->property("contentHeight").toReal() - up->height());
        up->setProperty("contentY", qBound(0.0, y - up->height() / 2, bottom));
    }
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

// Pages that were popped are deleted later; delete them now so that no
// lookup finds them.
void QmlStage::flush()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void QmlStage::showScreen(const QString& name)
{
    manager.setScreen(name);
    flush();
}

QQuickItem* QmlStage::openSettingsPage(const QString& file)
{
    QQuickItem* stack = find("SettingsStack");
    click(find("row_" + file, stack));
    return stack->property("currentItem").value<QQuickItem*>();
}

void QmlStage::settingsBack()
{
    click(find("BackButton", find("SettingsHeader")));
    flush();
}
