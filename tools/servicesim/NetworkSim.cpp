#include "NetworkSim.h"

namespace {

const QString Interface = QStringLiteral("eth0");
const char* const Settings[] = { "address", "netmask", "gateway", "dns0", "dns1" };

} // namespace

NetworkSim::NetworkSim(const QString& root, MqttLink& link, PublishFaults& faults, Journal& journal)
    : SimService(QStringLiteral("network"), root,
        { QStringLiteral("/ethernet/state/get"), QStringLiteral("/ethernet/config/get"),
            QStringLiteral("/ethernet/config/set") },
        link, faults, journal)
    , m_ipv4 { { QStringLiteral("address"), QStringLiteral("127.0.0.10") },
        { QStringLiteral("netmask"), QStringLiteral("255.0.0.0") },
        { QStringLiteral("gateway"), QStringLiteral("127.0.0.1") },
        { QStringLiteral("dns0"), QStringLiteral("127.0.0.53") }, { QStringLiteral("dns1"), QStringLiteral("") } }
    , m_config(m_ipv4)
{
}

QJsonObject NetworkSim::ethernetState() const
{
    return {
        { QStringLiteral("interface"), Interface },
        { QStringLiteral("typeStr"), QStringLiteral("ethernet") },
        { QStringLiteral("stateStr"), m_ethernetState },
        { QStringLiteral("reasonStr"), QStringLiteral("None") },
        { QStringLiteral("mac"), QStringLiteral("02:00:00:00:00:01") },
        { QStringLiteral("ipv4"), m_ipv4 },
    };
}

void NetworkSim::publishRetained()
{
    publish(
        QStringLiteral("/info"), { { QStringLiteral("service"), QJsonObject { { "version", "1.4.0-sim" } } } }, true);
    publish(QStringLiteral("/status"),
        {
            { QStringLiteral("service"), true },
            { QStringLiteral("stateStr"), m_state },
            { QStringLiteral("connectivityStr"), m_connectivity },
            { QStringLiteral("hostname"), m_hostname },
            { QStringLiteral("primaryConnection"),
                QJsonObject { { QStringLiteral("interface"), Interface },
                    { QStringLiteral("stateStr"), QStringLiteral("activated") },
                    { QStringLiteral("typeStr"), QStringLiteral("802-3-ethernet") },
                    { QStringLiteral("ipv4"), m_ipv4 } } },
        },
        true);
}

void NetworkSim::handle(const QString& path, const QJsonObject& payload)
{
    if (path == QLatin1String("/ethernet/config/set")) {
        // Stored as text, as a settings file would keep it; manual settings go live at once.
        m_method = payload.value(QStringLiteral("method")).toString();
        for (const char* key : Settings)
            m_config.insert(QLatin1String(key), payload.value(QLatin1String(key)).toString());
        if (m_method == QLatin1String("manual"))
            m_ipv4 = m_config;
    }
    if (path == QLatin1String("/ethernet/state/get") || m_method == QLatin1String("manual"))
        publish(QStringLiteral("/ethernet/state"), ethernetState());
    if (path != QLatin1String("/ethernet/state/get")) {
        QJsonObject config = m_config;
        config.insert(QStringLiteral("interface"), Interface);
        config.insert(QStringLiteral("method"), m_method);
        publish(QStringLiteral("/ethernet/config"), config);
    }
}

bool NetworkSim::control(const QJsonObject& params, QString*)
{
    m_hostname = params.value(QStringLiteral("hostname")).toString(m_hostname);
    m_state = params.value(QStringLiteral("state")).toString(m_state);
    m_connectivity = params.value(QStringLiteral("connectivity")).toString(m_connectivity);
    m_ethernetState = params.value(QStringLiteral("ethernetState")).toString(m_ethernetState);
    return true;
}

QJsonObject NetworkSim::toJson() const
{
    QJsonObject config = m_config;
    config.insert(QStringLiteral("method"), m_method);
    return { { QStringLiteral("hostname"), m_hostname }, { QStringLiteral("ethernet"), ethernetState() },
        { QStringLiteral("config"), config } };
}
