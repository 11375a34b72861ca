#include "Barrier.h"
#include "Config.h"
#include "ValueUpdate.h"

#include <QDebug>
#include <QHash>

namespace manager {

namespace {
QDebug info()
{
    return qInfo().noquote().nospace() << "[Barrier] ";
}

constexpr std::uint32_t kReady = 0x1;
constexpr std::uint32_t kErrorPresent = 0x2;
constexpr std::uint32_t kNoHoming = 0x4;
constexpr std::uint32_t kOverTemperature = 0x10;
constexpr std::uint32_t kClosed = 0x100000;
constexpr std::uint32_t kClosing = 0x200000;
constexpr std::uint32_t kOpening = 0x400000;
constexpr std::uint32_t kOpen = 0x800000;

constexpr std::uint16_t kVehicle = 0x1;
constexpr std::uint16_t kShortCircuit = 0x1000;
constexpr std::uint16_t kLoopError = 0x8000;
} // namespace

Barrier::Barrier(Config& config, QObject* parent)
    : QObject(parent)
    , m_config(config)
{
    // Kept for the controller link, which reads the barrier group.
    Q_UNUSED(m_config)
    initTimers();
    setState(Init, QStringLiteral("Disconnected"));
}

QString Barrier::stateToStr(int state)
{
    static const QHash<int, QString> names { { Init, QStringLiteral("Init") }, { Busy, QStringLiteral("Busy") },
        { Ready, QStringLiteral("Ready") }, { Error, QStringLiteral("Error") } };
    return names.value(state, QStringLiteral("Unknown"));
}

Deferred<> Barrier::open()
{
    Deferred<> result;
    result.resolve();
    return result;
}

void Barrier::setState(State state, const QString& reason)
{
    if (!assignStateIfChanged(m_state, m_reason, state, reason))
        return;
    info() << stateChangeText(state, stateToStr(state), reason);
    emit stateChanged();
}

void Barrier::setIsOpen(bool open)
{
    if (open == m_isOpen)
        return;
    m_isOpen = open;
    emit isOpenChanged();
    if (open)
        emit barrierOpened();
    else
        emit barrierClosed();
}

void Barrier::setStatus(std::uint32_t word)
{
    if (word == m_status)
        return;
    m_status = word;
    const std::uint32_t angle = word >> 24;
    if (word & kReady)
        setState(Ready, QString());
    if (word & kErrorPresent)
        setState(Error, QStringLiteral("Error present"));
    if (word & kNoHoming)
        setState(Error, QStringLiteral("Homing not performed"));
    if (word & kOverTemperature)
        setState(Error, QStringLiteral("Control temperature exceeded"));
    if (word & kClosed)
        setIsOpen(false);
    if (word & kClosing) {
        setState(Busy, QStringLiteral("Closing"));
        info() << QStringLiteral("Boom is closing : %1 degrees").arg(angle);
    }
    if (word & kOpening) {
        setState(Busy, QStringLiteral("Opening"));
        info() << QStringLiteral("Boom is opening : %1 degrees").arg(angle);
    }
    if (word & kOpen)
        setIsOpen(true);
}

void Barrier::setLoopA(std::uint16_t word)
{
    if (word == m_loopA)
        return;
    info() << "Loop A changed : " << QString::number(word, 16);
    setLoop(m_loopA, word, 'A', &Barrier::loopAChanged);
}

void Barrier::setLoopB(std::uint16_t word)
{
    if (word == m_loopB)
        return;
    setLoop(m_loopB, word, 'B', &Barrier::loopBChanged);
}

void Barrier::setLoop(std::uint16_t& stored, std::uint16_t word, char name, void (Barrier::*changed)())
{
    const bool vehicleChanged = (stored ^ word) & kVehicle;
    stored = word;
    if (vehicleChanged)
        emit(this->*changed)();
    if (word & kShortCircuit)
        setState(Error, QStringLiteral("Loop %1 short-circuit").arg(QLatin1Char(name)));
    if (word & kLoopError)
        setState(Error, QStringLiteral("Loop %1 error").arg(QLatin1Char(name)));
}

void Barrier::onConfigChanged(const QVariantMap& changes)
{
    if (!Config::contains(changes, QStringLiteral("barrier\\/.+")))
        return;
    qWarning().noquote().nospace() << "[Barrier] "
                                   << "WARN: Configuration changed. Applying.";
    initClient();
}

QUrl Barrier::parseUrl(const QString& text)
{
    return QUrl(text.contains(QStringLiteral("//")) ? text : QStringLiteral("tcp://") + text);
}

} // namespace manager
