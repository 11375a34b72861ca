#include "Tag.h"

#include <QHash>

Tag::Tag(const QString& uid, Type type)
    : m_uid(uid)
    , m_type(type)
{
}

Tag::~Tag() = default;

QJsonObject Tag::toJson() const
{
    return QJsonObject { { QStringLiteral("uid"), m_uid }, { QStringLiteral("type"), static_cast<int>(m_type) } };
}

Tag::Ptr Tag::fromJson(const QJsonObject& object)
{
    return Ptr::create(object.value(QStringLiteral("uid")).toString(),
        static_cast<Type>(object.value(QStringLiteral("type")).toInt()));
}

QString Tag::typeToStr(Type type)
{
    static const QHash<qint32, QString> names {
        { Unknown, QStringLiteral("Unknown") },
        { ISO14443_4A, QStringLiteral("ISO14443-4A") },
        { ISO14443_4B, QStringLiteral("ISO14443-4B") },
        { MifareClassic1K, QStringLiteral("MIFARE Classic 1K") },
        { MifareClassic4K, QStringLiteral("MIFARE Classic 4K") },
        { MifarePlus2K, QStringLiteral("MIFARE Plus 2K") },
        { MifarePlus4K, QStringLiteral("MIFARE Plus 4K") },
        { MifareUltralight, QStringLiteral("MIFARE Ultralight") },
        { MifareMini, QStringLiteral("MIFARE Mini") },
        { MifareDesfire, QStringLiteral("MIFARE DESFire") },
        { EMV, QStringLiteral("EMV") },
        { Other, QStringLiteral("Other") },
    };
    return names.value(type, QStringLiteral("Unknown"));
}
