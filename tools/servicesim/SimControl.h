#pragma once
// The service simulator's control topics: commands as requests on
// <control>/<command>/request/<id>, answered on <control>/<command>/response/<id>
// with {"completed", "data"|"error"}; each journal entry on <control>/journal;
// readiness, retained, on <control>/status.

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class Journal;
class MqttLink;
class PublishFaults;
class SimService;

class SimControl : public QObject
{
    Q_OBJECT

public:
    SimControl(const QString& root, MqttLink& link, const QList<SimService*>& services, PublishFaults& faults,
        Journal& journal, QObject* parent = nullptr);

    void announceShutdown();

private:
    void onMessage(const QString& topic, const QByteArray& payload);
    // The answer's data, or false with a reason.
    bool run(const QString& command, const QJsonObject& params, QJsonObject* data, QString* error);

    QString m_root;
    MqttLink& m_link;
    QList<SimService*> m_services;
    PublishFaults& m_faults;
    Journal& m_journal;
};
