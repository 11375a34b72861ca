#include "SAM.h"

#include <QJsonValue>

namespace {

template<class T, class Signal> void update(SAM* sam, T& field, const T& value, Signal signal)
{
    if (field == value)
        return;
    field = value;
    emit(sam->*signal)();
}

} // namespace

SAM::SAM(QObject* parent)
    : QObject(parent)
{
}

SAM::SAM(const QJsonObject& object, QObject* parent)
    : QObject(parent)
{
    fromJson(object);
}

SAM* SAM::fromJson(const QJsonObject& object)
{
    update(this, m_slot, object.value(QLatin1String("slot")).toInt(0), &SAM::slotChanged);
    update(this, m_enabled, object.value(QLatin1String("enabled")).toBool(false), &SAM::enabledChanged);
    update(this, m_unlocked, object.value(QLatin1String("unlocked")).toBool(false), &SAM::unlockedChanged);
    update(this, m_atr, object.value(QLatin1String("atr")).toString(), &SAM::atrChanged);
    update(this, m_batch, object.value(QLatin1String("batch")).toString(), &SAM::batchChanged);
    update(this, m_mode, object.value(QLatin1String("mode")).toString(), &SAM::modeChanged);
    update(this, m_name, object.value(QLatin1String("name")).toString(), &SAM::nameChanged);
    const QDate production
        = QDate::fromString(object.value(QLatin1String("production")).toString(), QStringLiteral("yyyy-MM-dd"));
    update(this, m_production, production, &SAM::productionChanged);
    update(this, m_uid, object.value(QLatin1String("uid")).toString(), &SAM::uidChanged);
    update(this, m_vendor, object.value(QLatin1String("vendor")).toString(), &SAM::vendorChanged);
    update(this, m_version, object.value(QLatin1String("version")).toString(), &SAM::versionChanged);
    return this;
}
