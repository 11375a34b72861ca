#pragma once
// The simulated card dispenser service: moves cards between cartridge,
// reader position, mouth and bin, reports its sensors, and lets a simulated
// driver take the card from the mouth.

#include "DeviceService.h"

#include <QTimer>

class CardWorld;

class DispenserService : public DeviceService
{
    Q_OBJECT

public:
    // Codes of refused requests.
    enum Code {
        Jammed = 1,
        DoorOpen = 2,
        CartridgeEmpty = 3,
        NoCard = 4,
        MouthOccupied = 5,
        ReaderOccupied = 6,
        Inactive = 7,
        CardAlreadyInRfid = 14,
    };

    DispenserService(const QString& root, MqttLink& link, FaultPlan& faults, Journal& journal, CardWorld& world,
        const QString& model, int autoTakeMs, QObject* parent = nullptr);

    // The driver takes the card from the mouth: status, then card/removed. False without a card there.
    bool takeCard();
    // A card pushed into the mouth from outside; drawn in at once while accepting is enabled.
    bool insertCard(const QString& uid, int type);
    // After each eject, the card is taken after ms; below 0 never.
    void setAutoTakeMs(int ms) { m_autoTakeMs = ms; }
    // Control: {"jammed", "doorOpen", "active", "offline"}, each optional.
    bool control(const QJsonObject& command, QString* error);
    QJsonObject toJson() const;

protected:
    Outcome handleRequest(const QString& path, const QJsonObject& params) override;
    void handlePlain(const QString& path, const QByteArray& payload) override;
    QJsonObject info() const override;
    QJsonObject deviceStatus() const override;
    QJsonObject errorObject(int code, const QString& text) const override;

private:
    Outcome issue();
    Outcome eject();
    Outcome accept();
    Outcome dispose();
    Outcome collect();
    QString cartridgeLevel() const;
    int cartridgePercent() const;

    CardWorld& m_world;
    QString m_model;
    int m_autoTakeMs;
    bool m_jammed = false;
    bool m_doorOpen = false;
    bool m_active = true;
    bool m_acceptEnabled = false;
    QJsonObject m_leds;
};
