#include "HttpRequestParser.h"

#include <QList>
#include <QRegularExpression>

namespace {

const QByteArray CrLfSeparator("\r\n\r\n");
const QByteArray LfSeparator("\n\n");

const QRegularExpression& httpRegex()
{
    static const QRegularExpression regex(QStringLiteral("^(\\w+)\\s+([^\\s?]+)"));
    return regex;
}

} // namespace

HttpRequestParser::HttpRequestParser(qint64 maxSize)
    : m_maxSize(maxSize)
{
}

int HttpRequestParser::findSeparator(const QByteArray& data, int from, int* separatorLength)
{
    // CR LF CR LF decides whenever it occurs, even after an earlier LF LF.
    int pos = data.indexOf(CrLfSeparator, qMax(0, from - (CrLfSeparator.size() - 1)));
    if (pos >= 0) {
        *separatorLength = CrLfSeparator.size();
        return pos;
    }
    pos = data.indexOf(LfSeparator, qMax(0, from - (LfSeparator.size() - 1)));
    if (pos >= 0)
        *separatorLength = LfSeparator.size();
    return pos;
}

qint64 HttpRequestParser::contentLength(const QByteArray& head)
{
    qint64 length = -1;
    const QList<QByteArray> lines = head.split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const int colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed().toLower() != "content-length")
            continue;
        const QByteArray value = line.mid(colon + 1).trimmed();
        bool ok = !value.isEmpty() && value.size() <= 18;
        for (char c : value)
            ok = ok && c >= '0' && c <= '9';
        const qint64 parsed = ok ? value.toLongLong() : -1;
        if (!ok || (length >= 0 && parsed != length)) {
            m_invalidContentLength = true;
            return -1;
        }
        length = parsed;
    }
    return length;
}

HttpRequestParser::State HttpRequestParser::append(const QByteArray& bytes)
{
    if (m_state != Incomplete)
        return m_state;
    if (m_data.size() + qint64(bytes.size()) > m_maxSize) {
        m_data.clear();
        return m_state = TooLarge;
    }
    const int scanFrom = m_data.size();
    m_data.append(bytes);

    if (m_bodyStart < 0) {
        int separatorLength = 0;
        const int pos = findSeparator(m_data, scanFrom, &separatorLength);
        if (pos < 0)
            return m_state;
        m_bodyStart = pos + separatorLength;
        const qint64 length = contentLength(m_data.left(pos));
        // Without a usable Content-Length the body is what came with the head.
        m_expectedSize = length >= 0 ? m_bodyStart + length : m_data.size();
        if (m_expectedSize > m_maxSize) {
            m_data.clear();
            return m_state = TooLarge;
        }
    }
    if (m_data.size() < m_expectedSize)
        return m_state;
    m_data.truncate(int(m_expectedSize));
    return m_state = Complete;
}

bool HttpRequestParser::parse(const QByteArray& data, HttpServer::Request* request)
{
    int separatorLength = 0;
    const int pos = findSeparator(data, 0, &separatorLength);
    QByteArray head = pos >= 0 ? data.left(pos) : QByteArray();
    const int nul = head.indexOf('\0');
    if (nul >= 0)
        head.truncate(nul);

    const QRegularExpressionMatch match = httpRegex().match(QString::fromUtf8(head));
    if (!match.hasMatch())
        return false;
    request->method = match.captured(1);
    request->path = match.captured(2);
    request->body = data.mid(pos + separatorLength);
    return true;
}
