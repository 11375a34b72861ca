#pragma once
// One message delivered by the broker: topic, payload and delivery flags.

#include "MqttTopicName.h"

#include <QByteArray>
#include <QMetaType>

class MqttMessage
{
public:
    MqttMessage() = default;
    MqttMessage(
        const MqttTopicName& topic, const QByteArray& payload, quint16 id = 0, quint8 qos = 0, bool retain = false);

    MqttTopicName topic() const { return m_topic; }
    QByteArray payload() const { return m_payload; }
    quint16 id() const { return m_id; }
    quint8 qos() const { return m_qos; }
    bool retain() const { return m_retain; }

private:
    MqttTopicName m_topic;
    QByteArray m_payload;
    quint16 m_id = 0;
    quint8 m_qos = 0;
    bool m_retain = false;
};

Q_DECLARE_METATYPE(MqttMessage)
