#include "Journal.h"

#include <QJsonDocument>
#include <QJsonParseError>

Journal::Journal(QObject* parent)
    : QObject(parent)
{
    m_clock.start();
}

void Journal::record(const QString& device, const QString& path, const QString& id, const QByteArray& payload)
{
    QJsonObject entry {
        { QStringLiteral("seq"), ++m_seq },
        { QStringLiteral("ms"), static_cast<double>(m_clock.elapsed()) },
        { QStringLiteral("device"), device },
        { QStringLiteral("path"), path },
        { QStringLiteral("id"), id },
    };
    if (payload.isEmpty()) {
        entry.insert(QStringLiteral("payload"), QJsonValue(QJsonValue::Null));
    } else {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
        if (error.error == QJsonParseError::NoError)
            entry.insert(
                QStringLiteral("payload"), doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array()));
        else
            entry.insert(QStringLiteral("raw"), QString::fromUtf8(payload));
    }
    m_entries.append(entry);
    emit recorded(entry);
}

void Journal::clear()
{
    m_entries = QJsonArray();
}
