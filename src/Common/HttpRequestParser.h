#pragma once
// Gathers the bytes of one pushed HTTP request as they arrive on a connection and
// splits a complete request into method, path and body. No sockets involved.

#include "HttpServer.h"

#include <QByteArray>

class HttpRequestParser
{
public:
    enum State {
        Incomplete, // the head or the announced body is still missing
        Complete, // data() holds the whole request
        TooLarge // the request would exceed the size limit; data() is empty
    };

    explicit HttpRequestParser(qint64 maxSize = HttpServer::DefaultMaxRequestSize);

    // Adds bytes read from the connection. Bytes after a complete request are ignored.
    State append(const QByteArray& bytes);
    State state() const { return m_state; }
    const QByteArray& data() const { return m_data; }
    // True when the head carried a Content-Length that is not one decimal number.
    bool invalidContentLength() const { return m_invalidContentLength; }

    // Splits a received request: the head ends at the first CR LF CR LF, or else at
    // the first LF LF, and must start with a method and a path. False when it does not.
    static bool parse(const QByteArray& data, HttpServer::Request* request);

private:
    static int findSeparator(const QByteArray& data, int from, int* separatorLength);
    // -1 when absent or unusable.
    qint64 contentLength(const QByteArray& head);

    qint64 m_maxSize;
    State m_state = Incomplete;
    QByteArray m_data;
    int m_bodyStart = -1;
    qint64 m_expectedSize = -1;
    bool m_invalidContentLength = false;
};
