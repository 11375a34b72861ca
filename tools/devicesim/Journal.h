#pragma once
// Every message the simulated services received, in arrival order, so tests
// can assert the exact sequence of requests.

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

class Journal : public QObject
{
    Q_OBJECT

public:
    explicit Journal(QObject* parent = nullptr);

    // device "rfid" or "dispenser"; path as "/card/write"; id empty for plain messages.
    void record(const QString& device, const QString& path, const QString& id, const QByteArray& payload);
    QJsonArray entries() const { return m_entries; }
    void clear();

signals:
    // {"seq", "ms", "device", "path", "id", "payload"}: payload is the parsed JSON,
    // null when empty, or the raw text under "raw" when it is not JSON.
    void recorded(const QJsonObject& entry);

private:
    QJsonArray m_entries;
    QElapsedTimer m_clock;
    int m_seq = 0;
};
