#pragma once
// Renders a text as a QR code in a one-line SVG document (black modules on white).

#include <QObject>
#include <QString>

#include <qrcodegen.hpp>

class QrCodeGenerator : public QObject
{
public:
    explicit QrCodeGenerator(QObject* parent = nullptr);

    // The SVG document of text (UTF-8) with border light modules on each side;
    // an empty string, with an error logged, when the text cannot be encoded.
    QString generateSvgQr(const QString& text, unsigned short border, qrcodegen::QrCode::Ecc ecc);
    QString toSvgString(const qrcodegen::QrCode& qr, unsigned short border) const;
};
