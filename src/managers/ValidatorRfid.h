#pragma once
// Read-only status model of a validator's RFID reader and the SAMs in its slots,
// fed with the reader's info and status JSON, for QML bindings.

#include "SAM.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class ValidatorRfid : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool active READ active NOTIFY activeChanged)
    Q_PROPERTY(bool enabled READ enabled NOTIFY enabledChanged)
    Q_PROPERTY(int numberOfSlots READ numberOfSlots NOTIFY numberOfSlotsChanged)
    // One flag per slot, in slot order; replaced as a whole with every status.
    Q_PROPERTY(QList<bool> slotStates READ slotStates NOTIFY numberOfSlotsChanged)
    Q_PROPERTY(QString state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    Q_PROPERTY(QString firmware READ firmware NOTIFY firmwareChanged)
    Q_PROPERTY(QString version READ version NOTIFY versionChanged)
    Q_PROPERTY(QString manufacturer READ manufacturer NOTIFY manufacturerChanged)
    Q_PROPERTY(QString model READ model NOTIFY modelChanged)
    Q_PROPERTY(QString deviceUid READ deviceUid NOTIFY deviceUidChanged)
    Q_PROPERTY(SAM* sam READ sam NOTIFY samChanged)

public:
    explicit ValidatorRfid(QObject* parent = nullptr);

    bool active() const { return m_active; }
    bool enabled() const;
    int numberOfSlots() const { return m_slotStates.size(); }
    QList<bool> slotStates() const { return m_slotStates; }
    QString state() const { return m_state; }
    QString error() const { return m_error; }
    QString firmware() const { return m_firmware; }
    QString version() const { return m_version; }
    QString manufacturer() const { return m_manufacturer; }
    QString model() const { return m_model; }
    QString deviceUid() const { return m_deviceUid; }
    // The first module, null when there is none.
    SAM* sam() const;
    QList<SAM*> sams() const { return m_sams; }

    void setActive(bool active);
    void setFirmware(const QString& firmware);
    void setVersion(const QString& version);
    void setManufacturer(const QString& manufacturer);
    void setModel(const QString& model);
    void setDeviceUid(const QString& deviceUid);
    void setError(const QString& error);
    void setState(const QString& state);
    void setSlots(const QJsonArray& slotStates);
    // Replaces every module; the old ones are deleted from the event loop.
    void setSams(const QJsonArray& sams);

    void parseInfo(const QJsonObject& object);
    void parseStatus(const QJsonObject& object);
    // Applies an info object (with "firmware"), a status object (with "state"), or both.
    ValidatorRfid* fromJson(const QJsonObject& object);

    static QString mapState(int state);

signals:
    void activeChanged();
    void enabledChanged();
    void numberOfSlotsChanged();
    void stateChanged();
    void errorChanged();
    void firmwareChanged();
    void versionChanged();
    void manufacturerChanged();
    void modelChanged();
    void deviceUidChanged();
    void samChanged();

private:
    bool m_active = false;
    QString m_firmware;
    QString m_version;
    QString m_manufacturer;
    QString m_model;
    QString m_deviceUid;
    QString m_error;
    QString m_state;
    QList<bool> m_slotStates;
    QList<SAM*> m_sams;
};
