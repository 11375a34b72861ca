#include "HttpRequestParser.h"

#include <QList>
#include <QRegularExpression>

#include <cctype>

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

qint64 HttpRequestParser::contentLength(const QList<QByteArray>& lines)
{
    qint64 length = -1;
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
    const qint64 length = contentLength(lines);
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
    // Longest chunk-size or trailer line taken; hex sizes beyond 15 digits do not fit.
    const int maxLine = 4096;
    int pos = 0;
    State state = Incomplete;
    while (state == Incomplete) {
        if (m_step == ChunkStep::Data) {
            const int take = int(qMin<qint64>(m_chunkLeft, m_raw.size() - pos));
            m_data.append(m_raw.constData() + pos, take);
            pos += take;
            m_chunkLeft -= take;
            if (m_chunkLeft > 0)
                break;
            m_step = ChunkStep::DataEnd;
            continue;
        }
        if (m_step == ChunkStep::DataEnd) {
            if (pos < m_raw.size() && m_raw.at(pos) == '\n') {
                ++pos;
            } else if (pos + 1 < m_raw.size() && m_raw.at(pos) == '\r' && m_raw.at(pos + 1) == '\n') {
                pos += 2;
            } else if (pos + 1 < m_raw.size() || (pos < m_raw.size() && m_raw.at(pos) != '\r')) {
                return fail(Malformed);
            } else {
                break;
            }
            m_step = ChunkStep::Size;
            continue;
        }
        const int end = m_raw.indexOf('\n', pos);
        if (end < 0) {
            if (m_raw.size() - pos > maxLine)
                return fail(Malformed);
            break;
        }
        QByteArray line = m_raw.mid(pos, end - pos);
        pos = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (m_step == ChunkStep::Trailer) {
            // Trailer fields are not kept; the empty line ends the request.
            if (line.isEmpty())
                state = Complete;
            continue;
        }
        const int extension = line.indexOf(';');
        const QByteArray digits = (extension >= 0 ? line.left(extension) : line).trimmed();
        bool ok = !digits.isEmpty() && digits.size() <= 15;
        for (char c : digits)
            ok = ok && std::isxdigit(static_cast<unsigned char>(c));
        if (!ok)
            return fail(Malformed);
        const qint64 size = digits.toLongLong(nullptr, 16);
        if (m_data.size() + size > m_maxSize)
            return fail(TooLarge);
        m_chunkLeft = size;
        m_step = size == 0 ? ChunkStep::Trailer : ChunkStep::Data;
    }
    m_raw.remove(0, pos);
    if (state == Complete)
        m_raw.clear(); // anything after the last chunk is not part of the request
    return m_state = state;
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
