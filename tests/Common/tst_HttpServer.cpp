#include "HttpServer.h"

#include "LogCapture.h"
#include "TestPorts.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QByteArray Reply("HTTP/1.1 200 OK\r\n\r\n");

// One peer connection driven from the test: collects every byte the listener sends.
class Peer : public QObject
{
public:
    explicit Peer(quint16 port)
    {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] { received += m_socket.readAll(); });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { closed = true; });
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] { closed = true; });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        connected = m_socket.waitForConnected(5000);
    }
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }

    bool connected = false;
    bool closed = false;
    QByteArray received;

private:
    QTcpSocket m_socket;
};

} // namespace

class tst_HttpServer : public QObject
{
    Q_OBJECT

private:
    // A listener on a free port whose emissions land in m_emitted as "METHOD PATH BODY".
    std::unique_ptr<HttpServer> startServer()
    {
        auto server = std::make_unique<HttpServer>();
        m_port = testsupport::freePort();
        server->listen(m_port);
        watch(*server);
        return server;
    }

    void watch(HttpServer& server)
    {
        connect(&server, &HttpServer::requestReceived, this, [this](QHostAddress peer, HttpServer::Request r) {
            QCOMPARE(QHostAddress(peer.toIPv4Address()), QHostAddress(QHostAddress::LocalHost));
            m_emitted << r.method.toUtf8() + ' ' + r.path.toUtf8() + ' ' + r.body;
        });
    }

    // Sends the parts with pauses between them and waits for the connection to end. Until the
    // last part is in, nothing may be emitted and the peer must not be told 200.
    QByteArray exchange(const QList<QByteArray>& parts)
    {
        Peer peer(m_port);
        const int emitted = m_emitted.size();
        for (int i = 0; peer.connected && i < parts.size(); ++i) {
            peer.send(parts.at(i));
            if (i + 1 < parts.size()) {
                QTest::qWait(100);
                if (!peer.received.isEmpty() || peer.closed || m_emitted.size() != emitted)
                    return "early answer";
            }
        }
        if (!peer.connected || !QTest::qWaitFor([&] { return peer.closed; }, 5000))
            return "not closed";
        return peer.received;
    }
    QByteArray exchange(const QByteArray& bytes) { return exchange(QList<QByteArray> { bytes }); }

    bool refused(quint16 port)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return !socket.waitForConnected(3000) && socket.error() == QAbstractSocket::ConnectionRefusedError;
    }

    QList<QByteArray> m_emitted;
    quint16 m_port = 0;

private slots:
    void init() { m_emitted.clear(); }

    void singleWriteRequests()
    {
        // Raw request, and what is emitted ("" for nothing).
        const QList<QPair<QByteArray, QByteArray>> cases {
            { "GET /local/plate?id=7&x=1 HTTP/1.1\r\nHost: a\r\n\r\n", "GET /local/plate " },
            { "POST /push HTTP/1.1\r\nContent-Length: 13\r\n\r\n{\"plate\":\"A\"}", "POST /push {\"plate\":\"A\"}" },
            { "POST /p HTTP/1.1\r\ncontent-LENGTH:  3 \r\n\r\nabcdef", "POST /p abc" },
            { "POST /p HTTP/1.1\r\n\r\nraw body", "POST /p raw body" },
            { "POST /lf HTTP/1.1\nContent-Length: 4\n\nab\ncd", "POST /lf ab\nc" },
            { "POST /a HTTP/1.1\n\nxx\r\n\r\nbody", "POST /a body" },
            { QByteArray("PUT /x\0junk HTTP/1.1\r\n\r\nbo\0dy", 29), QByteArray("PUT /x bo\0dy", 12) },
            { QByteArray("GET\0 /x HTTP/1.1\r\n\r\n", 20), "" },
            { " GET / HTTP/1.1\r\n\r\n", "" },
            { "G\xc3\x8bT / HTTP/1.1\r\n\r\n", "" },
            { "M_1\t/a/b#c HTTP/1.1\r\n\r\n", "M_1 /a/b#c " },
        };
        auto server = startServer();
        for (const auto& c : cases) {
            LogCapture log;
            m_emitted.clear();
            QCOMPARE(exchange(c.first), Reply);
            QCOMPARE(m_emitted, c.second.isEmpty() ? QList<QByteArray>() : QList<QByteArray> { c.second });
            QCOMPARE(log.startingWith("[HttpServer] New connection received from : ").size(), 1);
            const QList<QByteArray> w = c.second.split(' ');
            QCOMPARE(log.texts(QtDebugMsg).filter("HTTP request received").join(""),
                w.size() < 2 ? QString() : "[HttpServer] HTTP request received : method=" + w[0] + ", path=" + w[1]);
        }
    }

    void splitAcrossWrites()
    {
        auto server = startServer();
        const QByteArray body(3000, 'x');
        QCOMPARE(exchange({ "POST /cam/push HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Len", "gth: 3000\r\n\r",
                     "\n" + body.left(1000), body.mid(1000) }),
            Reply);
        // LF-only head split between its two LF bytes.
        QCOMPARE(exchange({ "POST /lf HTTP/1.1\nContent-Length: 2\n", "\nok" }), Reply);
        QCOMPARE(m_emitted, QList<QByteArray>({ "POST /cam/push " + body, "POST /lf ok" }));

        // Without Content-Length the body is what arrived with the head.
        m_emitted.clear();
        Peer noLength(m_port);
        noLength.send("POST /n HTTP/1.1\r\n\r\nfirst");
        QTRY_VERIFY_WITH_TIMEOUT(noLength.closed, 5000);
        noLength.send("second");
        QCOMPARE(noLength.received, Reply);
        QCOMPARE(m_emitted, QList<QByteArray> { "POST /n first" });
    }

    void incompleteRequests()
    {
        LogCapture log;
        auto server = startServer();
        server->setConnectionDeadline(300);
        Peer silent(m_port), partial(m_port), headless(m_port);
        partial.send("POST /slow HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345");
        headless.send("GET / HTTP/1.1\r\nHost: never ends\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(silent.closed && partial.closed && headless.closed, 5000);
        QCOMPARE(silent.received + partial.received + headless.received, QByteArray());
        QVERIFY(m_emitted.isEmpty());
        const QRegularExpression line("^\\[HttpServer\\] WARN: No complete request within 300 ms, "
                                      "closing connection from : (::ffff:)?127\\.0\\.0\\.1$");
        QCOMPARE(log.texts(QtWarningMsg).filter(line).size(), 3);
        // An aborted connection is not reported a second time as closed by the peer.
        QVERIFY(log.startingWith("[HttpServer] WARN: Connection closed").isEmpty());

        // A peer that leaves mid-request.
        server->setConnectionDeadline(HttpServer::DefaultConnectionDeadlineMs);
        log.clear();
        {
            Peer peer(m_port);
            peer.send("POST /x HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc");
            QTRY_VERIFY_WITH_TIMEOUT(!log.startingWith("[HttpServer] New connection").isEmpty(), 5000);
            QTest::qWait(50);
        }
        const QString dropped = "[HttpServer] WARN: Connection closed before the request was complete, 44 bytes ";
        QTRY_COMPARE_WITH_TIMEOUT(log.startingWith(dropped + "dropped from : ").size(), 1, 5000);
        QVERIFY(m_emitted.isEmpty());

        // A Content-Length that is no number: the body is what came with the head, and the log says so.
        QCOMPARE(exchange("POST /odd HTTP/1.1\r\nContent-Length: 12abc\r\n\r\nbody"), Reply);
        QCOMPARE(m_emitted, QList<QByteArray> { "POST /odd body" });
        QCOMPARE(
            log.startingWith("[HttpServer] WARN: Invalid Content-Length, taking the body as received from : ").size(),
            1);
    }

    void oversizedRequests()
    {
        LogCapture log;
        auto server = startServer();
        const int limit = int(HttpServer::DefaultMaxRequestSize);
        const QByteArray head = "POST /big HTTP/1.1\r\nContent-Length: ";
        const QRegularExpression refusal("^\\[HttpServer\\] WARN: Request larger than 8388608 bytes, closing "
                                         "connection from : (::ffff:)?127\\.0\\.0\\.1$");

        // Announced too large: refused before the body is sent.
        QCOMPARE(exchange(head + QByteArray::number(limit) + "\r\n\r\n"), QByteArray());
        QCOMPARE(log.texts(QtWarningMsg).filter(refusal).size(), 1);
        // A stream without any head separator is cut off at the limit.
        QCOMPARE(exchange(QByteArray(limit + 1, 'a')), QByteArray());
        QCOMPARE(log.texts(QtWarningMsg).filter(refusal).size(), 2);
        QVERIFY(m_emitted.isEmpty());

        // Exactly at the limit: accepted whole.
        const int bodySize = limit - head.size() - 11;
        QCOMPARE(exchange(head + QByteArray::number(bodySize) + "\r\n\r\n" + QByteArray(bodySize, 'b')), Reply);
        QCOMPARE(m_emitted.size(), 1);
        QCOMPARE(m_emitted.front().size(), 10 + bodySize);
    }

    void connectionLimit()
    {
        LogCapture log;
        auto server = startServer();
        std::vector<std::unique_ptr<Peer>> peers;
        for (int i = 0; i < 65; ++i) {
            peers.push_back(std::make_unique<Peer>(m_port));
            // Let the listener take each connection in turn, so the 65th is the last one.
            QTRY_COMPARE_WITH_TIMEOUT(log.startingWith("[HttpServer] New connection").size(), i + 1, 5000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(peers.back()->closed, 5000);
        QVERIFY(peers.back()->received.isEmpty());
        QCOMPARE(
            log.startingWith("[HttpServer] WARN: Too many connections (64), closing connection from : ").size(), 1);
        peers.pop_back();
        for (int i = 0; i < 64; ++i) {
            QVERIFY(!peers.at(i)->closed);
            peers.at(i)->send("POST /n HTTP/1.1\r\nContent-Length: 1\r\n\r\nx");
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(peers.begin(), peers.end(), [](const auto& p) { return p->closed; }), 10000);
        for (const auto& peer : peers)
            QCOMPARE(peer->received, Reply);
        QCOMPARE(m_emitted.size(), 64);
        // Finished connections free their places.
        QTRY_COMPARE_WITH_TIMEOUT(exchange("GET /again HTTP/1.1\r\n\r\n"), Reply, 5000);
        QCOMPARE(m_emitted.back(), QByteArray("GET /again "));
    }

    void listenAndClose()
    {
        LogCapture log;
        HttpServer server;
        watch(server);
        m_port = testsupport::freePort();
        const QString listening = QStringLiteral("[HttpServer] Listening for HTTP requests on : 0.0.0.0:%1");

        // Twice on the same port: closes, binds again, logs twice, still serves.
        server.listen(m_port);
        server.listen(m_port);
        QCOMPARE(log.count(listening.arg(m_port)), 2);
        QCOMPARE(exchange("GET /twice HTTP/1.1\r\n\r\n"), Reply);
        QCOMPARE(m_emitted.size(), 1);
        // Close twice: one line, then the port is shut.
        server.close();
        server.close();
        QCOMPARE(log.count("[HttpServer] Stopped listening for HTTP requests"), 1);
        QVERIFY(refused(m_port));
        QVERIFY(log.texts(QtCriticalMsg).isEmpty());

        // A port that is already taken.
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::Any, m_port));
        log.clear();
        server.listen(m_port);
        QCOMPARE(log.texts(),
            QStringList({ listening.arg(m_port),
                "[HttpServer] ERROR: Failed to listen : The bound address is already in use" }));
        blocker.close();
        QVERIFY(refused(m_port));
        server.close();
        QVERIFY(!log.contains("[HttpServer] Stopped listening for HTTP requests"));

        // Ports outside 1-65535 are refused, and a port that was open is closed.
        server.listen(m_port);
        for (int bad : { 70000, 0, -1, 65536 + m_port }) {
            log.clear();
            server.listen(bad);
            QCOMPARE(log.texts(),
                QStringList({ listening.arg(bad),
                    QStringLiteral("[HttpServer] ERROR: Failed to listen : port %1 is outside 1-65535").arg(bad) }));
            QVERIFY(refused(m_port));
        }
    }
};

QTEST_GUILESS_MAIN(tst_HttpServer)
#include "tst_HttpServer.moc"
