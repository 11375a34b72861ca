#include "MqttSubscription.h"

#include "MosquittoClient.h"

MqttSubscription::MqttSubscription(const MqttTopicFilter& topic, quint8 qos, MosquittoClient* client)
    : QObject(client)
    , m_client(client)
    , m_topic(topic)
    , m_qos(qos)
{
}

void MqttSubscription::unsubscribe()
{
    if (m_state == SubscriptionPending || m_state == Subscribed)
        m_client->unsubscribe(m_topic);
}

void MqttSubscription::setState(SubscriptionState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}
