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

bool HttpRequestParser::readHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    QList<QByteArray> codings;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "transfer-encoding") {
            for (const QByteArray& coding : value.split(','))
                codings.append(coding.trimmed());
        } else if (name == "expect" && value == "100-continue") {
            m_expectContinue = true;
        }
    }
    // Chunked framing decides over any Content-Length; a body in another outer coding
    // has no length we could know.
    if (!codings.isEmpty()) {
        m_chunked = codings.last() == "chunked";
        return m_chunked;
    }
    const qint64 length = HttpFraming::contentLength(lines, &m_invalidContentLength);
    // Without a usable Content-Length the body is what came with the head.
    m_expectedSize = length >= 0 ? m_bodyStart + length : m_data.size();
    return true;
}

bool HttpRequestParser::expectsContinue() const
{
    return m_expectContinue && m_state == Incomplete && m_bodyStart >= 0 && m_data.size() == m_bodyStart
        && m_raw.isEmpty();
}

HttpRequestParser::State HttpRequestParser::fail(State state)
{
    m_data.clear();
    m_raw.clear();
    return m_state = state;
}

HttpRequestParser::State HttpRequestParser::append(const QByteArray& bytes)
{
    if (m_state != Incomplete)
        return m_state;
    if (m_received + bytes.size() > m_maxSize)
        return fail(TooLarge);
    m_received += bytes.size();

    if (m_bodyStart < 0) {
        const int scanFrom = m_data.size();
        m_data.append(bytes);
        int separatorLength = 0;
        const int pos = findSeparator(m_data, scanFrom, &separatorLength);
        if (pos < 0)
            return m_state;
        m_bodyStart = pos + separatorLength;
        if (!readHead(m_data.left(pos)))
            return fail(Malformed);
        if (m_chunked) {
            m_raw = m_data.mid(m_bodyStart);
            m_data.truncate(m_bodyStart);
        } else if (m_expectedSize > m_maxSize) {
            return fail(TooLarge);
        }
    } else if (m_chunked) {
        m_raw.append(bytes);
    } else {
        m_data.append(bytes);
    }

    if (m_chunked)
        return decodeChunks();
    if (m_data.size() < m_expectedSize)
        return m_state;
    m_data.truncate(int(m_expectedSize));
    return m_state = Complete;
}

HttpRequestParser::State HttpRequestParser::decodeChunks()
{
    switch (m_chunks.decodeChunks(&m_raw, &m_data, m_maxSize)) {
    case HttpFraming::Chunks::Incomplete:
        return m_state;
    case HttpFraming::Chunks::TooLarge:
        return fail(TooLarge);
    case HttpFraming::Chunks::Malformed:
        return fail(Malformed);
    case HttpFraming::Chunks::Complete:
        break;
    }
    m_raw.clear(); // anything after the last chunk is not part of the request
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
