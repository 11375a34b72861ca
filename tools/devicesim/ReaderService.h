#pragma once
// The simulated RFID reader service: enable/disable, card detection after a
// configurable delay, create/read/write of the card on the reader position,
// and the reader's own faults (deaf, updating, error).

#include "DeviceService.h"

#include <QTimer>

class CardWorld;

class ReaderService : public DeviceService
{
    Q_OBJECT

public:
    enum State { Init = 0, Idle = 1, Searching = 2, CardFound = 3, Updating = 4, Error = 5 };
    enum class Mode { Ok, Updating, Error };

    ReaderService(const QString& root, MqttLink& link, FaultPlan& faults, Journal& journal, CardWorld& world,
        int detectDelayMs, QObject* parent = nullptr);

    State state() const;
    // Control: {"state": "ok|updating|error", "error": text, "deaf": bool, "offline": bool, "detectDelayMs": n}.
    bool control(const QJsonObject& command, QString* error);
    QJsonObject toJson() const;

protected:
    Outcome handleRequest(const QString& path, const QJsonObject& params) override;
    QJsonObject info() const override;
    QJsonObject deviceStatus() const override;
    QJsonObject errorObject(int code, const QString& text) const override;

private:
    Outcome enable(const QJsonObject& params);
    Outcome disable();
    Outcome createCard(const QJsonObject& params);
    Outcome readCard(const QJsonObject& params);
    Outcome writeCard(const QJsonObject& params);
    void onReaderCardChanged();
    void scheduleDetection();
    void detect();

    CardWorld& m_world;
    QTimer m_detectTimer;
    Mode m_mode = Mode::Ok;
    QString m_errorText;
    bool m_enabled = false;
    bool m_autoread = false;
    bool m_found = false;
    bool m_deaf = false;
    QString m_foundUid; // the uid reported in card/found, for card/removed
};
