#pragma once
// The simulator's own control topics, outside the device roots: commands as
// requests on <control>/<command>/request/<id>, answered on
// <control>/<command>/response/<id>; every journal entry on <control>/journal;
// readiness, retained, on <control>/status.

#include <QJsonObject>
#include <QObject>
#include <QString>

class CardWorld;
class DispenserService;
class FaultPlan;
class Journal;
class MqttLink;
class ReaderService;

class ControlService : public QObject
{
    Q_OBJECT

public:
    ControlService(const QString& root, MqttLink& link, CardWorld& world, ReaderService& reader,
        DispenserService& dispenser, FaultPlan& faults, Journal& journal, QObject* parent = nullptr);

    // Publishes {"ready": false} directly, before a clean shutdown.
    void announceShutdown();

private:
    struct Answer
    {
        bool ok = true;
        QJsonObject data;
        QString error;
    };

    void onMessage(const QString& topic, const QByteArray& payload);
    Answer run(const QString& command, const QJsonObject& params);
    QJsonObject snapshot() const;

    QString m_root;
    MqttLink& m_link;
    CardWorld& m_world;
    ReaderService& m_reader;
    DispenserService& m_dispenser;
    FaultPlan& m_faults;
    Journal& m_journal;
};
