#include "ScreenLogic.h"

#include "Config.h"
#include "PeerText.h"

#include <QCoreApplication>
#include <QDebug>

#include <limits>

namespace {

const QString kBusy = QStringLiteral("Busy");
const QString kLogin = QStringLiteral("Login");
const QString kOutOfOrder = QStringLiteral("OutOfOrder");

QString translated(const char* text)
{
    return QCoreApplication::translate("QObject", text);
}

} // namespace

ScreenLogic::ScreenLogic(Config& config, const Context& context, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_context(context)
{
    m_screenTimer.setSingleShot(true);
    m_displayOffTimer.setSingleShot(true);
    connect(&m_screenTimer, &QTimer::timeout, this, &ScreenLogic::onScreenTimeout);
    connect(&m_displayOffTimer, &QTimer::timeout, this, &ScreenLogic::onDisplayOffTimeout);
    connect(this, &ScreenLogic::screenChanged, this, &ScreenLogic::updateDisplayOff);
}

void ScreenLogic::setScreen(const QString& name)
{
    if (name == m_screen)
        return;
    qInfo().noquote() << "[GUIManager] Setting screen : " + name;
    m_screen = name;
    m_screenTimer.stop();
    emit screenChanged();
}

void ScreenLogic::setScreen(const QString& name, int timeoutMsec)
{
    // A screen with a time-out belongs to a passage or a power action. Shown over the settings it
    // ends the maintenance session, so that its end brings the rest screen for the next driver
    // rather than leaving it standing until the session runs out.
    if (maintenance() && m_context.endMaintenance && !m_takingOver) {
        qInfo().noquote() << "[GUIManager] Screen " + name + " ends the maintenance session";
        m_takingOver = true;
        m_context.endMaintenance();
        m_takingOver = false;
    }
    qInfo().noquote()
        << QStringLiteral("[GUIManager] Setting screen : %1 (timeout=%2 msec)").arg(name).arg(timeoutMsec);
    m_screenMsec = timeoutMsec;
    m_screenTimer.start(scaled(timeoutMsec));
    m_screen = name;
    emit screenChanged();
}

void ScreenLogic::setMessage(const QString& text)
{
    if (text == m_message)
        return;
    m_message = text;
    emit messageChanged();
}

void ScreenLogic::setIdleScreen()
{
    m_screenTimer.stop();
    if (m_takingOver || maintenance())
        return;
    switch (m_context.state ? m_context.state() : LaneState::Init) {
    case LaneState::Init:
        setScreen(kBusy, 30000);
        break;
    case LaneState::Ready:
        setScreen(m_context.type && m_context.type() == QLatin1String("CARD_VENDING_MACHINE")
                ? QStringLiteral("DispenseScreen")
                : QStringLiteral("CollectScreen"));
        break;
    case LaneState::Error:
        if (m_screen != kLogin)
            setScreen(kOutOfOrder);
        break;
    case LaneState::Busy:
    case LaneState::Stopped:
        break;
    }
}

void ScreenLogic::setOutOfOrderScreen(const QString& message)
{
    if (m_screen == kLogin || maintenance())
        return;
    setScreen(kOutOfOrder);
    setMessage(message);
}

void ScreenLogic::setMaintenanceScreen()
{
    if (maintenance())
        setScreen(QStringLiteral("Settings"));
    else if (m_screen == kLogin)
        setIdleScreen();
    else
        setScreen(kLogin, 15000);
}

void ScreenLogic::sessionStarted(bool buttonPressed)
{
    qWarning().noquote() << "[GUIManager] --------- onTerminalSessionStarted: button pressed"
                         << (buttonPressed ? "true" : "false");
    if (!buttonPressed)
        return;
    setMessage(translated("Please Wait"));
    setScreen(kBusy, 30000);
}

void ScreenLogic::sessionWaitCardCollect()
{
    qWarning().noquote() << "[GUIManager] --- onTerminalSessionWaitCollect";
    setMessage(translated("Please collect your card"));
    setScreen(QStringLiteral("Success"), 60000);
}

void ScreenLogic::sessionFinished(bool success, const QString& error)
{
    qWarning().noquote() << "[GUIManager] --------- onTerminalSessionFinisehed : result = "
            + QString(success ? "true" : "false") + "  error = " + PeerText::forLog(error);
    if (success) {
        setMessage(translated("Please collect your card"));
        setScreen(QStringLiteral("Success"), 60000);
    } else {
        showError(error);
    }
}

void ScreenLogic::sessionReset()
{
    qWarning().noquote() << "[GUIManager] --- onTerminalSessionReset";
    setIdleScreen();
}

void ScreenLogic::disconnected()
{
    qWarning().noquote() << "[GUIManager] WARN: Disconnected from MQTT broker";
    setOutOfOrderScreen(QStringLiteral("Disconnected"));
}

void ScreenLogic::showBusy(const QString& message)
{
    setMessage(message);
    setScreen(kBusy, 30000);
}

void ScreenLogic::showError(const QString& message)
{
    setMessage(message);
    setScreen(QStringLiteral("ErrorScreen"), 30000);
}

int ScreenLogic::screenTimeout() const
{
    return m_screenTimer.isActive() ? m_screenMsec : -1;
}

int ScreenLogic::displayOffTimeout() const
{
    return m_displayOffTimer.isActive() ? m_displayOffMsec : -1;
}

int ScreenLogic::displayOffMsec(qint64 minutes)
{
    if (minutes <= 0)
        return 0;
    const qint64 limit = std::numeric_limits<int>::max();
    return minutes > limit / 60000 ? int(limit) : int(minutes * 60000);
}

void ScreenLogic::onScreenTimeout()
{
    qInfo().noquote() << "[GUIManager] Screen timeout : " + m_screen;
    setIdleScreen();
}

void ScreenLogic::updateDisplayOff()
{
    const qint64 minutes = m_config.get(QStringLiteral("gui/displayOffMin")).toLongLong();
    const int msec = displayOffMsec(minutes);
    if (msec == 0)
        return;
    if (m_screen == kOutOfOrder || m_screen == QLatin1String("OutOfService")) {
        qInfo().noquote() << QStringLiteral("[GUIManager] Staring Display OFF timer : %1 min(s)").arg(minutes);
        m_displayOffMsec = msec;
        m_displayOffTimer.start(scaled(msec));
    } else if (m_displayOffTimer.isActive()) {
        qInfo().noquote() << "[GUIManager] Stopping Display OFF timer.";
        m_displayOffTimer.stop();
    }
}

void ScreenLogic::onDisplayOffTimeout()
{
    qWarning().noquote() << "[GUIManager] WARN: Turning off Display due to inactivity.";
}
