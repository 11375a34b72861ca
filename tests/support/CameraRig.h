#pragma once
// The four lane cameras of the simulator (tools/camerasim) at 127.0.0.11-14 port 80,
// pushing to the terminal's listener at 127.0.0.1. Needs a private network
// (PrivateNetwork.h): port 80 on those addresses is then free.

#include "CameraSim.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

class CameraRig
{
public:
    static const QStringList Roles; // alpr1, alpr2, ccr1, ccr2

    explicit CameraRig(quint16 pushPort);

    bool start(QString* error = nullptr);
    CameraSim& sim() { return m_sim; }
    SimCamera* camera(const QString& role) const { return m_sim.camera(role); }
    quint16 pushPort() const { return m_pushPort; }

    static QString address(const QString& role);
    // A camera setting as deployed: https, credentials, the listener's port.
    QString url(const QString& role) const;
    // camera/alpr1 … camera/ccr2 and a trigger delay of 0, as settings defaults.
    QVariantMap settings() const;

    // Waits until the journal holds count entries of the event ("trigger", "push"), of one role or any.
    bool waitFor(const QString& event, int count, const QString& role = QString(), int timeoutMs = 5000);

    // Waits until no camera has a push scheduled or on its way.
    bool settle(int timeoutMs = 5000);

private:
    quint16 m_pushPort;
    CameraSim m_sim;
};
