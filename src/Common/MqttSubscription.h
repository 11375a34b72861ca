#pragma once
// One active subscription of a MosquittoClient to a topic filter. Shared by
// every user of the same filter; the client counts the users and only sends
// UNSUBSCRIBE when the last one lets go.

#include "MqttMessage.h"
#include "MqttTopicFilter.h"

#include <QObject>

class MosquittoClient;

class MqttSubscription : public QObject
{
    Q_OBJECT
public:
    enum SubscriptionState { Unsubscribed = 0, SubscriptionPending, Subscribed, UnsubscriptionPending, Error };
    Q_ENUM(SubscriptionState)

    MqttTopicFilter topic() const { return m_topic; }
    // The QoS granted by the broker once Subscribed, the requested one before.
    quint8 qos() const { return m_qos; }
    SubscriptionState state() const { return m_state; }
    // Number of subscribe calls on this filter not yet matched by an unsubscribe.
    int users() const { return m_users; }

    // Gives up one use of the filter (same as MosquittoClient::unsubscribe).
    void unsubscribe();

signals:
    void stateChanged(MqttSubscription::SubscriptionState state);
    void messageReceived(const MqttMessage& message);

private:
    friend class MosquittoClient;
    MqttSubscription(const MqttTopicFilter& topic, quint8 qos, MosquittoClient* client);
    void setState(SubscriptionState state);

    MosquittoClient* m_client;
    MqttTopicFilter m_topic;
    quint8 m_qos;
    SubscriptionState m_state = Unsubscribed;
    int m_users = 0;
};
