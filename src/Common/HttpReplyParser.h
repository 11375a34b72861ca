#pragma once
// Reads one HTTP/1.1 reply as its bytes arrive: interim 1xx replies are skipped, the body
// ends by chunked framing, by Content-Length or with the connection, and a reply whose
// connection ends short of what it announced is never complete. No sockets involved.

#include "HttpFraming.h"

#include <QByteArray>
#include <QList>
#include <QPair>

class HttpReplyParser
{
public:
    enum State {
        Incomplete, // the head or the body is still missing
        Complete, // status, headers and the whole body are in
        Malformed // a head or a framing that cannot be read
    };
    // Most bytes of a head, status line and headers together.
    static constexpr int MaxHeadBytes = 64 * 1024;

    // Adds bytes read from the connection; bytes after a complete reply are kept apart.
    State append(const QByteArray& bytes);
    // The connection ended: only a body that runs to the end of the connection is complete then.
    State finish();

    State state() const { return m_state; }
    bool headComplete() const { return m_status >= 200; }
    int status() const { return m_status; }
    const QByteArray& reason() const { return m_reason; }
    // The values of every field of that name (any case), joined by ", ".
    QByteArray header(const QByteArray& name) const;
    const QByteArray& body() const { return m_body; }
    // The body's length from the head, -1 when it does not say.
    qint64 contentLength() const { return m_length; }
    // The most the peer has announced so far: the Content-Length, or the body with the chunk under way.
    qint64 announced() const;
    // True when the connection can carry another request after this complete reply.
    bool keepAlive() const;

private:
    enum class Framing { None, Length, Chunked, UntilClose };

    bool readHead(const QByteArray& head);
    State readBody();

    State m_state = Incomplete;
    QByteArray m_raw; // bytes not taken yet
    int m_status = 0;
    QByteArray m_version;
    QByteArray m_reason;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    Framing m_framing = Framing::None;
    qint64 m_length = -1;
    QByteArray m_body;
    HttpFraming m_chunks;
};
