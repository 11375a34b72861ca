#include "PeerText.h"

#include <QDebug>

namespace {

// The escape of a character that must not reach a log line as it is, or a null string.
QString escapeOf(QChar c)
{
    const ushort u = c.unicode();
    switch (u) {
    case '\n':
        return QStringLiteral("\\n");
    case '\r':
        return QStringLiteral("\\r");
    case '\t':
        return QStringLiteral("\\t");
    default:
        break;
    }
    if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
        return QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    // Separators some viewers break lines at; overrides that reorder what follows.
    if (u == 0x2028 || u == 0x2029 || (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069))
        return QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
    return QString();
}

// inputCut: text is only the start of what the peer sent, fullSize units long.
QString escaped(const QString& text, int maxChars, bool inputCut, qint64 fullSize, const char* unit)
{
    const int limit = qMax(0, maxChars);
    QString out;
    out.reserve(qMin(text.size(), limit) + 16);
    bool cut = false;
    for (const QChar c : text) {
        const QString escape = escapeOf(c);
        const int width = escape.isNull() ? 1 : escape.size();
        if (out.size() + width > limit) {
            cut = true;
            break;
        }
        if (escape.isNull())
            out += c;
        else
            out += escape;
    }
    if (!cut && !inputCut)
        return out;
    // Half of a surrogate pair is no character.
    if (!out.isEmpty() && QChar(out.back()).isHighSurrogate())
        out.chop(1);
    return out + QStringLiteral("...[shortened, %1 %2 in all]").arg(fullSize).arg(QLatin1String(unit));
}

} // namespace

QString PeerText::forLog(const QString& text, int maxChars)
{
    return escaped(text, maxChars, false, text.size(), "characters");
}

QString PeerText::forLog(const QByteArray& utf8, int maxChars)
{
    // No character takes more than four bytes: the prefix holds all that can be shown.
    const qint64 shown = qMin<qint64>(utf8.size(), qint64(qMax(0, maxChars)) * 4);
    return escaped(
        QString::fromUtf8(utf8.constData(), int(shown)), maxChars, shown < utf8.size(), utf8.size(), "bytes");
}

QString PeerText::jsonForLog(const QJsonValue& value, int maxChars)
{
    QString text;
    QDebug(&text).noquote().nospace() << value;
    return forLog(text, maxChars);
}
