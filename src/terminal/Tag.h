#pragma once
// What the RFID reader reports about a card in its field: uid and technology type.

#include <QSharedPointer>
#include <QString>

class Tag
{
public:
    using Ptr = QSharedPointer<Tag>;

    Tag() = default;
    virtual ~Tag() = default;

    const QString& uid() const { return m_uid; }
    void setUid(const QString& uid) { m_uid = uid; }

private:
    QString m_uid;
};
