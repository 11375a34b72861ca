#pragma once
// A set of simulated cameras pushing to one terminal listener, with one journal
// of every trigger and push in the order they happened.

#include "SimCamera.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class CameraSim : public QObject
{
    Q_OBJECT
public:
    explicit CameraSim(QObject* parent = nullptr);

    SimCamera* addCamera(const QHostAddress& address, const QString& role);
    // Where every camera pushes; also for cameras added later.
    void setPushTarget(const QHostAddress& address, quint16 port);
    // Starts every camera on the port (80 for the real thing).
    bool start(quint16 port, QString* error);

    SimCamera* camera(const QString& role) const;
    const QList<SimCamera*>& cameras() const { return m_cameras; }

    const QList<QJsonObject>& journal() const { return m_journal; }
    // Entries of one event ("trigger", "push"), optionally of one camera.
    QList<QJsonObject> entries(const QString& event, const QString& role = QString()) const;
    void clearJournal() { m_journal.clear(); }

signals:
    void journaled(QJsonObject entry);

private:
    QList<SimCamera*> m_cameras;
    QList<QJsonObject> m_journal;
    QHostAddress m_targetAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 m_targetPort = 8000;
};
