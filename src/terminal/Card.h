#pragma once
// A tag that carries a data layout: the layout's template name and its contents as JSON.

#include "Tag.h"

#include <QJsonObject>
#include <QSharedPointer>
#include <QString>

class Card : public Tag
{
public:
    using Ptr = QSharedPointer<Card>;

    Card() = default;
    Card(const QString& uid, Type type);
    ~Card() override;

    const QString& name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }

    // The tag object plus "template" and "data" (null when the layout has no keys).
    QJsonObject toJson() const override;

    virtual QJsonObject data() const = 0;
    virtual void setData(const QJsonObject& data) = 0;

private:
    QString m_name;
};
