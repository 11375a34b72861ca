#pragma once
// One network connection as the network service reports it: interface, state,
// type and its IPv4 settings.

#include "IPv4.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace manager {

class Connection : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString interface READ interface NOTIFY interfaceChanged)
    Q_PROPERTY(QString state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString type READ type NOTIFY typeChanged)
    Q_PROPERTY(IPv4* ipv4 READ ipv4 NOTIFY ipv4Changed)
public:
    explicit Connection(QObject* parent = nullptr);
    Connection(const QVariantMap& map, QObject* parent = nullptr);

    const QString& interface() const { return m_interface; }
    const QString& state() const { return m_state; }
    const QString& type() const { return m_type; }
    IPv4* ipv4() { return &m_ipv4; }

    // Applies a connection object: "interface", "stateStr", "typeStr", "ipv4".
    void fromMap(const QVariantMap& map);

signals:
    void interfaceChanged();
    void stateChanged();
    void typeChanged();
    void ipv4Changed();

private:
    QString m_interface;
    QString m_state;
    QString m_type;
    IPv4 m_ipv4;
};

} // namespace manager
