#pragma once
// The name of one MQTT topic a message is published on (no wildcards).

#include <QMetaType>
#include <QString>
#include <QStringList>

class MqttTopicName
{
public:
    MqttTopicName() = default;
    explicit MqttTopicName(const QString& name);

    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    // Non-empty, no wildcard, no NUL and at most 65535 bytes in UTF-8.
    bool isValid() const;
    QStringList levels() const;
    int levelCount() const;

    bool operator==(const MqttTopicName& other) const { return m_name == other.m_name; }
    bool operator!=(const MqttTopicName& other) const { return m_name != other.m_name; }
    bool operator<(const MqttTopicName& other) const { return m_name < other.m_name; }

private:
    QString m_name;
};

Q_DECLARE_METATYPE(MqttTopicName)
