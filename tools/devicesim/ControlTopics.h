#pragma once
// A simulator's own control topics, outside the simulated roots: commands as
// requests on <control>/<command>/request/<id>, answered on
// <control>/<command>/response/<id> with {"completed", "data"|"error"}; every
// journal entry on <control>/journal; readiness, retained, on <control>/status,
// once the broker granted the subscriptions of every link awaited and its own.
// A subclass carries out the commands.

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class Journal;
class MqttLink;

class ControlTopics : public QObject
{
    Q_OBJECT

public:
    ControlTopics(const QString& root, MqttLink& link, Journal& journal, QObject* parent = nullptr);

    // The links of the simulated services: readiness waits for them too.
    void awaitLinks(const QList<MqttLink*>& links);
    // Publishes {"ready": false} directly, before a clean shutdown.
    void announceShutdown();

protected:
    // Carries out a command: the answer's data, or false with a reason.
    virtual bool run(const QString& command, const QJsonObject& params, QJsonObject* data, QString* error) = 0;

    Journal& m_journal;

private:
    void onMessage(const QString& topic, const QByteArray& payload);
    void announceReady();

    QString m_root;
    MqttLink& m_link;
    QList<MqttLink*> m_awaited;
};
