#include "Card.h"

#include <QJsonValue>

Card::Card(const QString& uid, Type type)
    : Tag(uid, type)
{
}

Card::~Card() = default;

QJsonObject Card::toJson() const
{
    QJsonObject object = Tag::toJson();
    object.insert(QStringLiteral("template"), m_name);
    const QJsonObject layout = data();
    object.insert(QStringLiteral("data"), layout.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(layout));
    return object;
}
