#pragma once
// What the simulated system services share: a topic root, one broker link with
// the will {"service": false} on the status topic, the journal of every
// message received, publish faults, and going offline.

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

class Journal;
class MqttLink;
class PublishFaults;

class SimService : public QObject
{
    Q_OBJECT

public:
    // paths: the request topics below root the service takes; a path ending in "/#" takes everything below it.
    SimService(const QString& name, const QString& root, const QStringList& paths, MqttLink& link,
        PublishFaults& faults, Journal& journal, QObject* parent = nullptr);

    const QString& name() const { return m_name; }
    const QString& root() const { return m_root; }
    // Offline: status {"service": false}; requests are journaled but not served.
    void setOffline(bool offline);
    // Publishes the retained messages again (info, status).
    void republish();
    // Applies a control command for this service ("offline" here, the rest in control()).
    bool applyControl(const QJsonObject& params, QString* error);
    // The state shown by the control topics.
    QJsonObject state() const;
    // Publishes status {"service": false} directly, before a clean shutdown.
    void announceShutdown();

protected:
    virtual void handle(const QString& path, const QJsonObject& payload) = 0;
    virtual void publishRetained() = 0;
    virtual bool control(const QJsonObject& params, QString* error) = 0;
    virtual QJsonObject toJson() const = 0;

    // Applies the planned fault of "<name><path>", if any. Status topics are retained.
    void publish(const QString& path, const QJsonObject& object, bool retain = false);
    bool isOffline() const { return m_offline; }

private:
    void onMessage(const QString& topic, const QByteArray& payload);
    bool takes(const QString& path) const;

    QString m_name;
    QString m_root;
    QStringList m_paths;
    MqttLink& m_link;
    PublishFaults& m_faults;
    Journal& m_journal;
    bool m_offline = false;
};
