#pragma once
// Lane engine of a card-vending terminal: prepares a blank card while idle, opens
// a passage when a vehicle arrives or the button is pressed, collects the camera
// readings, waits for the button, issues the card, runs the barrier step and
// closes the passage.

#include "CardIssuer.h"
#include "Engine.h"

#include <QTimer>

#include <memory>

class IssueEngine : public Engine
{
    Q_OBJECT
public:
    IssueEngine(Terminal* terminal, QObject* parent = nullptr);
    ~IssueEngine() override;

public slots:
    void start() override;
    void stop() override;
    bool check(QString& reason) override;
    void simLoopPresent() override;
    void simButtonPressed() override;

private:
    void onStateChanged(State prev, State curr);
    void onVehiclePresent();
    void onVehicleLeft();
    void onButtonPressed();
    void onCardDisposed(Tag::Ptr card);
    void onCardCollected(Tag::Ptr card);
    void onIssuerStateChanged();

    void prepareCard();
    void collectData();
    void onReadings(const QMap<QString, QString>& readings);
    void requestEntry();
    void issueCard();
    void openBarrier();
    void ignore();

    // Cleared first on destruction: callbacks of the issuer and the cameras may
    // still run while the members go, and must then leave the engine alone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // Counts camera cycles: a result or guard of an earlier cycle is stale.
    int m_cycle = 0;
    bool m_issueInFlight = false;
    bool m_issuerFailed = false;
    QTimer m_dataGuard;
    QTimer m_permissionTimer;
    QTimer m_exitTimer;
    manager::CardIssuer m_issuer;
};
