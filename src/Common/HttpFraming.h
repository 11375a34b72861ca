#pragma once
// Where the body of an HTTP/1.1 message ends: the Content-Length of its head and the decoding
// of a chunked body, shared by the listener's request parser and the client's reply parser.

#include <QByteArray>
#include <QList>

class HttpFraming
{
public:
    enum class Chunks {
        Incomplete, // more chunks, or the end of the trailer, still to come
        Complete, // the last chunk and the trailer are in
        TooLarge, // the chunks announce more than the limit
        Malformed // a chunk size or a chunk's end that cannot be read
    };

    // The announced body length of a head split into lines (the first, the start line, is
    // skipped): -1 without a Content-Length. Repeated fields and lists must all give one
    // decimal number; *invalid is set when they do not, and -1 returned.
    static qint64 contentLength(const QList<QByteArray>& headLines, bool* invalid);

    // Decodes what can be of the chunked bytes in raw (removing them) into body, the chunk
    // framing and trailer dropped; the body must stay within maxSize.
    Chunks decodeChunks(QByteArray* raw, QByteArray* body, qint64 maxSize);
    // Bytes of the chunk being read that have not come yet.
    qint64 chunkLeft() const { return m_step == Step::Data ? m_chunkLeft : 0; }

private:
    enum class Step { Size, Data, DataEnd, Trailer };

    Step m_step = Step::Size;
    qint64 m_chunkLeft = 0;
};
