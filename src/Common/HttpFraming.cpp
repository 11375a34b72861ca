#include "HttpFraming.h"

#include <cctype>

qint64 HttpFraming::contentLength(const QList<QByteArray>& headLines, bool* invalid)
{
    *invalid = false;
    qint64 length = -1;
    for (int i = 1; i < headLines.size(); ++i) {
        const QByteArray& line = headLines.at(i);
        const int colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed().toLower() != "content-length")
            continue;
        // A list of one same value is what a proxy that merges repeated fields makes of them.
        for (const QByteArray& item : line.mid(colon + 1).split(',')) {
            const QByteArray value = item.trimmed();
            bool ok = !value.isEmpty() && value.size() <= 18;
            for (char c : value)
                ok = ok && c >= '0' && c <= '9';
            const qint64 parsed = ok ? value.toLongLong() : -1;
            if (!ok || (length >= 0 && parsed != length)) {
                *invalid = true;
                return -1;
            }
            length = parsed;
        }
    }
    return length;
}

HttpFraming::Chunks HttpFraming::decodeChunks(QByteArray* raw, QByteArray* body, qint64 maxSize)
{
    // Longest chunk-size or trailer line taken; hex sizes beyond 15 digits do not fit.
    const int maxLine = 4096;
    int pos = 0;
    Chunks result = Chunks::Incomplete;
    while (result == Chunks::Incomplete) {
        if (m_step == Step::Data) {
            const int take = int(qMin<qint64>(m_chunkLeft, raw->size() - pos));
            body->append(raw->constData() + pos, take);
            pos += take;
            m_chunkLeft -= take;
            if (m_chunkLeft > 0)
                break;
            m_step = Step::DataEnd;
            continue;
        }
        if (m_step == Step::DataEnd) {
            if (pos < raw->size() && raw->at(pos) == '\n') {
                ++pos;
            } else if (pos + 1 < raw->size() && raw->at(pos) == '\r' && raw->at(pos + 1) == '\n') {
                pos += 2;
            } else if (pos + 1 < raw->size() || (pos < raw->size() && raw->at(pos) != '\r')) {
                return Chunks::Malformed;
            } else {
                break;
            }
            m_step = Step::Size;
            continue;
        }
        const int end = raw->indexOf('\n', pos);
        if (end < 0) {
            if (raw->size() - pos > maxLine)
                return Chunks::Malformed;
            break;
        }
        QByteArray line = raw->mid(pos, end - pos);
        pos = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (m_step == Step::Trailer) {
            // Trailer fields are not kept; the empty line ends the message.
            if (line.isEmpty())
                result = Chunks::Complete;
            continue;
        }
        const int extension = line.indexOf(';');
        const QByteArray digits = (extension >= 0 ? line.left(extension) : line).trimmed();
        bool ok = !digits.isEmpty() && digits.size() <= 15;
        for (char c : digits)
            ok = ok && std::isxdigit(static_cast<unsigned char>(c));
        if (!ok)
            return Chunks::Malformed;
        const qint64 size = digits.toLongLong(nullptr, 16);
        if (body->size() + size > maxSize)
            return Chunks::TooLarge;
        m_chunkLeft = size;
        m_step = size == 0 ? Step::Trailer : Step::Data;
    }
    raw->remove(0, pos);
    return result;
}
