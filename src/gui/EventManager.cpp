#include "EventManager.h"

#include "Config.h"
#include "Event.h"
#include "PrivateFile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QSettings>

#include <algorithm>

namespace {

const QString kArray = QStringLiteral("events");

QString statusText(QSettings::Status status)
{
    return status == QSettings::AccessError ? QStringLiteral("access error") : QStringLiteral("format error");
}

} // namespace

EventManager::EventManager(Config& config, QObject* parent)
    : EventManager(config, defaultFileName(), parent)
{
}

EventManager::EventManager(Config& config, const QString& fileName, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_fileName(fileName)
{
    Q_UNUSED(m_config)
    load();
    clear(QDateTime::currentDateTime().addDays(-kKeepDays));
}

QString EventManager::defaultFileName()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("events.ini"));
}

QList<QObject*> EventManager::data() const
{
    QList<QObject*> out;
    out.reserve(m_view.size());
    for (Event* event : m_view)
        out.append(event);
    return out;
}

void EventManager::load()
{
    QSettings settings(m_fileName, QSettings::IniFormat);
    const int size = settings.beginReadArray(kArray);
    const int first = qMax(size, kLoadLimit) - kLoadLimit;
    qInfo().noquote() << QStringLiteral("[EventManager] Loading saved events : from=%1 to=%2").arg(first).arg(size);
    for (int i = first; i < size; ++i) {
        settings.setArrayIndex(i);
        m_events.append(new Event(settings.value(QStringLiteral("category")).toString(),
            settings.value(QStringLiteral("name")).toString(), settings.value(QStringLiteral("desc")).toString(),
            settings.value(QStringLiteral("timestamp")).toDateTime(), this));
    }
    settings.endArray();
    if (settings.status() != QSettings::NoError)
        qWarning().noquote() << "[EventManager] WARN: Could not read events from " + m_fileName + " ("
                + statusText(settings.status()) + ")";
}

void EventManager::save()
{
    PrivateFile::prepare(m_fileName); // the descriptions name users
    QSettings settings(m_fileName, QSettings::IniFormat);
    settings.clear();
    settings.beginWriteArray(kArray, m_events.size());
    for (int i = 0; i < m_events.size(); ++i) {
        const Event* event = m_events.at(i);
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("category"), event->category());
        settings.setValue(QStringLiteral("name"), event->name());
        settings.setValue(QStringLiteral("desc"), event->description());
        settings.setValue(QStringLiteral("timestamp"), event->timestamp());
    }
    settings.endArray();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning().noquote() << "[EventManager] WARN: Could not write events to " + m_fileName + " ("
                + statusText(settings.status()) + ")";
}

void EventManager::release(Event* event)
{
    m_view.removeAll(event);
    event->deleteLater();
}

void EventManager::push(Event* event)
{
    if (!event)
        return;
    if (m_events.size() > kLoadLimit)
        release(m_events.takeFirst());
    event->setParent(this);
    m_events.append(event);
    save();
    update();
}

void EventManager::clear(const QDateTime& before)
{
    int removed = 0;
    for (auto it = m_events.begin(); it != m_events.end();) {
        if ((*it)->timestamp() <= before) {
            release(*it);
            it = m_events.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    qInfo().noquote() << QStringLiteral("[EventManager] Deleted %1 event(s) older than %2")
                             .arg(removed)
                             .arg(before.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    if (removed > 0)
        save();
    update();
}

void EventManager::clear()
{
    for (Event* event : qAsConst(m_events))
        release(event);
    m_events.clear();
    save();
    update();
}

void EventManager::applyFilter(const QString& name)
{
    qInfo().noquote() << "[EventManager] Filtering : name=" + name;
    m_name = name;
    update();
}

void EventManager::applyFilter(int severity)
{
    qInfo().noquote() << "[EventManager] Filtering : severity=" + QString::number(severity);
    m_severity = severity;
    update();
}

void EventManager::applyFilter(const QDateTime& from, const QDateTime& to)
{
    qInfo().noquote() << "[EventManager] Filtering : from=" + from.toString() + " to=" + to.toString();
    m_from = from;
    m_to = to;
    update();
}

void EventManager::applyFilterPeriod(const QString& period)
{
    qInfo().noquote() << "[EventManager] Filtering (period) : " + period;
    const QDateTime now = QDateTime::currentDateTime();
    const QDate today = now.date();
    QDateTime from;
    QDateTime to;
    if (period == QLatin1String("Last hour")) {
        from = now.addSecs(-3600);
        to = now;
    } else if (period == QLatin1String("Last 2 hours")) {
        from = now.addSecs(-7200);
        to = now;
    } else if (period == QLatin1String("Last 5 hours")) {
        from = now.addSecs(-18000);
        to = now;
    } else if (period == QLatin1String("Today")) {
        from = QDateTime(today, QTime(0, 0, 0));
        to = QDateTime(today, QTime(23, 59, 59));
    } else if (period == QLatin1String("Yesterday")) {
        from = QDateTime(today.addDays(-1), QTime(0, 0, 0));
        to = QDateTime(today.addDays(-1), QTime(23, 59, 59));
    } else if (period == QLatin1String("Last week")) {
        from = QDateTime(today.addDays(-7), QTime(0, 0, 0));
        to = now;
    } else if (period == QLatin1String("Last month")) {
        from = QDateTime(today.addMonths(-1), QTime(0, 0, 0));
        to = now;
    }
    applyFilter(from, to);
}

void EventManager::update()
{
    m_view.clear();
    for (Event* event : qAsConst(m_events)) {
        if (m_from.isValid() && event->timestamp() < m_from)
            continue;
        if (m_to.isValid() && event->timestamp() > m_to)
            continue;
        if (!m_name.isEmpty() && !event->name().contains(m_name, Qt::CaseInsensitive))
            continue;
        m_view.append(event);
    }
    std::stable_sort(
        m_view.begin(), m_view.end(), [](const Event* a, const Event* b) { return a->timestamp() > b->timestamp(); });
    emit dataChanged();
}
