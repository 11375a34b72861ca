#include "CameraSim.h"

CameraSim::CameraSim(QObject* parent)
    : QObject(parent)
{
}

SimCamera* CameraSim::addCamera(const QHostAddress& address, const QString& role)
{
    auto* camera = new SimCamera(address, role, this);
    camera->setPushTarget(m_targetAddress, m_targetPort);
    connect(camera, &SimCamera::journaled, this, [this](const QJsonObject& entry) {
        m_journal.append(entry);
        emit journaled(entry);
    });
    m_cameras.append(camera);
    return camera;
}

void CameraSim::setPushTarget(const QHostAddress& address, quint16 port)
{
    m_targetAddress = address;
    m_targetPort = port;
    for (SimCamera* camera : qAsConst(m_cameras))
        camera->setPushTarget(address, port);
}

bool CameraSim::start(quint16 port, QString* error)
{
    for (SimCamera* camera : qAsConst(m_cameras)) {
        if (!camera->start(port, error))
            return false;
    }
    return true;
}

SimCamera* CameraSim::camera(const QString& role) const
{
    for (SimCamera* camera : m_cameras) {
        if (camera->role() == role)
            return camera;
    }
    return nullptr;
}

QList<QJsonObject> CameraSim::entries(const QString& event, const QString& role) const
{
    QList<QJsonObject> found;
    for (const QJsonObject& entry : m_journal) {
        if (entry.value(QStringLiteral("event")).toString() == event
            && (role.isEmpty() || entry.value(QStringLiteral("camera")).toString() == role))
            found.append(entry);
    }
    return found;
}
