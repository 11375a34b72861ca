#include "QrCodeGenerator.h"

#include "LogCapture.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <string>

using Ecc = qrcodegen::QrCode::Ecc;

namespace {

const char* const kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                          "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
                          "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">"
                          "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" viewBox=\"0 0 ";
const char* const kBody = "\" stroke=\"none\"><rect width=\"100%\" height=\"100%\" fill=\"#FFFFFF\"/><path d=\"";
const char* const kTail = "\" fill=\"#000000\"/></svg>";

// The version-1 symbol of the empty text at level medium, as drawn with a border of 1.
const char* const kEmptyPath
    = "M1,1h1v1h-1z M2,1h1v1h-1z M3,1h1v1h-1z M4,1h1v1h-1z M5,1h1v1h-1z M6,1h1v1h-1z M7,1h1v1h-1z "
      "M10,1h1v1h-1z M15,1h1v1h-1z M16,1h1v1h-1z M17,1h1v1h-1z M18,1h1v1h-1z M19,1h1v1h-1z M20,1h1v1h-1z "
      "M21,1h1v1h-1z M1,2h1v1h-1z M7,2h1v1h-1z M11,2h1v1h-1z M12,2h1v1h-1z M15,2h1v1h-1z M21,2h1v1h-1z "
      "M1,3h1v1h-1z M3,3h1v1h-1z M4,3h1v1h-1z M5,3h1v1h-1z M7,3h1v1h-1z M9,3h1v1h-1z M10,3h1v1h-1z "
      "M11,3h1v1h-1z M12,3h1v1h-1z M13,3h1v1h-1z M15,3h1v1h-1z M17,3h1v1h-1z M18,3h1v1h-1z M19,3h1v1h-1z "
      "M21,3h1v1h-1z M1,4h1v1h-1z M3,4h1v1h-1z M4,4h1v1h-1z M5,4h1v1h-1z M7,4h1v1h-1z M9,4h1v1h-1z "
      "M10,4h1v1h-1z M11,4h1v1h-1z M13,4h1v1h-1z M15,4h1v1h-1z M17,4h1v1h-1z M18,4h1v1h-1z M19,4h1v1h-1z "
      "M21,4h1v1h-1z M1,5h1v1h-1z M3,5h1v1h-1z M4,5h1v1h-1z M5,5h1v1h-1z M7,5h1v1h-1z M10,5h1v1h-1z "
      "M11,5h1v1h-1z M12,5h1v1h-1z M15,5h1v1h-1z M17,5h1v1h-1z M18,5h1v1h-1z M19,5h1v1h-1z M21,5h1v1h-1z "
      "M1,6h1v1h-1z M7,6h1v1h-1z M10,6h1v1h-1z M12,6h1v1h-1z M13,6h1v1h-1z M15,6h1v1h-1z M21,6h1v1h-1z "
      "M1,7h1v1h-1z M2,7h1v1h-1z M3,7h1v1h-1z M4,7h1v1h-1z M5,7h1v1h-1z M6,7h1v1h-1z M7,7h1v1h-1z "
      "M9,7h1v1h-1z M11,7h1v1h-1z M13,7h1v1h-1z M15,7h1v1h-1z M16,7h1v1h-1z M17,7h1v1h-1z M18,7h1v1h-1z "
      "M19,7h1v1h-1z M20,7h1v1h-1z M21,7h1v1h-1z M4,9h1v1h-1z M5,9h1v1h-1z M7,9h1v1h-1z M8,9h1v1h-1z "
      "M13,9h1v1h-1z M18,9h1v1h-1z M19,9h1v1h-1z M1,10h1v1h-1z M2,10h1v1h-1z M6,10h1v1h-1z M8,10h1v1h-1z "
      "M9,10h1v1h-1z M12,10h1v1h-1z M13,10h1v1h-1z M16,10h1v1h-1z M17,10h1v1h-1z M18,10h1v1h-1z M20,10h1v1h-1z "
      "M21,10h1v1h-1z M1,11h1v1h-1z M2,11h1v1h-1z M6,11h1v1h-1z M7,11h1v1h-1z M8,11h1v1h-1z M9,11h1v1h-1z "
      "M13,11h1v1h-1z M14,11h1v1h-1z M15,11h1v1h-1z M16,11h1v1h-1z M18,11h1v1h-1z M21,11h1v1h-1z M2,12h1v1h-1z "
      "M4,12h1v1h-1z M5,12h1v1h-1z M9,12h1v1h-1z M10,12h1v1h-1z M11,12h1v1h-1z M12,12h1v1h-1z M16,12h1v1h-1z "
      "M17,12h1v1h-1z M20,12h1v1h-1z M1,13h1v1h-1z M3,13h1v1h-1z M4,13h1v1h-1z M7,13h1v1h-1z M9,13h1v1h-1z "
      "M15,13h1v1h-1z M16,13h1v1h-1z M17,13h1v1h-1z M18,13h1v1h-1z M19,13h1v1h-1z M20,13h1v1h-1z M21,13h1v1h-1z "
      "M9,14h1v1h-1z M10,14h1v1h-1z M14,14h1v1h-1z M19,14h1v1h-1z M20,14h1v1h-1z M21,14h1v1h-1z M1,15h1v1h-1z "
      "M2,15h1v1h-1z M3,15h1v1h-1z M4,15h1v1h-1z M5,15h1v1h-1z M6,15h1v1h-1z M7,15h1v1h-1z M9,15h1v1h-1z "
      "M10,15h1v1h-1z M11,15h1v1h-1z M14,15h1v1h-1z M15,15h1v1h-1z M18,15h1v1h-1z M19,15h1v1h-1z M21,15h1v1h-1z "
      "M1,16h1v1h-1z M7,16h1v1h-1z M10,16h1v1h-1z M11,16h1v1h-1z M12,16h1v1h-1z M14,16h1v1h-1z M15,16h1v1h-1z "
      "M19,16h1v1h-1z M1,17h1v1h-1z M3,17h1v1h-1z M4,17h1v1h-1z M5,17h1v1h-1z M7,17h1v1h-1z M9,17h1v1h-1z "
      "M10,17h1v1h-1z M12,17h1v1h-1z M15,17h1v1h-1z M17,17h1v1h-1z M19,17h1v1h-1z M20,17h1v1h-1z M1,18h1v1h-1z "
      "M3,18h1v1h-1z M4,18h1v1h-1z M5,18h1v1h-1z M7,18h1v1h-1z M9,18h1v1h-1z M10,18h1v1h-1z M13,18h1v1h-1z "
      "M16,18h1v1h-1z M17,18h1v1h-1z M1,19h1v1h-1z M3,19h1v1h-1z M4,19h1v1h-1z M5,19h1v1h-1z M7,19h1v1h-1z "
      "M10,19h1v1h-1z M12,19h1v1h-1z M13,19h1v1h-1z M16,19h1v1h-1z M17,19h1v1h-1z M18,19h1v1h-1z M20,19h1v1h-1z "
      "M21,19h1v1h-1z M1,20h1v1h-1z M7,20h1v1h-1z M14,20h1v1h-1z M16,20h1v1h-1z M18,20h1v1h-1z M20,20h1v1h-1z "
      "M21,20h1v1h-1z M1,21h1v1h-1z M2,21h1v1h-1z M3,21h1v1h-1z M4,21h1v1h-1z M5,21h1v1h-1z M6,21h1v1h-1z "
      "M7,21h1v1h-1z M11,21h1v1h-1z M12,21h1v1h-1z M13,21h1v1h-1z M15,21h1v1h-1z M16,21h1v1h-1z M17,21h1v1h-1z "
      "M19,21h1v1h-1z M20,21h1v1h-1z";

QString document(int n, const QString& path)
{
    return QLatin1String(kHead) + QString::number(n) + QLatin1Char(' ') + QString::number(n) + QLatin1String(kBody)
        + path + QLatin1String(kTail);
}

// Dark modules of the document's path, in document order; empty when the path
// is not exactly blank-separated "Mx,yh1v1h-1z" commands.
QList<QPoint> modulesOf(const QString& svg)
{
    const int start = svg.indexOf(QLatin1String("<path d=\"")) + 9;
    const int end = svg.indexOf(QLatin1Char('"'), start);
    const QStringList commands = svg.mid(start, end - start).split(QLatin1Char(' '));
    static const QRegularExpression re(QStringLiteral("^M(\\d+),(\\d+)h1v1h-1z$"));
    QList<QPoint> out;
    for (const QString& c : commands) {
        const QRegularExpressionMatch m = re.match(c);
        if (!m.hasMatch())
            return {};
        out << QPoint(m.captured(1).toInt(), m.captured(2).toInt());
    }
    return out;
}

QList<QPoint> darkModules(const qrcodegen::QrCode& qr, int border)
{
    QList<QPoint> out;
    for (int y = 0; y < qr.getSize(); ++y)
        for (int x = 0; x < qr.getSize(); ++x)
            if (qr.getModule(x, y))
                out << QPoint(x + border, y + border);
    return out;
}

int viewBoxSide(const QString& svg)
{
    return svg.section(QLatin1String("viewBox=\"0 0 "), 1).section(QLatin1Char(' '), 0, 0).toInt();
}

bool run(const QString& program, const QStringList& args, QByteArray* out = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << program << args << p.readAllStandardError();
        return false;
    }
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
    QByteArray decode(const QString& svg, int n)
    {
        const QString base = m_dir.filePath(QString::number(++m_files));
        QFile f(base + ".svg");
        if (!f.open(QIODevice::WriteOnly) || f.write(svg.toUtf8()) < 0)
            return "<write failed>";
        f.close();
        const QString side = QString::number(n * 8);
        if (!run("rsvg-convert", { "-w", side, "-h", side, "-o", base + ".png", base + ".svg" }))
            return "<rsvg-convert failed>";
        QByteArray out;
        if (!run("zbarimg", { "--quiet", "--raw", "-Sbinary", base + ".png" }, &out))
            return "<zbarimg failed>";
        return out;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void emptyTextIsCompleteVersionOneDocument()
    {
        QrCodeGenerator gen(nullptr);
        const QString svg = gen.generateSvgQr(QString(), 1, Ecc::MEDIUM);
        QCOMPARE(svg, document(23, QLatin1String(kEmptyPath)));
        QVERIFY(svg.contains(QLatin1String("viewBox=\"0 0 23 23\"")));
        QVERIFY(svg.contains(QLatin1String("<path d=\"M1,1h1v1h-1z M2,1h1v1h-1z")));
        QVERIFY(!svg.contains(QLatin1Char('\n')));
        QCOMPARE(decode(svg, 23), QByteArray());
    }

    void borderShiftsModulesAndViewBox()
    {
        QrCodeGenerator gen(nullptr);
        for (int border : { 0, 1, 4, 65535 }) {
            const QString svg = gen.generateSvgQr(QStringLiteral("LANE-07"), border, Ecc::QUARTILE);
            const qrcodegen::QrCode qr = qrcodegen::QrCode::encodeText("LANE-07", Ecc::QUARTILE);
            const int n = qr.getSize() + 2 * border;
            QVERIFY2(svg.startsWith(QLatin1String(kHead) + QStringLiteral("%1 %1").arg(n) + QLatin1String(kBody)
                         + QStringLiteral("M%1,%1h1v1h-1z").arg(border)),
                qPrintable(svg.left(400)));
            QVERIFY(svg.endsWith(QLatin1String(kTail)));
            QCOMPARE(modulesOf(svg), darkModules(qr, border));
        }
        // The toSvgString of a library symbol is the same document.
        const qrcodegen::QrCode qr = qrcodegen::QrCode::encodeText("x", Ecc::LOW);
        QCOMPARE(gen.toSvgString(qr, 0), gen.generateSvgQr(QStringLiteral("x"), 0, Ecc::LOW));
        QVERIFY(gen.toSvgString(qr, 0).contains(QLatin1String("viewBox=\"0 0 21 21\"")));
        QVERIFY(gen.toSvgString(qr, 0).contains(QLatin1String("<path d=\"M0,0h1v1h-1z M1,0h1v1h-1z")));
    }

    void decodesBackToText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("border");
        QTest::addColumn<int>("ecc");
        QTest::newRow("self-test summary")
            << QStringLiteral("RFID:OK;Dispenser:OK;Barrier:ERROR;NTP:WARNING") << 1 << int(Ecc::MEDIUM);
        QTest::newRow("digits, no border") << QStringLiteral("0123456789012345") << 0 << int(Ecc::HIGH);
        QTest::newRow("greek, cjk, dash") << QStringLiteral("Τελωνείο – Zoll ÄÖÜ 税関") << 1 << int(Ecc::MEDIUM);
        QTest::newRow("emoji") << QStringLiteral("lane \U0001F697 ok") << 2 << int(Ecc::LOW);
        QTest::newRow("long") << QString(600, QLatin1Char('k')) << 4 << int(Ecc::QUARTILE);
    }

    void decodesBackToText()
    {
        QFETCH(QString, text);
        QFETCH(int, border);
        QFETCH(int, ecc);
        QrCodeGenerator gen(nullptr);
        const QString svg = gen.generateSvgQr(text, border, Ecc(ecc));
        QVERIFY(!svg.isEmpty());
        const int n = viewBoxSide(svg);
        QCOMPARE(n, qrcodegen::QrCode::encodeText(text.toUtf8().constData(), Ecc(ecc)).getSize() + 2 * border);
        QCOMPARE(decode(svg, n), text.toUtf8());
    }

    void nulInsideTextIsKept()
    {
        QrCodeGenerator gen(nullptr);
        const QString text = QString::fromUtf8("a\0b", 3);
        const QString svg = gen.generateSvgQr(text, 1, Ecc::MEDIUM);
        QVERIFY(svg != gen.generateSvgQr(QStringLiteral("a"), 1, Ecc::MEDIUM));
        QCOMPARE(decode(svg, 23), QByteArray("a\0b", 3));
    }

    void textTooLongReturnsEmpty()
    {
        QrCodeGenerator gen(nullptr);
        LogCapture log;
        // A version-40 symbol holds 2953 bytes at level low and 1273 at level high.
        const QString fits = gen.generateSvgQr(QString(2953, QLatin1Char('x')), 1, Ecc::LOW);
        QVERIFY(fits.contains(QLatin1String("viewBox=\"0 0 179 179\"")));
        QVERIFY(!gen.generateSvgQr(QString(1273, QLatin1Char('x')), 1, Ecc::HIGH).isEmpty());
        QVERIFY(log.texts(QtCriticalMsg).isEmpty());

        QCOMPARE(gen.generateSvgQr(QString(2954, QLatin1Char('x')), 1, Ecc::LOW), QString());
        QCOMPARE(gen.generateSvgQr(QString(1274, QLatin1Char('x')), 1, Ecc::HIGH), QString());
        // Two-byte characters count twice.
        QCOMPARE(gen.generateSvgQr(QString(1477, QChar(0x00E9)), 1, Ecc::LOW), QString());
        const QStringList errors = log.texts(QtCriticalMsg);
        QCOMPARE(errors.size(), 3);
        for (const QString& e : errors)
            QVERIFY2(e.startsWith(QLatin1String("[QrCodeGenerator] ERROR: ")), qPrintable(e));
        QVERIFY(errors.at(0).contains(QLatin1String("2954 bytes")));

        // Still usable afterwards.
        QVERIFY(!gen.generateSvgQr(QStringLiteral("after"), 1, Ecc::MEDIUM).isEmpty());
    }

    void invalidLevelIsRefused()
    {
        QrCodeGenerator gen(nullptr);
        LogCapture log;
        QCOMPARE(gen.generateSvgQr(QStringLiteral("x"), 1, static_cast<Ecc>(4)), QString());
        QCOMPARE(gen.generateSvgQr(QStringLiteral("x"), 1, static_cast<Ecc>(-1)), QString());
        QCOMPARE(log.startingWith(QStringLiteral("[QrCodeGenerator] ERROR: Invalid error correction level")).size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_QrCodeGenerator)
#include "tst_QrCodeGenerator.moc"
