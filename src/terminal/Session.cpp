#include "Session.h"
#include "ValueUpdate.h"

Session::Session(QObject* parent)
    : QObject(parent)
{
}

QVariantMap Session::emptyReadings()
{
    return { { QStringLiteral("Front"), QString() }, { QStringLiteral("Rear"), QString() } };
}

void Session::setResult(bool result)
{
    if (assignIfChanged(m_result, result))
        emit resultChanged();
}

void Session::setError(const QString& error)
{
    if (assignIfChanged(m_error, error))
        emit errorChanged();
}

void Session::setStart(const QDateTime& start)
{
    if (assignIfChanged(m_start, start))
        emit startChanged();
}

void Session::setEnd(const QDateTime& end)
{
    if (assignIfChanged(m_end, end))
        emit endChanged();
}

void Session::setUuid(const QString& uuid)
{
    if (assignIfChanged(m_uuid, uuid))
        emit uuidChanged();
}

void Session::setType(const QString& type)
{
    if (assignIfChanged(m_type, type))
        emit typeChanged();
}

void Session::setDeviceId(const QString& deviceId)
{
    if (assignIfChanged(m_deviceId, deviceId))
        emit deviceIdChanged();
}

void Session::setCustomsId(const QString& customsId)
{
    if (assignIfChanged(m_customsId, customsId))
        emit customsIdChanged();
}

void Session::setLocationId(const QString& locationId)
{
    if (assignIfChanged(m_locationId, locationId))
        emit locationIdChanged();
}

void Session::setReadings(const QVariantMap& readings)
{
    if (assignIfChanged(m_readings, readings))
        emit readingsChanged();
}

void Session::setCardId(const QString& cardId)
{
    if (assignIfChanged(m_cardId, cardId))
        emit cardIdChanged();
}

void Session::setCardReturned(bool cardReturned)
{
    if (assignIfChanged(m_cardReturned, cardReturned))
        emit cardReturnedChanged();
}

void Session::setButtonPressed(bool buttonPressed)
{
    if (assignIfChanged(m_buttonPressed, buttonPressed))
        emit buttonPressedChanged();
}
