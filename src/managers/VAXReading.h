#pragma once
// What one camera last reported: a plate or container-code recognition, or the
// camera's identity from a heartbeat. Every setter signals only on a change.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTime>

class VAXReading : public QObject
{
    Q_OBJECT
public:
    explicit VAXReading(QObject* parent = nullptr);

    // Resets the fields a trigger-data document fills, through the setters.
    void clearValues();

    const double& absConfidence() const { return m_absConfidence; }
    const double& absoluteBottom() const { return m_absoluteBottom; }
    const double& absoluteLeft() const { return m_absoluteLeft; }
    const double& absoluteRight() const { return m_absoluteRight; }
    const double& absoluteTop() const { return m_absoluteTop; }
    const double& charHeight() const { return m_charHeight; }
    const double& confidence() const { return m_confidence; }
    const double& latitude() const { return m_latitude; }
    const double& latitudeMin() const { return m_latitudeMin; }
    const double& longitude() const { return m_longitude; }
    const double& longitudeMin() const { return m_longitudeMin; }
    const double& processingTime() const { return m_processingTime; }
    const QDateTime& date() const { return m_date; }
    const QDateTime& localDate() const { return m_localDate; }
    const QDateTime& localDateYMD() const { return m_localDateYMD; }
    const QDateTime& utcDate() const { return m_utcDate; }
    const int& bottom() const { return m_bottom; }
    const int& buildNumber() const { return m_buildNumber; }
    const int& day() const { return m_day; }
    const int& direction() const { return m_direction; }
    const int& dWellTime() const { return m_dWellTime; }
    const int& height() const { return m_height; }
    const int& hour() const { return m_hour; }
    const int& left() const { return m_left; }
    const int& millisecond() const { return m_millisecond; }
    const int& minute() const { return m_minute; }
    const int& month() const { return m_month; }
    const int& multiPlate() const { return m_multiPlate; }
    const int& pending() const { return m_pending; }
    const int& right() const { return m_right; }
    const int& roiId() const { return m_roiId; }
    const int& second() const { return m_second; }
    const int& sha1() const { return m_sha1; }
    const int& signalEd() const { return m_signalEd; }
    const int& tag() const { return m_tag; }
    const int& top() const { return m_top; }
    const int& vehicleAbsSpeed() const { return m_vehicleAbsSpeed; }
    const int& vehicleAccess() const { return m_vehicleAccess; }
    const int& vehicleSpeed() const { return m_vehicleSpeed; }
    const int& width() const { return m_width; }
    const int& year() const { return m_year; }
    const qint64& jpegSize() const { return m_jpegSize; }
    const qint64& overviewJpegSize() const { return m_overviewJpegSize; }
    const qint64& plateJpegSize() const { return m_plateJpegSize; }
    const QList<int>& charConfidence() const { return m_charConfidence; }
    const QString& blacklist() const { return m_blacklist; }
    const QString& blacklistDescription() const { return m_blacklistDescription; }
    const QString& category() const { return m_category; }
    const QString& country() const { return m_country; }
    const QString& countryCode() const { return m_countryCode; }
    const QString& directionStr() const { return m_directionStr; }
    const QString& directionStr2() const { return m_directionStr2; }
    const QString& directionStr3() const { return m_directionStr3; }
    const QString& epoch() const { return m_epoch; }
    const QString& firmwareVersion() const { return m_firmwareVersion; }
    const QString& formatted() const { return m_formatted; }
    const QString& id() const { return m_id; }
    const QString& imageId() const { return m_imageId; }
    const QString& imagePath() const { return m_imagePath; }
    const QString& ip() const { return m_ip; }
    const QString& manufacturer() const { return m_manufacturer; }
    const QString& model() const { return m_model; }
    const QString& pid() const { return m_pid; }
    const QString& plate() const { return m_plate; }
    const QString& plateImagePath() const { return m_plateImagePath; }
    const QString& plateUtf8() const { return m_plateUtf8; }
    const QString& safeDate() const { return m_safeDate; }
    const QString& serial() const { return m_serial; }
    const QString& serialNumber() const { return m_serialNumber; }
    const QString& softwareVersion() const { return m_softwareVersion; }
    const QString& state() const { return m_state; }
    const QString& stateCode() const { return m_stateCode; }
    const QString& type() const { return m_type; }
    const QString& uuid() const { return m_uuid; }
    const QString& vehicleClass() const { return m_vehicleClass; }
    const QString& vehicleColor() const { return m_vehicleColor; }
    const QString& vehicleGenClass() const { return m_vehicleGenClass; }
    const QString& vehicleMake() const { return m_vehicleMake; }
    const QString& vehicleModel() const { return m_vehicleModel; }
    const QString& whitelist() const { return m_whitelist; }
    const QString& whitelistDescription() const { return m_whitelistDescription; }
    const QTime& localTime() const { return m_localTime; }
    const double& containerConfidence() const { return m_containerConfidence; }
    const int& containerProcessingTime() const { return m_containerProcessingTime; }
    const QDateTime& containerDate() const { return m_containerDate; }
    const QString& containerCode() const { return m_containerCode; }
    const QString& containerSizeCode() const { return m_containerSizeCode; }

    void setAbsConfidence(const double& value);
    void setAbsoluteBottom(const double& value);
    void setAbsoluteLeft(const double& value);
    void setAbsoluteRight(const double& value);
    void setAbsoluteTop(const double& value);
    void setCharHeight(const double& value);
    void setConfidence(const double& value);
    void setLatitude(const double& value);
    void setLatitudeMin(const double& value);
    void setLongitude(const double& value);
    void setLongitudeMin(const double& value);
    void setProcessingTime(const double& value);
    void setDate(const QDateTime& value);
    void setLocalDate(const QDateTime& value);
    void setLocalDateYMD(const QDateTime& value);
    void setUtcDate(const QDateTime& value);
    void setBottom(const int& value);
    void setBuildNumber(const int& value);
    void setDay(const int& value);
    void setDirection(const int& value);
    void setDWellTime(const int& value);
    void setHeight(const int& value);
    void setHour(const int& value);
    void setLeft(const int& value);
    void setMillisecond(const int& value);
    void setMinute(const int& value);
    void setMonth(const int& value);
    void setMultiPlate(const int& value);
    void setPending(const int& value);
    void setRight(const int& value);
    void setRoiId(const int& value);
    void setSecond(const int& value);
    void setSha1(const int& value);
    void setSignalEd(const int& value);
    void setTag(const int& value);
    void setTop(const int& value);
    void setVehicleAbsSpeed(const int& value);
    void setVehicleAccess(const int& value);
    void setVehicleSpeed(const int& value);
    void setWidth(const int& value);
    void setYear(const int& value);
    void setJpegSize(const qint64& value);
    void setOverviewJpegSize(const qint64& value);
    void setPlateJpegSize(const qint64& value);
    void setCharConfidence(const QList<int>& value);
    void setBlacklist(const QString& value);
    void setBlacklistDescription(const QString& value);
    void setCategory(const QString& value);
    void setCountry(const QString& value);
    void setCountryCode(const QString& value);
    void setDirectionStr(const QString& value);
    void setDirectionStr2(const QString& value);
    void setDirectionStr3(const QString& value);
    void setEpoch(const QString& value);
    void setFirmwareVersion(const QString& value);
    void setFormatted(const QString& value);
    void setId(const QString& value);
    void setImageId(const QString& value);
    void setImagePath(const QString& value);
    void setIp(const QString& value);
    void setManufacturer(const QString& value);
    void setModel(const QString& value);
    void setPid(const QString& value);
    void setPlate(const QString& value);
    void setPlateImagePath(const QString& value);
    void setPlateUtf8(const QString& value);
    void setSafeDate(const QString& value);
    void setSerial(const QString& value);
    void setSerialNumber(const QString& value);
    void setSoftwareVersion(const QString& value);
    void setState(const QString& value);
    void setStateCode(const QString& value);
    void setType(const QString& value);
    void setUuid(const QString& value);
    void setVehicleClass(const QString& value);
    void setVehicleColor(const QString& value);
    void setVehicleGenClass(const QString& value);
    void setVehicleMake(const QString& value);
    void setVehicleModel(const QString& value);
    void setWhitelist(const QString& value);
    void setWhitelistDescription(const QString& value);
    void setLocalTime(const QTime& value);
    void setContainerConfidence(const double& value);
    void setContainerProcessingTime(const int& value);
    void setContainerDate(const QDateTime& value);
    void setContainerCode(const QString& value);
    void setContainerSizeCode(const QString& value);

signals:
    void absConfidenceChanged();
    void absoluteBottomChanged();
    void absoluteLeftChanged();
    void absoluteRightChanged();
    void absoluteTopChanged();
    void charHeightChanged();
    void confidenceChanged();
    void latitudeChanged();
    void latitudeMinChanged();
    void longitudeChanged();
    void longitudeMinChanged();
    void processingTimeChanged();
    void dateChanged();
    void localDateChanged();
    void localDateYMDChanged();
    void utcDateChanged();
    void bottomChanged();
    void buildNumberChanged();
    void dayChanged();
    void directionChanged();
    void dWellTimeChanged();
    void heightChanged();
    void hourChanged();
    void leftChanged();
    void millisecondChanged();
    void minuteChanged();
    void monthChanged();
    void multiPlateChanged();
    void pendingChanged();
    void rightChanged();
    void roiIdChanged();
    void secondChanged();
    void sha1Changed();
    void signalEdChanged();
    void tagChanged();
    void topChanged();
    void vehicleAbsSpeedChanged();
    void vehicleAccessChanged();
    void vehicleSpeedChanged();
    void widthChanged();
    void yearChanged();
    void jpegSizeChanged();
    void overviewJpegSizeChanged();
    void plateJpegSizeChanged();
    void charConfidenceChanged();
    void blacklistChanged();
    void blacklistDescriptionChanged();
    void categoryChanged();
    void countryChanged();
    void countryCodeChanged();
    void directionStrChanged();
    void directionStr2Changed();
    void directionStr3Changed();
    void epochChanged();
    void firmwareVersionChanged();
    void formattedChanged();
    void idChanged();
    void imageIdChanged();
    void imagePathChanged();
    void ipChanged();
    void manufacturerChanged();
    void modelChanged();
    void pidChanged();
    void plateChanged();
    void plateImagePathChanged();
    void plateUtf8Changed();
    void safeDateChanged();
    void serialChanged();
    void serialNumberChanged();
    void softwareVersionChanged();
    void stateChanged();
    void stateCodeChanged();
    void typeChanged();
    void uuidChanged();
    void vehicleClassChanged();
    void vehicleColorChanged();
    void vehicleGenClassChanged();
    void vehicleMakeChanged();
    void vehicleModelChanged();
    void whitelistChanged();
    void whitelistDescriptionChanged();
    void localTimeChanged();
    void containerConfidenceChanged();
    void containerProcessingTimeChanged();
    void containerDateChanged();
    void containerCodeChanged();
    void containerSizeCodeChanged();

private:
    double m_absConfidence = -1.0;
    double m_absoluteBottom = -1.0;
    double m_absoluteLeft = -1.0;
    double m_absoluteRight = -1.0;
    double m_absoluteTop = -1.0;
    double m_charHeight = -1.0;
    double m_confidence = -1.0;
    double m_latitude = 0.0;
    double m_latitudeMin = 0.0;
    double m_longitude = 0.0;
    double m_longitudeMin = 0.0;
    double m_processingTime = -1.0;
    QDateTime m_date;
    QDateTime m_localDate;
    QDateTime m_localDateYMD;
    QDateTime m_utcDate;
    int m_bottom = -1;
    int m_buildNumber = -1;
    int m_day = -1;
    int m_direction = -1;
    int m_dWellTime = -1;
    int m_height = -1;
    int m_hour = -1;
    int m_left = -1;
    int m_millisecond = -1;
    int m_minute = -1;
    int m_month = -1;
    int m_multiPlate = -1;
    int m_pending = -1;
    int m_right = -1;
    int m_roiId = -1;
    int m_second = -1;
    int m_sha1 = -1;
    int m_signalEd = -1;
    int m_tag = -1;
    int m_top = -1;
    int m_vehicleAbsSpeed = -1;
    int m_vehicleAccess = -1;
    int m_vehicleSpeed = -3;
    int m_width = -1;
    int m_year = -1;
    qint64 m_jpegSize = -1;
    qint64 m_overviewJpegSize = -1;
    qint64 m_plateJpegSize = -1;
    QList<int> m_charConfidence;
    QString m_blacklist;
    QString m_blacklistDescription;
    QString m_category;
    QString m_country;
    QString m_countryCode;
    QString m_directionStr;
    QString m_directionStr2;
    QString m_directionStr3;
    QString m_epoch;
    QString m_firmwareVersion;
    QString m_formatted;
    QString m_id;
    QString m_imageId;
    QString m_imagePath;
    QString m_ip;
    QString m_manufacturer;
    QString m_model;
    QString m_pid;
    QString m_plate;
    QString m_plateImagePath;
    QString m_plateUtf8;
    QString m_safeDate;
    QString m_serial;
    QString m_serialNumber;
    QString m_softwareVersion;
    QString m_state;
    QString m_stateCode;
    QString m_type;
    QString m_uuid;
    QString m_vehicleClass;
    QString m_vehicleColor;
    QString m_vehicleGenClass;
    QString m_vehicleMake;
    QString m_vehicleModel;
    QString m_whitelist;
    QString m_whitelistDescription;
    QTime m_localTime;
    double m_containerConfidence = -1.0;
    int m_containerProcessingTime = -1;
    QDateTime m_containerDate;
    QString m_containerCode;
    QString m_containerSizeCode;
};
