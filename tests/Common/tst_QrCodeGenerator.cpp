#include "QrCodeGenerator.h"

#include "LogCapture.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <tuple>

using Ecc = qrcodegen::QrCode::Ecc;

namespace {

bool run(const QString& program, const QStringList& args, QByteArray* out = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

} // namespace

class tst_QrCodeGenerator : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

    // Rasterises the document and reads it back with a real QR decoder.
    QByteArray decode(const QString& svg)
    {
        const QString base = m_dir.filePath(QString::number(++m_files));
        QFile f(base + ".svg");
        if (!f.open(QIODevice::WriteOnly) || f.write(svg.toUtf8()) < 0)
            return "<write failed>";
        f.close();
        QByteArray out;
        if (!run("rsvg-convert", { "-w", "400", "-h", "400", "-o", base + ".png", base + ".svg" }))
            return "<rsvg-convert failed>";
        if (!run("zbarimg", { "--quiet", "--raw", "-Sbinary", base + ".png" }, &out))
            return "<zbarimg failed>";
        return out;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void documentForm()
    {
        QrCodeGenerator gen(nullptr);
        const QString empty = gen.generateSvgQr(QString(), 1, Ecc::MEDIUM);
        QVERIFY(empty.contains("viewBox=\"0 0 23 23\"") && empty.contains("<path d=\"M1,1h1v1h-1z M2,1h1v1h-1z"));
        const qrcodegen::QrCode qr = qrcodegen::QrCode::encodeText("LANE-07", Ecc::QUARTILE);
        const QString wide = gen.generateSvgQr(QStringLiteral("LANE-07"), 65535, Ecc::QUARTILE);
        QCOMPARE(wide, gen.toSvgString(qr, 65535));
        QVERIFY(wide.contains(QStringLiteral("viewBox=\"0 0 %1 %1\"").arg(qr.getSize() + 131070)));
    }

    void decodesBackToText()
    {
        QrCodeGenerator gen(nullptr);
        const QList<std::tuple<QString, int, Ecc>> cases { { QString(), 1, Ecc::MEDIUM },
            { QStringLiteral("RFID:OK;Dispenser:OK;Barrier:ERROR;NTP:WARNING"), 1, Ecc::MEDIUM },
            { QStringLiteral("0123456789012345"), 0, Ecc::HIGH },
            { QStringLiteral("Τελωνείο – Zoll ÄÖÜ 税関 \U0001F697"), 2, Ecc::LOW },
            { QString::fromUtf8("a\0b", 3), 1, Ecc::MEDIUM } };
        for (const auto& [text, border, ecc] : cases) {
            QCOMPARE(decode(gen.generateSvgQr(text, border, ecc)), text.toUtf8());
        }
    }

    void refusedTexts()
    {
        QrCodeGenerator gen(nullptr);
        LogCapture log;
        // A version-40 symbol holds 2953 bytes at level low and 1273 at level high.
        QVERIFY(gen.generateSvgQr(QString(2953, 'x'), 1, Ecc::LOW).contains("viewBox=\"0 0 179 179\""));

        QCOMPARE(gen.generateSvgQr(QString(2954, 'x'), 1, Ecc::LOW), QString());
        // Two-byte characters count twice.
        QCOMPARE(gen.generateSvgQr(QString(1477, QChar(0x00E9)), 1, Ecc::LOW), QString());
        QCOMPARE(gen.generateSvgQr(QStringLiteral("x"), 1, static_cast<Ecc>(4)), QString());
        const QStringList errors = log.texts(QtCriticalMsg);
        QCOMPARE(errors.size(), 3);
        QVERIFY(errors.at(0).contains("2954 bytes"));
        QVERIFY(errors.at(2).startsWith("[QrCodeGenerator] ERROR: Invalid error correction level"));
    }
};

QTEST_GUILESS_MAIN(tst_QrCodeGenerator)
#include "tst_QrCodeGenerator.moc"
