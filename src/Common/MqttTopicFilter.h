#pragma once
// A topic filter to subscribe to: a topic name that may hold the wildcards
// "+" (one level) and "#" (all remaining levels).

#include "MqttTopicName.h"

#include <QMetaType>
#include <QString>

class MqttTopicFilter
{
public:
    MqttTopicFilter() = default;
    explicit MqttTopicFilter(const QString& filter);

    QString filter() const { return m_filter; }
    void setFilter(const QString& filter) { m_filter = filter; }
    // Non-empty, no NUL, at most 65535 bytes; "+" only as a whole level and
    // "#" only as the whole last level.
    bool isValid() const;
    // Matching as a broker does; a filter starting with a wildcard does not
    // match topics starting with "$".
    bool match(const MqttTopicName& name) const;

    bool operator==(const MqttTopicFilter& other) const { return m_filter == other.m_filter; }
    bool operator!=(const MqttTopicFilter& other) const { return m_filter != other.m_filter; }
    bool operator<(const MqttTopicFilter& other) const { return m_filter < other.m_filter; }

private:
    QString m_filter;
};

Q_DECLARE_METATYPE(MqttTopicFilter)
