#pragma once
// Client of the card dispenser service: mirrors its identity and sensors as
// properties, turns card events into signals, and offers the transport requests.

#include "Deferred.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

namespace manager {

class MqttClient;

class Dispenser : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString manufacturer READ manufacturer NOTIFY manufacturerChanged)
    Q_PROPERTY(QString model READ model NOTIFY modelChanged)
    Q_PROPERTY(QString firmware READ firmware NOTIFY firmwareChanged)
    Q_PROPERTY(QString software READ software NOTIFY softwareChanged)
    Q_PROPERTY(QString cartridge READ cartridge NOTIFY cartridgeChanged)
    Q_PROPERTY(bool active READ active NOTIFY activeChanged)
    Q_PROPERTY(bool isJammed READ isJammed NOTIFY isJammedChanged)
    Q_PROPERTY(bool isDoorOpen READ isDoorOpen NOTIFY isDoorOpenChanged)
    Q_PROPERTY(bool cardInMouth READ cardInMouth NOTIFY cardInMouthChanged)
    Q_PROPERTY(bool cardInRfid READ cardInRfid NOTIFY cardInRfidChanged)
    Q_PROPERTY(int cartridgePercent READ cartridgePercent NOTIFY cartridgePercentChanged)
public:
    // Outcome of one dispenser call: 0 on success, the service's code on a
    // refusal, -1 when the call did not get through; and a description.
    struct Result
    {
        int code = 0;
        QString description;
    };

    Dispenser(MqttClient& mqtt, const QString& baseTopic, QObject* parent = nullptr);
    ~Dispenser() override;

    const QString& manufacturer() const { return m_manufacturer; }
    const QString& model() const { return m_model; }
    const QString& firmware() const { return m_firmware; }
    const QString& software() const { return m_software; }
    bool active() const { return m_active; }
    bool isJammed() const { return m_isJammed; }
    bool isDoorOpen() const { return m_isDoorOpen; }
    bool cardInMouth() const { return m_cardInMouth; }
    bool cardInRfid() const { return m_cardInRfid; }
    const QString& cartridge() const { return m_cartridge; }
    int cartridgePercent() const { return m_cartridgePercent; }

    void setManufacturer(const QString& manufacturer);
    void setModel(const QString& model);
    void setFirmware(const QString& firmware);
    void setSoftware(const QString& software);
    void setCartridge(const QString& cartridge);
    void setActive(bool active);
    void setIsJammed(bool jammed);
    void setIsDoorOpen(bool open);
    void setCardInMouth(bool inMouth);
    void setCardInRfid(bool inRfid);
    void setCartridgePercent(int percent);

    Deferred<Result> accept();
    Deferred<Result> issue();
    Deferred<Result> dispose();
    Deferred<Result> eject();
    Deferred<Result> collect();
    Deferred<Result> enableAccept();
    Deferred<Result> disableAccept();
    // Resolves when the card is taken from the mouth within the time-out.
    Deferred<Result> waitCollect(int seconds);
    // The collect time-out to use for a requested one: 0 or less would wait for ever with
    // the driver gone, so it becomes DefaultCollectTimeoutSec with a warning under the prefix.
    static int collectTimeoutSec(int requested, const char* logPrefix = "[Dispenser] ");
    static constexpr int DefaultCollectTimeoutSec = 60;
    // Bit 0 drives the red LED, bit 1 the green one.
    bool setLEDs(quint8 leds);

    // Time-out of every request; tests shorten it.
    void setRequestTimeout(int msec) { m_timeoutMs = msec; }
    int requestTimeout() const { return m_timeoutMs; }

signals:
    void manufacturerChanged();
    void modelChanged();
    void firmwareChanged();
    void softwareChanged();
    void activeChanged();
    void isJammedChanged();
    void isDoorOpenChanged();
    void cardInMouthChanged();
    void cardInRfidChanged();
    void cartridgeChanged();
    void cartridgePercentChanged();
    void sensorsChanged();
    void cardAccepted();
    void cardRemoved();
    void cardDisposed();

public slots:
    void onMqttReceived(const QByteArray& payload, const QString& topic);

private:
    void subscribeToTopics();
    void onInfoReceived(const QJsonObject& object, const QString& topic);
    void onStatusReceived(const QJsonObject& object, const QString& topic);
    QString nextRpcId();
    Deferred<Result> executeRpc(const QString& path, const QJsonObject& params, int timeoutMs);

    MqttClient& m_mqtt;
    const QString m_baseTopic;
    QString m_manufacturer;
    QString m_model;
    QString m_firmware;
    QString m_software;
    bool m_active = false;
    bool m_isJammed = false;
    bool m_isDoorOpen = false;
    bool m_cardInMouth = false;
    bool m_cardInRfid = false;
    QString m_cartridge;
    int m_cartridgePercent = 0;
    int m_requestCounter = 0;
    int m_timeoutMs;
};

} // namespace manager
