#include "VAXReading.h"

#include "ValueUpdate.h"

VAXReading::VAXReading(QObject* parent)
    : QObject(parent)
{
}

void VAXReading::clearValues()
{
    setPlate(QString());
    setId(QString());
    setCountry(QString());
    setBlacklist(QString());
    setWhitelist(QString());
    setVehicleMake(QString());
    setVehicleModel(QString());
    setVehicleColor(QString());
    setImageId(QString());
    setDate(QDateTime());
    setIp(QString());
    setType(QString());
    setContainerConfidence(-1.0);
    setContainerProcessingTime(-1);
    setContainerDate(QDateTime());
    setContainerCode(QString());
    setContainerSizeCode(QString());
}

void VAXReading::setAbsConfidence(const double& value)
{
    if (assignIfChanged(m_absConfidence, value))
        emit absConfidenceChanged();
}

void VAXReading::setAbsoluteBottom(const double& value)
{
    if (assignIfChanged(m_absoluteBottom, value))
        emit absoluteBottomChanged();
}

void VAXReading::setAbsoluteLeft(const double& value)
{
    if (assignIfChanged(m_absoluteLeft, value))
        emit absoluteLeftChanged();
}

void VAXReading::setAbsoluteRight(const double& value)
{
    if (assignIfChanged(m_absoluteRight, value))
        emit absoluteRightChanged();
}

void VAXReading::setAbsoluteTop(const double& value)
{
    if (assignIfChanged(m_absoluteTop, value))
        emit absoluteTopChanged();
}

void VAXReading::setCharHeight(const double& value)
{
    if (assignIfChanged(m_charHeight, value))
        emit charHeightChanged();
}

void VAXReading::setConfidence(const double& value)
{
    if (assignIfChanged(m_confidence, value))
        emit confidenceChanged();
}

void VAXReading::setLatitude(const double& value)
{
    if (assignIfChanged(m_latitude, value))
        emit latitudeChanged();
}

void VAXReading::setLatitudeMin(const double& value)
{
    if (assignIfChanged(m_latitudeMin, value))
        emit latitudeMinChanged();
}

void VAXReading::setLongitude(const double& value)
{
    if (assignIfChanged(m_longitude, value))
        emit longitudeChanged();
}

void VAXReading::setLongitudeMin(const double& value)
{
    if (assignIfChanged(m_longitudeMin, value))
        emit longitudeMinChanged();
}

void VAXReading::setProcessingTime(const double& value)
{
    if (assignIfChanged(m_processingTime, value))
        emit processingTimeChanged();
}

void VAXReading::setDate(const QDateTime& value)
{
    if (assignIfChanged(m_date, value))
        emit dateChanged();
}

void VAXReading::setLocalDate(const QDateTime& value)
{
    if (assignIfChanged(m_localDate, value))
        emit localDateChanged();
}

void VAXReading::setLocalDateYMD(const QDateTime& value)
{
    if (assignIfChanged(m_localDateYMD, value))
        emit localDateYMDChanged();
}

void VAXReading::setUtcDate(const QDateTime& value)
{
    if (assignIfChanged(m_utcDate, value))
        emit utcDateChanged();
}

void VAXReading::setBottom(const int& value)
{
    if (assignIfChanged(m_bottom, value))
        emit bottomChanged();
}

void VAXReading::setBuildNumber(const int& value)
{
    if (assignIfChanged(m_buildNumber, value))
        emit buildNumberChanged();
}

void VAXReading::setDay(const int& value)
{
    if (assignIfChanged(m_day, value))
        emit dayChanged();
}

void VAXReading::setDirection(const int& value)
{
    if (assignIfChanged(m_direction, value))
        emit directionChanged();
}

void VAXReading::setDWellTime(const int& value)
{
    if (assignIfChanged(m_dWellTime, value))
        emit dWellTimeChanged();
}

void VAXReading::setHeight(const int& value)
{
    if (assignIfChanged(m_height, value))
        emit heightChanged();
}

void VAXReading::setHour(const int& value)
{
    if (assignIfChanged(m_hour, value))
        emit hourChanged();
}

void VAXReading::setLeft(const int& value)
{
    if (assignIfChanged(m_left, value))
        emit leftChanged();
}

void VAXReading::setMillisecond(const int& value)
{
    if (assignIfChanged(m_millisecond, value))
        emit millisecondChanged();
}

void VAXReading::setMinute(const int& value)
{
    if (assignIfChanged(m_minute, value))
        emit minuteChanged();
}

void VAXReading::setMonth(const int& value)
{
    if (assignIfChanged(m_month, value))
        emit monthChanged();
}

void VAXReading::setMultiPlate(const int& value)
{
    if (assignIfChanged(m_multiPlate, value))
        emit multiPlateChanged();
}

void VAXReading::setPending(const int& value)
{
    if (assignIfChanged(m_pending, value))
        emit pendingChanged();
}

void VAXReading::setRight(const int& value)
{
    if (assignIfChanged(m_right, value))
        emit rightChanged();
}

void VAXReading::setRoiId(const int& value)
{
    if (assignIfChanged(m_roiId, value))
        emit roiIdChanged();
}

void VAXReading::setSecond(const int& value)
{
    if (assignIfChanged(m_second, value))
        emit secondChanged();
}

void VAXReading::setSha1(const int& value)
{
    if (assignIfChanged(m_sha1, value))
        emit sha1Changed();
}

void VAXReading::setSignalEd(const int& value)
{
    if (assignIfChanged(m_signalEd, value))
        emit signalEdChanged();
}

void VAXReading::setTag(const int& value)
{
    if (assignIfChanged(m_tag, value))
        emit tagChanged();
}

void VAXReading::setTop(const int& value)
{
    if (assignIfChanged(m_top, value))
        emit topChanged();
}

void VAXReading::setVehicleAbsSpeed(const int& value)
{
    if (assignIfChanged(m_vehicleAbsSpeed, value))
        emit vehicleAbsSpeedChanged();
}

void VAXReading::setVehicleAccess(const int& value)
{
    if (assignIfChanged(m_vehicleAccess, value))
        emit vehicleAccessChanged();
}

void VAXReading::setVehicleSpeed(const int& value)
{
    if (assignIfChanged(m_vehicleSpeed, value))
        emit vehicleSpeedChanged();
}

void VAXReading::setWidth(const int& value)
{
    if (assignIfChanged(m_width, value))
        emit widthChanged();
}

void VAXReading::setYear(const int& value)
{
    if (assignIfChanged(m_year, value))
        emit yearChanged();
}

void VAXReading::setJpegSize(const qint64& value)
{
    if (assignIfChanged(m_jpegSize, value))
        emit jpegSizeChanged();
}

void VAXReading::setOverviewJpegSize(const qint64& value)
{
    if (assignIfChanged(m_overviewJpegSize, value))
        emit overviewJpegSizeChanged();
}

void VAXReading::setPlateJpegSize(const qint64& value)
{
    if (assignIfChanged(m_plateJpegSize, value))
        emit plateJpegSizeChanged();
}

void VAXReading::setCharConfidence(const QList<int>& value)
{
    if (assignIfChanged(m_charConfidence, value))
        emit charConfidenceChanged();
}

void VAXReading::setBlacklist(const QString& value)
{
    if (assignIfChanged(m_blacklist, value))
        emit blacklistChanged();
}

void VAXReading::setBlacklistDescription(const QString& value)
{
    if (assignIfChanged(m_blacklistDescription, value))
        emit blacklistDescriptionChanged();
}

void VAXReading::setCategory(const QString& value)
{
    if (assignIfChanged(m_category, value))
        emit categoryChanged();
}

void VAXReading::setCountry(const QString& value)
{
    if (assignIfChanged(m_country, value))
        emit countryChanged();
}

void VAXReading::setCountryCode(const QString& value)
{
    if (assignIfChanged(m_countryCode, value))
        emit countryCodeChanged();
}

void VAXReading::setDirectionStr(const QString& value)
{
    if (assignIfChanged(m_directionStr, value))
        emit directionStrChanged();
}

void VAXReading::setDirectionStr2(const QString& value)
{
    if (assignIfChanged(m_directionStr2, value))
        emit directionStr2Changed();
}

void VAXReading::setDirectionStr3(const QString& value)
{
    if (assignIfChanged(m_directionStr3, value))
        emit directionStr3Changed();
}

void VAXReading::setEpoch(const QString& value)
{
    if (assignIfChanged(m_epoch, value))
        emit epochChanged();
}

void VAXReading::setFirmwareVersion(const QString& value)
{
    if (assignIfChanged(m_firmwareVersion, value))
        emit firmwareVersionChanged();
}

void VAXReading::setFormatted(const QString& value)
{
    if (assignIfChanged(m_formatted, value))
        emit formattedChanged();
}

void VAXReading::setId(const QString& value)
{
    if (assignIfChanged(m_id, value))
        emit idChanged();
}

void VAXReading::setImageId(const QString& value)
{
    if (assignIfChanged(m_imageId, value))
        emit imageIdChanged();
}

void VAXReading::setImagePath(const QString& value)
{
    if (assignIfChanged(m_imagePath, value))
        emit imagePathChanged();
}

void VAXReading::setIp(const QString& value)
{
    if (assignIfChanged(m_ip, value))
        emit ipChanged();
}

void VAXReading::setManufacturer(const QString& value)
{
    if (assignIfChanged(m_manufacturer, value))
        emit manufacturerChanged();
}

void VAXReading::setModel(const QString& value)
{
    if (assignIfChanged(m_model, value))
        emit modelChanged();
}

void VAXReading::setPid(const QString& value)
{
    if (assignIfChanged(m_pid, value))
        emit pidChanged();
}

void VAXReading::setPlate(const QString& value)
{
    if (assignIfChanged(m_plate, value))
        emit plateChanged();
}

void VAXReading::setPlateImagePath(const QString& value)
{
    if (assignIfChanged(m_plateImagePath, value))
        emit plateImagePathChanged();
}

void VAXReading::setPlateUtf8(const QString& value)
{
    if (assignIfChanged(m_plateUtf8, value))
        emit plateUtf8Changed();
}

void VAXReading::setSafeDate(const QString& value)
{
    if (assignIfChanged(m_safeDate, value))
        emit safeDateChanged();
}

void VAXReading::setSerial(const QString& value)
{
    if (assignIfChanged(m_serial, value))
        emit serialChanged();
}

void VAXReading::setSerialNumber(const QString& value)
{
    if (assignIfChanged(m_serialNumber, value))
        emit serialNumberChanged();
}

void VAXReading::setSoftwareVersion(const QString& value)
{
    if (assignIfChanged(m_softwareVersion, value))
        emit softwareVersionChanged();
}

void VAXReading::setState(const QString& value)
{
    if (assignIfChanged(m_state, value))
        emit stateChanged();
}

void VAXReading::setStateCode(const QString& value)
{
    if (assignIfChanged(m_stateCode, value))
        emit stateCodeChanged();
}

void VAXReading::setType(const QString& value)
{
    if (assignIfChanged(m_type, value))
        emit typeChanged();
}

void VAXReading::setUuid(const QString& value)
{
    if (assignIfChanged(m_uuid, value))
        emit uuidChanged();
}

void VAXReading::setVehicleClass(const QString& value)
{
    if (assignIfChanged(m_vehicleClass, value))
        emit vehicleClassChanged();
}

void VAXReading::setVehicleColor(const QString& value)
{
    if (assignIfChanged(m_vehicleColor, value))
        emit vehicleColorChanged();
}

void VAXReading::setVehicleGenClass(const QString& value)
{
    if (assignIfChanged(m_vehicleGenClass, value))
        emit vehicleGenClassChanged();
}

void VAXReading::setVehicleMake(const QString& value)
{
    if (assignIfChanged(m_vehicleMake, value))
        emit vehicleMakeChanged();
}

void VAXReading::setVehicleModel(const QString& value)
{
    if (assignIfChanged(m_vehicleModel, value))
        emit vehicleModelChanged();
}

void VAXReading::setWhitelist(const QString& value)
{
    if (assignIfChanged(m_whitelist, value))
        emit whitelistChanged();
}

void VAXReading::setWhitelistDescription(const QString& value)
{
    if (assignIfChanged(m_whitelistDescription, value))
        emit whitelistDescriptionChanged();
}

void VAXReading::setLocalTime(const QTime& value)
{
    if (assignIfChanged(m_localTime, value))
        emit localTimeChanged();
}

void VAXReading::setContainerConfidence(const double& value)
{
    if (assignIfChanged(m_containerConfidence, value))
        emit containerConfidenceChanged();
}

void VAXReading::setContainerProcessingTime(const int& value)
{
    if (assignIfChanged(m_containerProcessingTime, value))
        emit containerProcessingTimeChanged();
}

void VAXReading::setContainerDate(const QDateTime& value)
{
    if (assignIfChanged(m_containerDate, value))
        emit containerDateChanged();
}

void VAXReading::setContainerCode(const QString& value)
{
    if (assignIfChanged(m_containerCode, value))
        emit containerCodeChanged();
}

void VAXReading::setContainerSizeCode(const QString& value)
{
    if (assignIfChanged(m_containerSizeCode, value))
        emit containerSizeCodeChanged();
}
