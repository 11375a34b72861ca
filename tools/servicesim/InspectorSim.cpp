#include "InspectorSim.h"

InspectorSim::InspectorSim(const QString& root, MqttLink& link, PublishFaults& faults, Journal& journal)
    : SimService(QStringLiteral("inspector"), root,
        { QStringLiteral("/audio/get"), QStringLiteral("/audio/set"), QStringLiteral("/audio/play"),
            QStringLiteral("/stats/memory/get"), QStringLiteral("/stats/disk/get"), QStringLiteral("/stats/cpu/get"),
            QStringLiteral("/power/#") },
        link, faults, journal)
{
}

void InspectorSim::publishRetained()
{
    publish(
        QStringLiteral("/info"), { { QStringLiteral("service"), QJsonObject { { "version", "2.1.0-sim" } } } }, true);
    publish(QStringLiteral("/status"), { { QStringLiteral("service"), true } }, true);
}

void InspectorSim::publishAudio()
{
    publish(QStringLiteral("/audio"),
        { { QStringLiteral("internal"), QJsonObject { { QStringLiteral("volume"), m_volume } } } });
}

void InspectorSim::handle(const QString& path, const QJsonObject& payload)
{
    if (path == QLatin1String("/audio/get")) {
        publishAudio();
    } else if (path == QLatin1String("/audio/set")) {
        const QJsonValue volume = payload.value(QStringLiteral("internal")).toObject().value(QStringLiteral("volume"));
        if (volume.isDouble())
            m_volume = qBound(0, volume.toInt(), 100);
        publishAudio();
    } else if (path.startsWith(QLatin1String("/stats/"))) {
        const QString kind = path.mid(7).chopped(4);
        publish(QStringLiteral("/stats/") + kind,
            { { QStringLiteral("total"), 100 }, { QStringLiteral("used"), 42 }, { QStringLiteral("kind"), kind } });
    }
    // Playing and powering off are only recorded in the journal.
}

bool InspectorSim::control(const QJsonObject& params, QString*)
{
    m_volume = params.value(QStringLiteral("volume")).toInt(m_volume);
    return true;
}

QJsonObject InspectorSim::toJson() const
{
    return { { QStringLiteral("volume"), m_volume } };
}
