#include "QrCodeGenerator.h"

#include <QByteArray>
#include <QDebug>

#include <cstdint>
#include <vector>

QrCodeGenerator::QrCodeGenerator(QObject* parent)
    : QObject(parent)
{
}

QString QrCodeGenerator::generateSvgQr(const QString& text, unsigned short border, qrcodegen::QrCode::Ecc ecc)
{
    const int level = static_cast<int>(ecc);
    if (level < static_cast<int>(qrcodegen::QrCode::Ecc::LOW)
        || level > static_cast<int>(qrcodegen::QrCode::Ecc::HIGH)) {
        // The library indexes its tables with the level unchecked.
        qCritical().noquote().nospace() << "[QrCodeGenerator] ERROR: Invalid error correction level " << level;
        return QString();
    }

    const QByteArray utf8 = text.toUtf8();
    try {
        if (utf8.contains('\0')) {
            // encodeText would stop at the NUL; such a text is byte mode anyway.
            const std::vector<std::uint8_t> bytes(utf8.cbegin(), utf8.cend());
            return toSvgString(qrcodegen::QrCode::encodeBinary(bytes, ecc), border);
        }
        return toSvgString(qrcodegen::QrCode::encodeText(utf8.constData(), ecc), border);
    } catch (const qrcodegen::data_too_long& e) {
        qCritical().noquote().nospace() << "[QrCodeGenerator] ERROR: Text of " << utf8.size()
                                        << " bytes does not fit into a QR code: " << e.what();
        return QString();
    }
}

QString QrCodeGenerator::toSvgString(const qrcodegen::QrCode& qr, unsigned short border) const
{
    const int size = qr.getSize();
    const QString n = QString::number(size + 2 * int(border));

    QString svg;
    // About half the modules are dark, each some 16 characters.
    svg.reserve(400 + size * size * 9);
    svg += QLatin1String("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    svg += QLatin1String("<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
                         "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">");
    svg += QLatin1String("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" viewBox=\"0 0 ");
    svg += n;
    svg += QLatin1Char(' ');
    svg += n;
    svg += QLatin1String("\" stroke=\"none\"><rect width=\"100%\" height=\"100%\" fill=\"#FFFFFF\"/><path d=\"");
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (!qr.getModule(x, y))
                continue;
            if (x != 0 || y != 0)
                svg += QLatin1Char(' ');
            svg += QLatin1Char('M');
            svg += QString::number(x + border);
            svg += QLatin1Char(',');
            svg += QString::number(y + border);
            svg += QLatin1String("h1v1h-1z");
        }
    }
    svg += QLatin1String("\" fill=\"#000000\"/></svg>");
    return svg;
}
