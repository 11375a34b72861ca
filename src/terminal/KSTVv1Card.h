#pragma once
// Version 1 of the terminal's card layout: status word, issuing customs id,
// usage counter and usage log.

#include "Card.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QSharedPointer>
#include <QString>

#include <optional>

class KSTVv1Card : public Card
{
public:
    // One entry of the usage log.
    struct _Usage
    {
        QString type;
        QString deviceId;
        QString locationId;
        QDateTime timestamp;
        int usageCounter = 0;

        // The timestamp as "yyyy-MM-ddThh:mm:ss" local time; an invalid one as "".
        QJsonObject toJson() const;
        // Overwrites all five fields from a usage object and returns this entry.
        _Usage& fromJson(const QJsonObject& object);

        bool operator==(const _Usage& other) const;
        bool operator!=(const _Usage& other) const { return !(*this == other); }
    };

    // The template name of this layout, "KSTVv1".
    static const QString Name;

    KSTVv1Card();
    ~KSTVv1Card() override;

    // A record from a card object; missing or mistyped keys read as empty/0.
    static QSharedPointer<KSTVv1Card> fromJson(const QJsonObject& object);

    QString status() const { return m_status; }
    int customsId() const { return m_customsId; }
    int usageCounter() const { return m_usageCounter; }
    // The entries read from a card record (setData), in card order.
    const QList<_Usage>& usageLogs() const { return m_usageLogs; }
    // The entries added since the record was built; only these are written by data().
    const QList<_Usage>& newUsageLogs() const { return m_newUsageLogs; }
    // A copy of the last read entry, so a later setData cannot leave the caller
    // with a dangling reference; empty when no entry was read.
    std::optional<_Usage> lastUsage() const;

    void setStatus(const QString& status) { m_status = status; }
    void setCustomsId(int customsId) { m_customsId = customsId; }
    void incrUsageCounter(int n);

    // Adds an entry stamped now, carrying the usage counter as it is at this moment.
    void addUsageLog(const QString& type, const QString& deviceId, const QString& locationId);
    void addUsageLog(const _Usage& usage);

    QJsonObject data() const override;
    // Reads info and counter, and appends the record's usage entries to usageLogs.
    void setData(const QJsonObject& data) override;

private:
    QString m_status = QStringLiteral("available");
    int m_customsId = 0;
    int m_usageCounter = 0;
    QList<_Usage> m_usageLogs;
    QList<_Usage> m_newUsageLogs;
};
