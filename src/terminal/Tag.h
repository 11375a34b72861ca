#pragma once
// What the RFID reader reports about a card in its field: uid and technology type.

#include <QJsonObject>
#include <QSharedPointer>
#include <QString>

class Tag
{
public:
    using Ptr = QSharedPointer<Tag>;

    // One bit per card technology. The type travels as a plain integer, so any
    // 32-bit value (flag combinations included) must be representable.
    enum Type : qint32 {
        Unknown = 0,
        ISO14443_4A = 1,
        ISO14443_4B = 2,
        MifareClassic1K = 4,
        MifareClassic4K = 8,
        MifarePlus2K = 16,
        MifarePlus4K = 32,
        MifareUltralight = 64,
        MifareMini = 128,
        MifareDesfire = 256,
        EMV = 512,
        Other = 32768,
    };

    Tag() = default;
    Tag(const QString& uid, Type type);
    virtual ~Tag();

    const QString& uid() const { return m_uid; }
    Type type() const { return m_type; }
    void setUid(const QString& uid) { m_uid = uid; }
    void setType(Type type) { m_type = type; }

    // {"uid": ..., "type": ...}
    virtual QJsonObject toJson() const;

    // A plain tag from "uid" and "type"; other keys are ignored, wrong types read as empty/0.
    static Ptr fromJson(const QJsonObject& object);
    // Display name of a single technology; combinations and unnamed bits give "Unknown".
    static QString typeToStr(Type type);

private:
    QString m_uid;
    Type m_type = Unknown;
};
