#include "HttpReplyParser.h"

#include <limits>

QByteArray HttpReplyParser::header(const QByteArray& name) const
{
    QByteArrayList values;
    for (const auto& field : m_headers)
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            values.append(field.second);
    return values.join(", ");
}

qint64 HttpReplyParser::announced() const
{
    if (m_framing == Framing::Chunked)
        return m_body.size() + m_chunks.chunkLeft();
    return m_length;
}

bool HttpReplyParser::keepAlive() const
{
    if (m_state != Complete || m_framing == Framing::UntilClose || !m_raw.isEmpty())
        return false;
    const QByteArray connection = header("connection").toLower();
    if (m_version == "HTTP/1.0")
        return connection.contains("keep-alive");
    return !connection.contains("close");
}

bool HttpReplyParser::readHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QByteArray statusLine = lines.value(0).trimmed();
    const int firstBlank = statusLine.indexOf(' ');
    m_version = statusLine.left(firstBlank);
    const QByteArray code = statusLine.mid(firstBlank + 1, 3);
    bool ok = firstBlank > 0 && m_version.startsWith("HTTP/1.") && code.size() == 3
        && (statusLine.size() == firstBlank + 4 || statusLine.at(firstBlank + 4) == ' ');
    for (char c : code)
        ok = ok && c >= '0' && c <= '9';
    m_status = ok ? code.toInt() : 0;
    if (m_status < 100)
        return false;
    m_reason = statusLine.mid(firstBlank + 5);
    m_headers.clear();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon <= 0)
            return false;
        m_headers.append({ lines.at(i).left(colon).trimmed(), lines.at(i).mid(colon + 1).trimmed() });
    }

    bool invalidLength = false;
    m_length = HttpFraming::contentLength(lines, &invalidLength);
    const QByteArray codings = header("transfer-encoding").toLower();
    if (m_status == 204 || m_status == 304) {
        m_framing = Framing::None; // no body, whatever the head says
        m_length = 0;
    } else if (!codings.isEmpty()) {
        // Chunked framing decides over any Content-Length; another outer coding ends with the connection.
        m_length = -1;
        m_framing = codings.split(',').last().trimmed() == "chunked" ? Framing::Chunked : Framing::UntilClose;
    } else if (invalidLength) {
        return false;
    } else {
        m_framing = m_length >= 0 ? Framing::Length : Framing::UntilClose;
    }
    return true;
}

HttpReplyParser::State HttpReplyParser::readBody()
{
    switch (m_framing) {
    case Framing::None:
        return m_state = Complete;
    case Framing::Length: {
        const int take = int(qMin<qint64>(m_length - m_body.size(), m_raw.size()));
        m_body.append(m_raw.left(take));
        m_raw.remove(0, take);
        return m_state = m_body.size() == m_length ? Complete : Incomplete;
    }
    case Framing::Chunked:
        switch (m_chunks.decodeChunks(&m_raw, &m_body, std::numeric_limits<qint64>::max() / 2)) {
        case HttpFraming::Chunks::Complete:
            return m_state = Complete;
        case HttpFraming::Chunks::Incomplete:
            return m_state;
        default:
            return m_state = Malformed;
        }
    case Framing::UntilClose:
        m_body.append(m_raw);
        m_raw.clear();
        return m_state;
    }
    return m_state;
}

HttpReplyParser::State HttpReplyParser::append(const QByteArray& bytes)
{
    if (m_state != Incomplete) {
        m_raw.append(bytes.left(MaxHeadBytes - m_raw.size()));
        return m_state;
    }
    m_raw.append(bytes);
    while (!headComplete()) {
        const int end = m_raw.indexOf("\r\n\r\n");
        if (end < 0 || end > MaxHeadBytes)
            return m_state = m_raw.size() > MaxHeadBytes ? Malformed : Incomplete;
        if (!readHead(m_raw.left(end))) {
            m_status = 0;
            return m_state = Malformed;
        }
        // An interim reply (100 Continue and the like) is dropped: the final one follows.
        m_raw.remove(0, end + 4);
    }
    return readBody();
}

HttpReplyParser::State HttpReplyParser::finish()
{
    if (m_state == Incomplete && headComplete() && m_framing == Framing::UntilClose)
        m_state = Complete;
    return m_state;
}
