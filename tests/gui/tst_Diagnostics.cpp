#include "Diagnostics.h"
#include "LogCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return "<" + program.toUtf8() + " failed>";
    return p.readAllStandardOutput();
}

} // namespace

class tst_Diagnostics : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    const QDateTime m_now { QDate(2026, 3, 4), QTime(5, 6, 7) };

    void device(const QString& port, const QByteArray& vendor, const QByteArray& product)
    {
        const QString dir = m_root.filePath(QStringLiteral("sys/bus/usb/devices/") + port);
        writeFile(dir + "/idVendor", vendor + "\n");
        writeFile(dir + "/idProduct", product + "\n");
        writeFile(dir + "/product", "Some device\n");
    }

    Diagnostics::Sources sources()
    {
        return { [] { return QStringLiteral("SN-0042"); }, [] { return QStringLiteral("1.2.3"); },
            [] { return QStringLiteral("Connected"); } };
    }

private slots:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("0.0.1-1-g1045188")); }

    void checksAndReport()
    {
        Diagnostics diag(sources());
        diag.setRootPath(m_root.path());
        device("1-1", "0451", "2077"); // hub: right ids
        QDir().mkpath(m_root.filePath("sys/bus/usb/devices/1-1.2")); // any device, no id files
        device("1-1.3", "0ab1", "0008"); // RFID: wrong product
        device("1-1.5", "0403", "6015");
        QSignalSpy hub(&diag, &Diagnostics::usbHubChanged);
        QSignalSpy sd(&diag, &Diagnostics::sdCardChanged);
        diag.start(0); // one check, no timer
        QVERIFY(!diag.checking());
        QCOMPARE(QStringList({ diag.usbHub(), diag.mPCIe1(), diag.rfidUsb(), diag.usbHost(), diag.ftdi(), diag.touch(),
                     diag.sdCard(), diag.ethernet() }),
            QStringList({ "OK", "OK", "ERROR", "MISSING", "OK", "MISSING", "MISSING", "OK" }));
        // Checks again signal changes only.
        writeFile(m_root.filePath("dev/mmcblk1p1"), "");
        diag.start(1);
        QVERIFY(diag.checking());
        diag.stop();
        QCOMPARE(hub.count(), 1);
        QCOMPARE(sd.count(), 2);

        QTemporaryDir out;
        diag.setReportDir(out.path());
        diag.setClock([this] { return m_now; });
        diag.setBuzzer(QStringLiteral("OK"));
        diag.setLeds(QStringLiteral("ERROR"));
        diag.setSpeaker(QStringLiteral("OK"));
        diag.setRgbTest(QStringLiteral("a value longer than the thirty-five character field"));
        QSignalSpy finished(&diag, &Diagnostics::saveReportFinished);
        diag.saveReport();
        QCOMPARE(finished.count(), 1);
        const QString name = out.filePath(QStringLiteral("TestReport_20260304_0506.txt"));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(finished.at(0).at(1).toString(), QStringLiteral("Test report saved successfully:\n") + name);
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString sep(53, '-');
        const auto line = [](const char* label, const QString& value) {
            return QString::fromLatin1(label) + value.rightJustified(35);
        };
        const QString rgb = QStringLiteral("a value longer than the thirty-five character field");
        const QStringList expected = { sep, " DEVICE TEST REPORT", sep, line(" Device UID       ", "SN-0042"),
            line(" Date             ", "2026-03-04 05:06"), line(" MIOBoard Firmware   ", "1.2.3"),
            line(" App Version      ", "0.0.1-1-g1045188"), line(" Bundle Version   ", "<null>"),
            line(" Image Version    ", "<null>"), sep, line(" RTC              ", ""), line(" Ethernet         ", "OK"),
            line(" USB Hub          ", "OK"), line(" USB Host         ", "MISSING"), line(" FTDI             ", "OK"),
            line(" mPCIe #1         ", "OK"), line(" Touch            ", "MISSING"), line(" SD Card          ", "OK"),
            line(" RFID             ", "ERROR"), line(" Buzzer           ", "OK"), line(" Front LEDs       ", "ERROR"),
            line(" Card Scan        ", ""), line(" RFID Manager     ", "ERROR"), line(" MIOBoard Manager    ", ""),
            line(" Light Sensor     ", ""), " Display RGB Test " + rgb, sep };
        QCOMPARE(QString::fromUtf8(file.readAll()), expected.join('\n'));

        // The QR summary, read back by a real decoder.
        const QString url = diag.generateQr();
        QVERIFY(url.startsWith(QStringLiteral("data:image/svg,")));
        QVERIFY(!url.contains('#'));
        const QString svg = QUrl::fromPercentEncoding(url.mid(15).toLatin1());
        writeFile(out.filePath("qr.svg"), svg.toUtf8());
        QCOMPARE(
            run("rsvg-convert", { "-w", "600", "-h", "600", "-o", out.filePath("qr.png"), out.filePath("qr.svg") }),
            QByteArray());
        QCOMPARE(QString::fromUtf8(run("zbarimg", { "--quiet", "--raw", out.filePath("qr.png") })).trimmed(),
            QStringLiteral("SN-0042;2026-03-04 05:06;1.2.3;0.0.1-1-g1045188;;;;OK;OK;OK;ERROR;OK;MISSING;MISSING;OK;OK;"
                           "ERROR;OK;;ERROR;;;a value longer than the thirty-five character field"));

        // A report that cannot be completed leaves no file and says so.
        LogCapture log;
        diag.setReportDir(out.filePath("missing"));
        diag.saveReport();
        QVERIFY(!finished.at(1).at(0).toBool());
        QVERIFY(finished.at(1).at(1).toString().startsWith(QStringLiteral("Could not save Test Report\nERROR: ")));
        QCOMPARE(log.startingWith(QStringLiteral("[Diagnostics] ERROR: Could not save file : ")).size(), 1);
        // The name taken by a folder: written, but not renamed into place.
        diag.setReportDir(out.path());
        QVERIFY(QFile::remove(name));
        QVERIFY(QDir().mkpath(name));
        diag.saveReport();
        QVERIFY(!finished.at(2).at(0).toBool());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList({ "qr.png", "qr.svg" }));
    }
};

QTEST_GUILESS_MAIN(tst_Diagnostics)
#include "tst_Diagnostics.moc"
