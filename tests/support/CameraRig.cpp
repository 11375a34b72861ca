#include "CameraRig.h"

#include <QTest>

#include <algorithm>

const QStringList CameraRig::Roles { QString("alpr1"), QString("alpr2"), QString("ccr1"), QString("ccr2") };

CameraRig::CameraRig(quint16 pushPort)
    : m_pushPort(pushPort)
{
    m_sim.setPushTarget(QHostAddress(QHostAddress::LocalHost), pushPort);
    for (const QString& role : Roles)
        m_sim.addCamera(QHostAddress(address(role)), role);
}

bool CameraRig::start(QString* error)
{
    return m_sim.start(80, error);
}

QString CameraRig::address(const QString& role)
{
    return QString("127.0.0.%1").arg(11 + Roles.indexOf(role));
}

QString CameraRig::url(const QString& role) const
{
    return QString("https://zent:plou@%1:%2").arg(address(role)).arg(m_pushPort);
}

QVariantMap CameraRig::settings() const
{
    QVariantMap settings { { QString("camera/triggerDelayMsec"), 0 }, { QString("camera/numberOfRetries"), 3 },
        { QString("camera/responseTimeoutMsec"), 5000 } };
    for (const QString& role : Roles)
        settings.insert(QString("camera/") + role, url(role));
    return settings;
}

bool CameraRig::waitFor(const QString& event, int count, const QString& role, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_sim.entries(event, role).size() >= count; }, timeoutMs);
}

bool CameraRig::settle(int timeoutMs)
{
    const auto idle = [](const SimCamera* camera) { return camera->pushesPending() == 0; };
    return QTest::qWaitFor(
        [&] { return std::all_of(m_sim.cameras().begin(), m_sim.cameras().end(), idle); }, timeoutMs);
}
