#pragma once
// Model of the exit barrier (boom plus two loops of its own): state, reason,
// open flag and loop flags decoded from the controller's status and loop
// words. No controller link exists yet, so the model rests in Init.

#include "Deferred.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <cstdint>

class Config;

namespace manager {

class Barrier : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString manufacturer READ manufacturer NOTIFY manufacturerChanged)
    Q_PROPERTY(QString model READ model NOTIFY modelChanged)
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString reason READ reason NOTIFY stateChanged)
    Q_PROPERTY(bool isOpen READ isOpen NOTIFY isOpenChanged)
    Q_PROPERTY(bool loopA READ loopA NOTIFY loopAChanged)
    Q_PROPERTY(bool loopB READ loopB NOTIFY loopBChanged)

public:
    enum State { Init = 0, Busy = 1, Ready = 2, Error = 3 };
    Q_ENUM(State)

    explicit Barrier(Config& config, QObject* parent = nullptr);

    static QString stateToStr(int state);

    QString manufacturer() const { return QStringLiteral("Magnetic"); }
    QString model() const { return QStringLiteral("MGC(MicroDrive)"); }
    State state() const { return m_state; }
    const QString& reason() const { return m_reason; }
    bool isOpen() const { return m_isOpen; }
    bool loopA() const { return m_loopA & 0x1; }
    bool loopB() const { return m_loopB & 0x1; }
    // True while the controller is working: Busy or Ready.
    bool active() const { return m_state == Busy || m_state == Ready; }

    // Nothing is sent to a controller: the result is already resolved.
    Deferred<> open();

    // Decoders of the controller's words.
    void setStatus(std::uint32_t word);
    void setLoopA(std::uint16_t word);
    void setLoopB(std::uint16_t word);

    void onConfigChanged(const QVariantMap& changes);
    static QUrl parseUrl(const QString& text);

signals:
    void manufacturerChanged();
    void modelChanged();
    void stateChanged();
    void isOpenChanged();
    void loopAChanged();
    void loopBChanged();
    void barrierOpened();
    void barrierClosed();

private:
    void setState(State state, const QString& reason);
    void setIsOpen(bool open);
    void setLoop(std::uint16_t& stored, std::uint16_t word, char name, void (Barrier::*changed)());
    // The controller link is not there: set-up, timers and polling do nothing.
    void initTimers() { }
    void initClient() { }
    void readStatus() { }

    Config& m_config;
    State m_state = Init;
    QString m_reason;
    bool m_isOpen = false;
    std::uint32_t m_status = 0;
    std::uint16_t m_loopA = 0;
    std::uint16_t m_loopB = 0;
    QTimer m_pollTimer;
    QTimer m_timeoutTimer;
};

} // namespace manager
