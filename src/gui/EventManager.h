#pragma once
// The persistent event log: keeps recent events in "events.ini" and offers the screens a
// filtered list, newest first.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

class Config;
class Event;

class EventManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<QObject*> data READ data NOTIFY dataChanged)
public:
    static constexpr int kLoadLimit = 1000;
    static constexpr int kKeepDays = 30;

    // The log lives in "events.ini" beside the executable.
    explicit EventManager(Config& config, QObject* parent = nullptr);
    // As above, with the log in the given file (tests).
    EventManager(Config& config, const QString& fileName, QObject* parent = nullptr);

    QList<QObject*> data() const;
    // Every held event, oldest first.
    const QList<Event*>& events() const { return m_events; }
    const QString& fileName() const { return m_fileName; }

    static QString defaultFileName();

    Q_INVOKABLE void push(Event* event);
    Q_INVOKABLE void clear(const QDateTime& before);
    Q_INVOKABLE void clear();
    Q_INVOKABLE void applyFilter(const QString& name);
    Q_INVOKABLE void applyFilter(int severity);
    Q_INVOKABLE void applyFilter(const QDateTime& from, const QDateTime& to = QDateTime());
    Q_INVOKABLE void applyFilterPeriod(const QString& period);

signals:
    void dataChanged();

private:
    void load();
    void save();
    void update();
    void release(Event* event);

    Config& m_config;
    QString m_fileName;
    QList<Event*> m_events;
    QList<Event*> m_view;
    int m_severity = 0;
    QString m_name;
    QDateTime m_from;
    QDateTime m_to;
};
