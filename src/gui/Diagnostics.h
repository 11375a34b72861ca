#pragma once
// The terminal's self-test: checks the USB devices on their ports and the SD card, keeps
// the results of the manual tests the maintenance user confirms, writes the test report
// and its QR summary.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class Terminal;

class Diagnostics : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString rtc READ rtc NOTIFY rtcChanged)
    Q_PROPERTY(QString ethernet READ ethernet NOTIFY ethernetChanged)
    Q_PROPERTY(QString usbHub READ usbHub NOTIFY usbHubChanged)
    Q_PROPERTY(QString mPCIe1 READ mPCIe1 NOTIFY mPCIe1Changed)
    Q_PROPERTY(QString rfidUsb READ rfidUsb NOTIFY rfidUsbChanged)
    Q_PROPERTY(QString ftdi READ ftdi NOTIFY ftdiChanged)
    Q_PROPERTY(QString usbHost READ usbHost NOTIFY usbHostChanged)
    Q_PROPERTY(QString touch READ touch NOTIFY touchChanged)
    Q_PROPERTY(QString sdCard READ sdCard NOTIFY sdCardChanged)
    Q_PROPERTY(QString buzzer READ buzzer WRITE setBuzzer NOTIFY buzzerChanged)
    Q_PROPERTY(QString leds READ leds WRITE setLeds NOTIFY ledsChanged)
    Q_PROPERTY(QString ignition READ ignition NOTIFY ignitionChanged)
    Q_PROPERTY(QString temperature READ temperature NOTIFY temperatureChanged)
    Q_PROPERTY(QString voltage READ voltage NOTIFY voltageChanged)
    Q_PROPERTY(QString speaker READ speaker WRITE setSpeaker NOTIFY speakerChanged)
    Q_PROPERTY(QString cardScan READ cardScan WRITE setCardScan NOTIFY cardScanChanged)
    Q_PROPERTY(QString rfidService READ rfidService NOTIFY rfidServiceChanged)
    Q_PROPERTY(QString boardService READ boardService NOTIFY boardServiceChanged)
    Q_PROPERTY(QString lightSensor READ lightSensor WRITE setLightSensor NOTIFY lightSensorChanged)
    Q_PROPERTY(QString rgbTest READ rgbTest WRITE setRgbTest NOTIFY rgbTestChanged)
public:
    struct UsbDevice
    {
        QString name;
        // "vendor:product" in lower-case hex as the kernel writes it; "*" or "any" for any device.
        QString id;
        QString port;
    };
    static const QList<UsbDevice> m_usbDevices;

    // Where the facts about the terminal come from.
    struct Sources
    {
        std::function<QString()> serialNumber;
        std::function<QString()> firmware;
        std::function<QString()> ethernetState;
    };

    explicit Diagnostics(Terminal& terminal, QObject* parent = nullptr);
    explicit Diagnostics(const Sources& sources, QObject* parent = nullptr);

    // Prefix of the system paths ("/sys/...", "/dev/..."); tests point it to a fake tree.
    void setRootPath(const QString& path) { m_rootPath = path; }
    // Folder of the report files; the working directory by default.
    void setReportDir(const QString& dir) { m_reportDir = dir; }
    void setClock(const std::function<QDateTime()>& now) { m_now = now; }
    bool checking() const { return m_timer.isActive(); }

    QString rtc() const { return QString(); }
    QString ethernet() const;
    const QString& usbHub() const { return m_usbHub; }
    const QString& mPCIe1() const { return m_mPCIe1; }
    const QString& rfidUsb() const { return m_rfidUsb; }
    const QString& ftdi() const { return m_ftdi; }
    const QString& usbHost() const { return m_usbHost; }
    const QString& touch() const { return m_touch; }
    const QString& sdCard() const { return m_sdCard; }
    const QString& buzzer() const { return m_buzzer; }
    const QString& leds() const { return m_leds; }
    QString ignition() const { return QString(); }
    QString temperature() const { return QString(); }
    QString voltage() const { return QString(); }
    const QString& speaker() const { return m_speaker; }
    const QString& cardScan() const { return m_cardScan; }
    QString rfidService() const { return QStringLiteral("ERROR"); }
    QString boardService() const { return QString(); }
    const QString& lightSensor() const { return m_lightSensor; }
    const QString& rgbTest() const { return m_rgbTest; }

    void setBuzzer(const QString& value);
    void setLeds(const QString& value);
    void setSpeaker(const QString& value);
    void setCardScan(const QString& value);
    void setLightSensor(const QString& value);
    void setRgbTest(const QString& value);

    // The report's lines as saveReport writes them.
    QStringList reportLines() const;

public slots:
    void start(int intervalSec = 1);
    void stop();
    void saveReport();
    QString generateQr();

signals:
    void rtcChanged();
    void ethernetChanged();
    void usbHubChanged();
    void mPCIe1Changed();
    void rfidUsbChanged();
    void ftdiChanged();
    void usbHostChanged();
    void touchChanged();
    void sdCardChanged();
    void buzzerChanged();
    void ledsChanged();
    void ignitionChanged();
    void temperatureChanged();
    void voltageChanged();
    void speakerChanged();
    void cardScanChanged();
    void saveReportFinished(bool result, QString message);
    void rfidServiceChanged();
    void boardServiceChanged();
    void lightSensorChanged();
    void rgbTestChanged();

private:
    void check();
    QString testUsb(const UsbDevice& device) const;
    QString readFile(const QString& path) const;
    QDateTime now() const { return m_now ? m_now() : QDateTime::currentDateTime(); }

    Sources m_sources;
    QTimer m_timer;
    QString m_rootPath;
    QString m_reportDir = QStringLiteral(".");
    std::function<QDateTime()> m_now;
    QString m_usbHub;
    QString m_mPCIe1;
    QString m_rfidUsb;
    QString m_ftdi;
    QString m_usbHost;
    QString m_touch;
    QString m_sdCard;
    QString m_buzzer;
    QString m_leds;
    QString m_speaker;
    QString m_cardScan;
    QString m_lightSensor;
    QString m_rgbTest;
};
