#include "MqttTopicFilter.h"

#include <QVector>

MqttTopicFilter::MqttTopicFilter(const QString& filter)
    : m_filter(filter)
{
}

bool MqttTopicFilter::isValid() const
{
    if (m_filter.isEmpty() || m_filter.contains(QLatin1Char('\0')) || m_filter.toUtf8().size() > 65535)
        return false;
    const QVector<QStringRef> levels = m_filter.splitRef(QLatin1Char('/'));
    for (int i = 0; i < levels.size(); ++i) {
        const QStringRef& level = levels.at(i);
        if (level.contains(QLatin1Char('#')) && (level.size() != 1 || i != levels.size() - 1))
            return false;
        if (level.contains(QLatin1Char('+')) && level.size() != 1)
            return false;
    }
    return true;
}

bool MqttTopicFilter::match(const MqttTopicName& name) const
{
    if (!isValid() || !name.isValid())
        return false;
    const QString topic = name.name();
    if (topic.startsWith(QLatin1Char('$'))
        && (m_filter.startsWith(QLatin1Char('+')) || m_filter.startsWith(QLatin1Char('#'))))
        return false;
    const QVector<QStringRef> filterLevels = m_filter.splitRef(QLatin1Char('/'));
    const QVector<QStringRef> topicLevels = topic.splitRef(QLatin1Char('/'));
    for (int i = 0; i < filterLevels.size(); ++i) {
        const QStringRef& level = filterLevels.at(i);
        // "a/#" also matches "a" itself.
        if (level == QLatin1String("#"))
            return true;
        if (i >= topicLevels.size())
            return false;
        if (level != QLatin1String("+") && level != topicLevels.at(i))
            return false;
    }
    return filterLevels.size() == topicLevels.size();
}
