#include "MqttTopicName.h"

MqttTopicName::MqttTopicName(const QString& name)
    : m_name(name)
{
}

bool MqttTopicName::isValid() const
{
    if (m_name.isEmpty() || m_name.contains(QLatin1Char('\0')))
        return false;
    if (m_name.contains(QLatin1Char('+')) || m_name.contains(QLatin1Char('#')))
        return false;
    return m_name.toUtf8().size() <= 65535;
}

QStringList MqttTopicName::levels() const
{
    return m_name.split(QLatin1Char('/'));
}

int MqttTopicName::levelCount() const
{
    return m_name.isEmpty() ? 0 : m_name.count(QLatin1Char('/')) + 1;
}
