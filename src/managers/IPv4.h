#pragma once
// One set of IPv4 settings (address, netmask, gateway, two DNS servers) kept as
// a map, as the network service reports and takes them.

#include <QObject>
#include <QString>
#include <QVariantMap>

class IPv4 : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString address READ address WRITE setAddress NOTIFY addressChanged)
    Q_PROPERTY(QString gateway READ gateway WRITE setGateway NOTIFY gatewayChanged)
    Q_PROPERTY(QString mask READ mask WRITE setMask NOTIFY maskChanged)
    Q_PROPERTY(QString dns0 READ dns0 WRITE setDns0 NOTIFY dns0Changed)
    Q_PROPERTY(QString dns1 READ dns1 WRITE setDns1 NOTIFY dns1Changed)
public:
    explicit IPv4(QObject* parent = nullptr);

    QString address() const { return text(QStringLiteral("address")); }
    QString mask() const { return text(QStringLiteral("netmask")); }
    QString gateway() const { return text(QStringLiteral("gateway")); }
    QString dns0() const { return text(QStringLiteral("dns0")); }
    QString dns1() const { return text(QStringLiteral("dns1")); }

    void setAddress(const QString& address);
    void setMask(const QString& mask);
    void setGateway(const QString& gateway);
    void setDns0(const QString& dns);
    void setDns1(const QString& dns);

    const QVariantMap& toMap() const { return m_map; }
    // Applies the five settings of map (absent ones as empty text); other keys are not kept.
    void fromMap(const QVariantMap& map);

signals:
    void addressChanged();
    void maskChanged();
    void gatewayChanged();
    void dns0Changed();
    void dns1Changed();

private:
    QString text(const QString& key) const { return m_map.value(key).toString(); }
    // True when the entry changed; a first look adds the key with a null value.
    bool assign(const QString& key, const QString& value);

    QVariantMap m_map;
};
