#include "Diagnostics.h"

#include "Ethernet.h"
#include "MIOBoard.h"
#include "Network.h"
#include "PeerText.h"
#include "PrivateFile.h"
#include "QrCodeGenerator.h"
#include "Terminal.h"
#include "ValueUpdate.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include <limits>

namespace {

const QString kSeparator = QString(53, QLatin1Char('-'));
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm");

QString valueLine(const QString& literal, const QString& value)
{
    return QString(literal).arg(value, 35);
}

} // namespace

const QList<Diagnostics::UsbDevice> Diagnostics::m_usbDevices = {
    { QStringLiteral("USB Hub #1"), QStringLiteral("0451:2077"), QStringLiteral("1-1") },
    { QStringLiteral("mPCIE #1"), QStringLiteral("*"), QStringLiteral("1-1.2") },
    { QStringLiteral("RFID"), QStringLiteral("0ab1:0007"), QStringLiteral("1-1.3") },
    { QStringLiteral("USB Host"), QStringLiteral("*"), QStringLiteral("1-1.4") },
    { QStringLiteral("FTDI"), QStringLiteral("0403:6015"), QStringLiteral("1-1.5") },
    { QStringLiteral("Touch"), QStringLiteral("222a:0001"), QStringLiteral("1-1.7") },
};

Diagnostics::Diagnostics(const Sources& sources, QObject* parent)
    : QObject(parent)
    , m_sources(sources)
{
    connect(&m_timer, &QTimer::timeout, this, &Diagnostics::check);
}

Diagnostics::Diagnostics(Terminal& terminal, QObject* parent)
    : Diagnostics(
        Sources { [&terminal] { return terminal.serialNum(); }, [&terminal] { return terminal.board()->firmware(); },
            [&terminal] {
                const manager::Ethernet* ethernet = terminal.network()->ethernet();
                return ethernet ? ethernet->state() : QString();
            } },
        parent)
{
    connect(terminal.network(), &manager::Network::ethernetChanged, this, &Diagnostics::ethernetChanged);
}

QString Diagnostics::ethernet() const
{
    const QString state = m_sources.ethernetState ? m_sources.ethernetState() : QString();
    return state == QLatin1String("Connected") ? QStringLiteral("OK") : QStringLiteral("ERROR");
}

#define DIAGNOSTICS_SETTER(setter, field, signal)                                                                      \
    void Diagnostics::setter(const QString& value)                                                                     \
    {                                                                                                                  \
        if (assignIfChanged(field, value))                                                                             \
            emit signal();                                                                                             \
    }
DIAGNOSTICS_SETTER(setBuzzer, m_buzzer, buzzerChanged)
DIAGNOSTICS_SETTER(setLeds, m_leds, ledsChanged)
DIAGNOSTICS_SETTER(setSpeaker, m_speaker, speakerChanged)
DIAGNOSTICS_SETTER(setCardScan, m_cardScan, cardScanChanged)
DIAGNOSTICS_SETTER(setLightSensor, m_lightSensor, lightSensorChanged)
DIAGNOSTICS_SETTER(setRgbTest, m_rgbTest, rgbTestChanged)
#undef DIAGNOSTICS_SETTER

void Diagnostics::start(int intervalSec)
{
    qInfo().noquote() << QStringLiteral("[Diagnostics] Starting Diagnostic check (interval=%1 sec)").arg(intervalSec);
    check();
    // A negative interval would make a busy loop of the timer.
    if (intervalSec > 0)
        m_timer.start(int(qMin<qint64>(qint64(intervalSec) * 1000, std::numeric_limits<int>::max())));
}

void Diagnostics::stop()
{
    qInfo().noquote() << "[Diagnostics] Stopping Diagnostic check";
    m_timer.stop();
}

QString Diagnostics::readFile(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << "[Diagnostics] ERROR: Failed to open fle : " + path;
        return QString();
    }
    return QString::fromUtf8(file.readAll()).trimmed();
}

QString Diagnostics::testUsb(const UsbDevice& device) const
{
    const QString dir = QStringLiteral("%1/%2").arg(m_rootPath + QStringLiteral("/sys/bus/usb/devices"), device.port);
    if (!QFileInfo(dir).isDir())
        return QStringLiteral("MISSING");
    const QString vendor = readFile(QStringLiteral("%1/idVendor").arg(dir));
    const QString productId = readFile(QStringLiteral("%1/idProduct").arg(dir));
    const QString product = readFile(QStringLiteral("%1/product").arg(dir));
    const QString deviceId = QStringLiteral("%1:%2").arg(vendor, productId);
    qInfo().noquote() << "[Diagnostics] name=" + device.name + " deviceId=" + PeerText::forLog(deviceId)
            + " expected=" + device.id + " product=" + PeerText::forLog(product);
    if (device.id == QLatin1String("any") || device.id == QLatin1String("*") || deviceId.contains(device.id))
        return QStringLiteral("OK");
    return QStringLiteral("ERROR");
}

void Diagnostics::check()
{
    struct Slot
    {
        QString* field;
        void (Diagnostics::*signal)();
    };
    const Slot results[] = {
        { &m_usbHub, &Diagnostics::usbHubChanged },
        { &m_mPCIe1, &Diagnostics::mPCIe1Changed },
        { &m_rfidUsb, &Diagnostics::rfidUsbChanged },
        { &m_usbHost, &Diagnostics::usbHostChanged },
        { &m_ftdi, &Diagnostics::ftdiChanged },
        { &m_touch, &Diagnostics::touchChanged },
    };
    for (int i = 0; i < m_usbDevices.size(); ++i) {
        if (assignIfChanged(*results[i].field, testUsb(m_usbDevices.at(i))))
            emit(this->*results[i].signal)();
    }
    const QString sd = QFileInfo::exists(m_rootPath + QStringLiteral("/dev/mmcblk1p1")) ? QStringLiteral("OK")
                                                                                        : QStringLiteral("MISSING");
    if (assignIfChanged(m_sdCard, sd))
        emit sdCardChanged();
}

QStringList Diagnostics::reportLines() const
{
    const QString serial = m_sources.serialNumber ? m_sources.serialNumber() : QString();
    const QString firmware = m_sources.firmware ? m_sources.firmware() : QString();
    return {
        kSeparator,
        QStringLiteral(" DEVICE TEST REPORT"),
        kSeparator,
        valueLine(QStringLiteral(" Device UID       %1"), serial),
        valueLine(QStringLiteral(" Date             %1"), now().toString(kTimeFormat)),
        valueLine(QStringLiteral(" MIOBoard Firmware   %1"), firmware),
        valueLine(QStringLiteral(" App Version      %1"), QCoreApplication::applicationVersion()),
        valueLine(QStringLiteral(" Bundle Version   %1"), QStringLiteral("<null>")),
        valueLine(QStringLiteral(" Image Version    %1"), QStringLiteral("<null>")),
        kSeparator,
        valueLine(QStringLiteral(" RTC              %1"), rtc()),
        valueLine(QStringLiteral(" Ethernet         %1"), ethernet()),
        valueLine(QStringLiteral(" USB Hub          %1"), m_usbHub),
        valueLine(QStringLiteral(" USB Host         %1"), m_usbHost),
        valueLine(QStringLiteral(" FTDI             %1"), m_ftdi),
        valueLine(QStringLiteral(" mPCIe #1         %1"), m_mPCIe1),
        valueLine(QStringLiteral(" Touch            %1"), m_touch),
        valueLine(QStringLiteral(" SD Card          %1"), m_sdCard),
        valueLine(QStringLiteral(" RFID             %1"), m_rfidUsb),
        valueLine(QStringLiteral(" Buzzer           %1"), m_buzzer),
        valueLine(QStringLiteral(" Front LEDs       %1"), m_leds),
        valueLine(QStringLiteral(" Card Scan        %1"), m_cardScan),
        valueLine(QStringLiteral(" RFID Manager     %1"), rfidService()),
        valueLine(QStringLiteral(" MIOBoard Manager    %1"), boardService()),
        valueLine(QStringLiteral(" Light Sensor     %1"), m_lightSensor),
        valueLine(QStringLiteral(" Display RGB Test %1"), m_rgbTest),
        kSeparator,
    };
}

void Diagnostics::saveReport()
{
    const QStringList lines = reportLines();
    const QString report = lines.join(QLatin1Char('\n'));
    // One log entry per line: the values read from devices and files stay on theirs.
    for (const QString& line : lines)
        qInfo().noquote() << "[Diagnostics] " + PeerText::forLog(line);
    const QString fileName
        = QStringLiteral("%1/%2_%3.txt")
              .arg(m_reportDir, QStringLiteral("TestReport"), now().toString(QStringLiteral("yyyyMMdd_hhmm")));
    qInfo().noquote() << "[Diagnostics] Saving Diagnostics report to : " + fileName;

    // Written beside the target and renamed over it only when complete, so a failed
    // write leaves neither a partial report nor a damaged earlier one.
    QSaveFile file(fileName);
    const QByteArray bytes = report.toUtf8();
    QString error;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        error = file.errorString();
    else if (!file.setPermissions(PrivateFile::Permissions)) // it carries the serial number
        error = file.errorString();
    else if (file.write(bytes) != bytes.size())
        error = file.errorString();
    else if (!file.commit())
        error = file.errorString();
    if (!error.isEmpty()) {
        file.cancelWriting();
        qCritical().noquote() << "[Diagnostics] ERROR: Could not save file : " + error;
        emit saveReportFinished(false, QStringLiteral("Could not save Test Report\nERROR: ") + error);
        return;
    }
    emit saveReportFinished(true, QStringLiteral("Test report saved successfully:\n") + fileName);
}

QString Diagnostics::generateQr()
{
    const QStringList values = {
        m_sources.serialNumber ? m_sources.serialNumber() : QString(),
        now().toString(kTimeFormat),
        m_sources.firmware ? m_sources.firmware() : QString(),
        QCoreApplication::applicationVersion(),
        QString(),
        QString(),
        rtc(),
        ethernet(),
        m_usbHub,
        m_mPCIe1,
        m_rfidUsb,
        m_ftdi,
        m_usbHost,
        m_touch,
        m_sdCard,
        m_buzzer,
        m_leds,
        m_speaker,
        m_cardScan,
        rfidService(),
        boardService(),
        m_lightSensor,
        m_rgbTest,
    };
    QrCodeGenerator generator;
    const QString svg = generator.generateSvgQr(values.join(QLatin1Char(';')), 1, qrcodegen::QrCode::Ecc::MEDIUM);
    // Percent-encoded: the colours' "#" would otherwise end the URL and cut the image short.
    return QStringLiteral("data:image/svg,") + QString::fromLatin1(QUrl::toPercentEncoding(svg));
}
