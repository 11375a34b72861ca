#include "MqttMessage.h"

MqttMessage::MqttMessage(const MqttTopicName& topic, const QByteArray& payload, quint16 id, quint8 qos, bool retain)
    : m_topic(topic)
    , m_payload(payload)
    , m_id(id)
    , m_qos(qos)
    , m_retain(retain)
{
}
