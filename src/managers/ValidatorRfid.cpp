#include "ValidatorRfid.h"

#include "ValueUpdate.h"

#include <QHash>
#include <QJsonValue>

ValidatorRfid::ValidatorRfid(QObject* parent)
    : QObject(parent)
{
}

bool ValidatorRfid::enabled() const
{
    return m_state == QLatin1String("Searching") || m_state == QLatin1String("CardFound");
}

SAM* ValidatorRfid::sam() const
{
    return m_sams.isEmpty() ? nullptr : m_sams.first();
}

void ValidatorRfid::setActive(bool active)
{
    if (assignIfChanged(m_active, active))
        emit activeChanged();
}

void ValidatorRfid::setFirmware(const QString& firmware)
{
    if (assignIfChanged(m_firmware, firmware))
        emit firmwareChanged();
}

void ValidatorRfid::setVersion(const QString& version)
{
    if (assignIfChanged(m_version, version))
        emit versionChanged();
}

void ValidatorRfid::setManufacturer(const QString& manufacturer)
{
    if (assignIfChanged(m_manufacturer, manufacturer))
        emit manufacturerChanged();
}

void ValidatorRfid::setModel(const QString& model)
{
    if (assignIfChanged(m_model, model))
        emit modelChanged();
}

void ValidatorRfid::setDeviceUid(const QString& deviceUid)
{
    if (assignIfChanged(m_deviceUid, deviceUid))
        emit deviceUidChanged();
}

void ValidatorRfid::setError(const QString& error)
{
    if (assignIfChanged(m_error, error))
        emit errorChanged();
}

void ValidatorRfid::setState(const QString& state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
    emit enabledChanged();
}

void ValidatorRfid::setSlots(const QJsonArray& slotStates)
{
    m_slotStates.clear();
    for (const QJsonValue& v : slotStates)
        m_slotStates.append(v.toBool(false));
    emit numberOfSlotsChanged();
}

void ValidatorRfid::setSams(const QJsonArray& sams)
{
    // Deleted later: a QML binding may still be reading the old module.
    for (SAM* old : qAsConst(m_sams))
        old->deleteLater();
    m_sams.clear();
    for (const QJsonValue& v : sams)
        m_sams.append(new SAM(v.toObject(), this));
    emit samChanged();
}

void ValidatorRfid::parseInfo(const QJsonObject& object)
{
    setFirmware(object.value(QLatin1String("firmware")).toString());
    setModel(object.value(QLatin1String("model")).toString());
    setManufacturer(object.value(QLatin1String("manufacturer")).toString());
    setDeviceUid(object.value(QLatin1String("uid")).toString());
}

void ValidatorRfid::parseStatus(const QJsonObject& object)
{
    setActive(object.value(QLatin1String("active")).toBool(false));
    setError(object.value(QLatin1String("error")).toString());
    setState(mapState(object.value(QLatin1String("state")).toInt(0)));
    setSlots(object.value(QLatin1String("slots")).toArray());
    setSams(object.value(QLatin1String("sams")).toArray());
}

ValidatorRfid* ValidatorRfid::fromJson(const QJsonObject& object)
{
    if (object.contains(QLatin1String("firmware")))
        parseInfo(object);
    if (object.contains(QLatin1String("state")))
        parseStatus(object);
    return this;
}

QString ValidatorRfid::mapState(int state)
{
    static const QHash<int, QString> names {
        { 0, QStringLiteral("Init") },
        { 1, QStringLiteral("Idle") },
        { 2, QStringLiteral("Searching") },
        { 3, QStringLiteral("CardFound") },
        { 4, QStringLiteral("Updating") },
        { 5, QStringLiteral("Error") },
    };
    return names.value(state, QStringLiteral("Unknown"));
}
