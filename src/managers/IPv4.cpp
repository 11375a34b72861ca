#include "IPv4.h"

IPv4::IPv4(QObject* parent)
    : QObject(parent)
{
}

bool IPv4::assign(const QString& key, const QString& value)
{
    QVariant& entry = m_map[key];
    if (entry.toString() == value)
        return false;
    entry = value;
    return true;
}

void IPv4::setAddress(const QString& address)
{
    if (assign(QStringLiteral("address"), address))
        emit addressChanged();
}

void IPv4::setMask(const QString& mask)
{
    if (assign(QStringLiteral("netmask"), mask))
        emit maskChanged();
}

void IPv4::setGateway(const QString& gateway)
{
    if (assign(QStringLiteral("gateway"), gateway))
        emit gatewayChanged();
}

void IPv4::setDns0(const QString& dns)
{
    if (assign(QStringLiteral("dns0"), dns))
        emit dns0Changed();
}

void IPv4::setDns1(const QString& dns)
{
    if (assign(QStringLiteral("dns1"), dns))
        emit dns1Changed();
}

void IPv4::fromMap(const QVariantMap& map)
{
    setAddress(map.value(QStringLiteral("address")).toString());
    setMask(map.value(QStringLiteral("netmask")).toString());
    setGateway(map.value(QStringLiteral("gateway")).toString());
    setDns0(map.value(QStringLiteral("dns0")).toString());
    setDns1(map.value(QStringLiteral("dns1")).toString());
}
