#pragma once
// What the back-office client reads of the terminal: identities, uptime, the device
// status for the heartbeat, and the software-update client it drives. The terminal
// implements it; a class that also emits updateProgress(QString, int) as a QObject
// has its progress reports relayed to the back office.

#include <QString>
#include <QVariantMap>

namespace Backend {

class TerminalInfo
{
public:
    struct DeviceStatus
    {
        bool rfidActive = false;
        QString rfidError;
        bool dispenserActive = false;
        QString cartridge; // the dispenser's cartridge level text, empty before its first status
        bool barrierActive = false;
        QString barrierReason;
        bool ntpSynced = false;
    };

    struct SoftwareStatus
    {
        QString current; // installed version
        QString pending; // version ready to install
        QString status; // the update service's status text, such as "Downloading"
    };

    virtual ~TerminalInfo() = default;

    virtual QString serialNum() const = 0;
    virtual QString customsId() const = 0;
    virtual QString locationId() const = 0;
    virtual QString type() const = 0;
    virtual int uptime() const = 0;
    virtual DeviceStatus deviceStatus() const = 0;
    // The Ethernet settings with the keys "address", "netmask", "gateway", "dns0", "dns1".
    virtual QVariantMap ipv4() const = 0;
    virtual SoftwareStatus softwareStatus() const = 0;
    virtual void triggerUpdate(const QString& version, const QString& url, const QString& md5) = 0;
};

} // namespace Backend
