#include "CameraRig.h"

#include <QTest>

const QStringList CameraRig::Roles { QStringLiteral("alpr1"), QStringLiteral("alpr2"), QStringLiteral("ccr1"),
    QStringLiteral("ccr2") };

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
    return QStringLiteral("127.0.0.%1").arg(11 + Roles.indexOf(role));
}

QString CameraRig::url(const QString& role) const
{
    return QStringLiteral("https://zent:plou@%1:%2").arg(address(role)).arg(m_pushPort);
}

QVariantMap CameraRig::settings() const
{
    QVariantMap settings { { QStringLiteral("camera/triggerDelayMsec"), 0 },
        { QStringLiteral("camera/numberOfRetries"), 3 }, { QStringLiteral("camera/responseTimeoutMsec"), 5000 } };
    for (const QString& role : Roles)
        settings.insert(QStringLiteral("camera/") + role, url(role));
    return settings;
}

bool CameraRig::waitFor(const QString& event, int count, const QString& role, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_sim.entries(event, role).size() >= count; }, timeoutMs);
}

bool CameraRig::settle(int timeoutMs)
{
    return QTest::qWaitFor(
        [this] {
            for (const SimCamera* camera : m_sim.cameras()) {
                if (camera->pushesPending() > 0)
                    return false;
            }
            return true;
        },
        timeoutMs);
}
