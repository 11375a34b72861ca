#pragma once
// Gathers the bytes of one pushed HTTP request as they arrive on a connection, decodes
// a chunked body, and splits a complete request into method, path and body. No sockets involved.

#include "HttpFraming.h"
#include "HttpServer.h"

#include <QByteArray>

class HttpRequestParser
{
public:
    enum State {
        Incomplete, // the head or the announced body is still missing
        Complete, // data() holds the whole request
        TooLarge, // the request would exceed the size limit; data() is empty
        Malformed // a chunked body or a transfer coding that cannot be read; data() is empty
    };

    explicit HttpRequestParser(qint64 maxSize = HttpServer::DefaultMaxRequestSize);

    // Adds bytes read from the connection. Bytes after a complete request are ignored.
    State append(const QByteArray& bytes);
    State state() const { return m_state; }
    // The head, its separator and the body; a chunked body is decoded.
    const QByteArray& data() const { return m_data; }
    // True when the head carried a Content-Length that is not one decimal number.
    bool invalidContentLength() const { return m_invalidContentLength; }
    bool headComplete() const { return m_bodyStart >= 0; }
    // True while the head asks "Expect: 100-continue" and no body byte has come yet.
    bool expectsContinue() const;
    // Bytes held for this request.
    qint64 bufferedSize() const { return m_data.size() + m_raw.size(); }
    // Bytes received after the head, as sent (chunk framing included).
    qint64 bodyReceived() const { return m_bodyStart < 0 ? 0 : m_received - m_bodyStart; }

    // Splits a received request: the head ends at the first CR LF CR LF, or else at
    // the first LF LF, and must start with a method and a path. False when it does not.
    static bool parse(const QByteArray& data, HttpServer::Request* request);

private:
    static int findSeparator(const QByteArray& data, int from, int* separatorLength);
    // Reads the framing headers of the head; false when its transfer coding cannot be read.
    bool readHead(const QByteArray& head);
    State decodeChunks();
    State fail(State state);

    qint64 m_maxSize;
    State m_state = Incomplete;
    QByteArray m_data;
    int m_bodyStart = -1;
    qint64 m_expectedSize = -1;
    qint64 m_received = 0;
    bool m_invalidContentLength = false;
    bool m_expectContinue = false;
    bool m_chunked = false;
    // Chunked bytes not decoded yet, and the decoder.
    QByteArray m_raw;
    HttpFraming m_chunks;
};
