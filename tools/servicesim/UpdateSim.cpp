#include "UpdateSim.h"

UpdateSim::UpdateSim(const QString& root, MqttLink& link, PublishFaults& faults, Journal& journal)
    : SimService(QStringLiteral("update"), root,
        { QStringLiteral("/status/get"), QStringLiteral("/check"), QStringLiteral("/trigger"),
            QStringLiteral("/install") },
        link, faults, journal)
{
    m_steps.setInterval(20);
    connect(&m_steps, &QTimer::timeout, this, &UpdateSim::step);
}

void UpdateSim::publishRetained()
{
    // The client asks for its status; nothing is retained.
}

void UpdateSim::publishStatus()
{
    publish(QStringLiteral("/status"),
        { { QStringLiteral("service"), true }, { QStringLiteral("updateman"), true },
            { QStringLiteral("version"), m_version }, { QStringLiteral("pending"), m_pending },
            { QStringLiteral("state"), m_state } });
}

void UpdateSim::progress(const QString& description, int percent, int code)
{
    publish(QStringLiteral("/progress"),
        { { QStringLiteral("description"), description }, { QStringLiteral("percent"), percent },
            { QStringLiteral("progress"), code } });
}

void UpdateSim::handle(const QString& path, const QJsonObject& payload)
{
    if (path == QLatin1String("/check")) {
        if (!m_available.isEmpty() && m_available != m_version)
            m_pending = m_available;
        publishStatus();
    } else if (path == QLatin1String("/trigger")) {
        const QString version = payload.value(QStringLiteral("v")).toString();
        if (version.isEmpty() || m_steps.isActive()) {
            progress(QStringLiteral("Download refused"), 0, 100);
            return;
        }
        m_downloading = version;
        m_state = QStringLiteral("Downloading");
        m_percent = 0;
        publishStatus();
        m_steps.start();
    } else if (path == QLatin1String("/install")) {
        if (m_pending.isEmpty() || m_steps.isActive()) {
            progress(QStringLiteral("Nothing to install"), 0, 103);
            return;
        }
        m_downloading.clear();
        m_state = QStringLiteral("Installing");
        m_percent = 0;
        publishStatus();
        m_steps.start();
    } else {
        publishStatus();
    }
}

void UpdateSim::step()
{
    const bool download = !m_downloading.isEmpty();
    m_percent += 25;
    if (m_percent < 100) {
        progress(download ? QStringLiteral("Downloading") : QStringLiteral("Installing"), m_percent, 101);
        return;
    }
    m_steps.stop();
    if (download) {
        m_state = m_downloadFails ? QStringLiteral("Download failed") : QStringLiteral("Ready to install");
        if (!m_downloadFails)
            m_pending = m_downloading;
        m_downloading.clear();
        publishStatus();
    } else if (m_installFails) {
        m_state = QStringLiteral("Idle");
        progress(QStringLiteral("Installation failed"), 0, m_failCode);
    } else {
        m_version = m_pending;
        m_pending.clear();
        m_state = QStringLiteral("Idle");
        progress(QStringLiteral("Installation complete"), 100, 204);
    }
}

bool UpdateSim::control(const QJsonObject& params, QString* error)
{
    const int stepMs = params.value(QStringLiteral("stepMs")).toInt(m_steps.interval());
    if (stepMs < 0) {
        *error = QStringLiteral("stepMs must not be negative");
        return false;
    }
    m_steps.setInterval(stepMs);
    m_version = params.value(QStringLiteral("version")).toString(m_version);
    m_available = params.value(QStringLiteral("available")).toString(m_available);
    m_downloadFails = params.value(QStringLiteral("download")).toString(m_downloadFails ? "fail" : "ok") == "fail";
    m_installFails = params.value(QStringLiteral("install")).toString(m_installFails ? "fail" : "success") == "fail";
    m_failCode = params.value(QStringLiteral("failCode")).toInt(m_failCode);
    return true;
}

QJsonObject UpdateSim::toJson() const
{
    return { { QStringLiteral("version"), m_version }, { QStringLiteral("pending"), m_pending },
        { QStringLiteral("state"), m_state }, { QStringLiteral("available"), m_available } };
}
