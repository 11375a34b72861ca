#include "QmlStage.h"

#include "LogCapture.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickStyle>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <algorithm>

namespace {
// The whole run's log, so that faults logged while the window is torn down count too.
LogCapture& processLog()
{
    static LogCapture log(true);
    return log;
}

// Items hang in two trees (visual and object parents), popups only in the second: search both.
void collectNamed(QObject* node, const QRegularExpression& name, QList<QObject*>& found, QSet<QObject*>& seen)
{
    if (!node || seen.contains(node))
        return;
    seen.insert(node);
    if (name.match(node->objectName()).hasMatch())
        found << node;
    for (QObject* child : node->children())
        collectNamed(child, name, found, seen);
    if (auto* item = qobject_cast<QQuickItem*>(node)) {
        for (QQuickItem* child : item->childItems())
            collectNamed(child, name, found, seen);
    }
}

QList<QObject*> named(QObject* root, const QRegularExpression& name)
{
    QList<QObject*> found;
    QSet<QObject*> seen;
    collectNamed(root, name, found, seen);
    return found;
}
} // namespace

QmlStage::QmlStage()
{
    processLog();
    QQuickStyle::setStyle("Material");
    QQmlComponent component(
        &engine, QUrl::fromLocalFile(qEnvironmentVariable("LANE_SOURCE_DIR") + "/tests/qml/FakeContext.qml"));
    fakes = component.create();
    if (!fakes)
        qFatal("%s", qPrintable(component.errorString()));
    manager.setLanguage("en_US");
    manager.m_diagnostics = fake("diagnostics");
    QQmlContext* context = engine.rootContext();
    context->setContextProperty("manager", &manager);
    for (const char* name : { "board", "network", "terminal" })
        context->setContextProperty(name, fake(name));
    engine.load(QUrl("qrc:/qml/main.qml"));
    window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (!window || !QTest::qWaitForWindowExposed(window))
        qFatal("main window not shown");
    // Hidden screens are built in the background after the first frame.
    const auto loaders = named(window->contentItem(), QRegularExpression("^screen_"));
    const bool built = QTest::qWaitFor(
        [&] {
            return std::all_of(loaders.cbegin(), loaders.cend(), [](QObject* loader) {
                return loader->property("source").toUrl().isEmpty() || loader->property("item").value<QObject*>();
            });
        },
        10000);
    if (loaders.size() != 9 || !built)
        qFatal("screens not built");
}

QmlStage::QmlStage(QQuickWindow* shown)
    : window(shown)
{
    processLog();
}

QmlStage::~QmlStage()
{
    if (fakes)
        delete window;
    delete fakes;
}

QString QmlStage::problems()
{
    static const QRegularExpression fault(
        "qrc:/|TypeError|ReferenceError|[Bb]inding loop|No such file|[Cc]annot open|not installed|is not a type");
    QStringList found;
    for (const LogCapture::Entry& entry : processLog().entries()) {
        if (entry.type != QtDebugMsg && entry.type != QtInfoMsg && entry.text.contains(fault))
            found << entry.text;
    }
    return found.join('\n');
}

QObject* QmlStage::fake(const char* name) const
{
    return fakes->property(name).value<QObject*>();
}

QVariant QmlStage::eval(const QString& script)
{
    return QQmlExpression(engine.rootContext(), nullptr, script).evaluate();
}

QObject* QmlStage::object(const QString& name, QObject* below) const
{
    const auto found = named(
        below ? below : window->contentItem(), QRegularExpression("^" + QRegularExpression::escape(name) + "$"));
    return found.isEmpty() ? nullptr : found.first();
}

QString QmlStage::text(const QString& name, QObject* below) const
{
    QObject* item = object(name, below);
    return item ? item->property("text").toString() : QString("<missing %1>").arg(name);
}

QList<QQuickItem*> QmlStage::visibleScreens() const
{
    QList<QQuickItem*> shown;
    for (QObject* object : named(window->contentItem(), QRegularExpression("^screen_"))) {
        auto* item = qobject_cast<QQuickItem*>(object);
        if (item && item->isVisible() && item->property("item").value<QObject*>())
            shown << item;
    }
    return shown;
}

void QmlStage::click(QQuickItem* item)
{
    QVERIFY2(item, "no item to click");
    QCoreApplication::processEvents(); // lets pending layouts place the item
    // Scroll every flickable above the item so that the item is in view.
    for (QQuickItem* up = item->parentItem(); up; up = up->parentItem()) {
        if (!up->inherits("QQuickFlickable"))
            continue;
        const qreal y = item->mapToItem(up->property("contentItem").value<QQuickItem*>(), QPointF(0, 0)).y();
        const qreal bottom = qMax(0.0, up->property("contentHeight").toReal() - up->height());
        up->setProperty("contentY", qBound(0.0, y - up->height() / 2, bottom));
    }
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
        item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
    // Popped pages are deleted later; delete them now so that no lookup finds them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void QmlStage::showScreen(const QString& name)
{
    manager.setProperty("screen", name);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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
}
