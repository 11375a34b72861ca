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

struct Emission
{
    QHostAddress peer;
    HttpServer::Request request;
};

} // namespace

class tst_HttpServer : public QObject
{
    Q_OBJECT

private:
    // A listener on a free port whose emissions land in m_emitted.
    std::unique_ptr<HttpServer> startServer()
    {
        auto server = std::make_unique<HttpServer>();
        connect(
            server.get(), &HttpServer::requestReceived, this, [this](QHostAddress peer, HttpServer::Request request) {
                m_emitted.push_back({ peer, request });
            });
        m_port = testsupport::freePort();
        server->listen(m_port);
        return server;
    }

    // Sends bytes in one write and waits for the connection to end.
    QByteArray exchange(const QByteArray& bytes)
    {
        Peer peer(m_port);
        if (!peer.connected)
            return "not connected";
        peer.send(bytes);
        if (!QTest::qWaitFor([&] { return peer.closed; }, 5000))
            return "not closed";
        return peer.received;
    }

    bool refused(quint16 port)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return !socket.waitForConnected(3000) && socket.error() == QAbstractSocket::ConnectionRefusedError;
    }

    std::vector<Emission> m_emitted;
    quint16 m_port = 0;

private slots:
    void init() { m_emitted.clear(); }

    void singleWriteRequests_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<bool>("emits");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");

        QTest::newRow("query dropped") << QByteArray("GET /local/plate?id=7&x=1 HTTP/1.1\r\nHost: a\r\n\r\n") << true
                                       << "GET"
                                       << "/local/plate" << QByteArray();
        QTest::newRow("content-length body")
            << QByteArray("POST /push HTTP/1.1\r\nContent-Length: 13\r\n\r\n{\"plate\":\"A\"}") << true << "POST"
            << "/push" << QByteArray("{\"plate\":\"A\"}");
        QTest::newRow("header name in any case")
            << QByteArray("POST /p HTTP/1.1\r\ncontent-LENGTH:  3 \r\n\r\nabc") << true << "POST"
            << "/p" << QByteArray("abc");
        QTest::newRow("body without content-length") << QByteArray("POST /p HTTP/1.1\r\n\r\nraw body") << true << "POST"
                                                     << "/p" << QByteArray("raw body");
        QTest::newRow("LF-only head") << QByteArray("POST /lf HTTP/1.1\nContent-Length: 4\n\nab\ncd") << true << "POST"
                                      << "/lf" << QByteArray("ab\ncd").left(4);
        QTest::newRow("CRLF separator wins over earlier LF LF")
            << QByteArray("POST /a HTTP/1.1\n\nxx\r\n\r\nbody") << true << "POST"
            << "/a" << QByteArray("body");
        QTest::newRow("NUL in head ends the decoded head")
            << QByteArray("PUT /x\0junk HTTP/1.1\r\n\r\nbo\0dy", 29) << true << "PUT"
            << "/x" << QByteArray("bo\0dy", 5);
        QTest::newRow("NUL before the path")
            << QByteArray("GET\0 /x HTTP/1.1\r\n\r\n", 20) << false << QString() << QString() << QByteArray();
        QTest::newRow("body beyond content-length ignored")
            << QByteArray("POST /c HTTP/1.1\r\nContent-Length: 2\r\n\r\nabcdef") << true << "POST"
            << "/c" << QByteArray("ab");
        QTest::newRow("leading blank") << QByteArray(" GET / HTTP/1.1\r\n\r\n") << false << QString() << QString()
                                       << QByteArray();
        QTest::newRow("empty first line")
            << QByteArray("\r\n\r\nGET / HTTP/1.1\r\n\r\n") << false << QString() << QString() << QByteArray();
        QTest::newRow("non-ASCII method")
            << QByteArray("G\xc3\x8bT / HTTP/1.1\r\n\r\n") << false << QString() << QString() << QByteArray();
        QTest::newRow("underscore and digits") << QByteArray("M_1\t/a/b#c HTTP/1.1\r\n\r\n") << true << "M_1"
                                               << "/a/b#c" << QByteArray();
    }

    void singleWriteRequests()
    {
        QFETCH(QByteArray, raw);
        QFETCH(bool, emits);
        LogCapture log;
        auto server = startServer();

        QCOMPARE(exchange(raw), Reply);
        QCOMPARE(int(m_emitted.size()), emits ? 1 : 0);
        QVERIFY(log.startingWith("[HttpServer] New connection received from : ").size() == 1);
        if (!emits) {
            QVERIFY(log.startingWith("[HttpServer] HTTP request received").isEmpty());
            return;
        }
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        const Emission& e = m_emitted.front();
        QCOMPARE(e.request.method, method);
        QCOMPARE(e.request.path, path);
        QCOMPARE(e.request.body, body);
        QCOMPARE(QHostAddress(e.peer.toIPv4Address()), QHostAddress(QHostAddress::LocalHost));
        QVERIFY(log.contains(
            QtDebugMsg, QStringLiteral("[HttpServer] HTTP request received : method=%1, path=%2").arg(method, path)));
    }

    void splitAcrossWrites()
    {
        auto server = startServer();
        const QByteArray body(3000, 'x');
        const QList<QByteArray> parts { "POST /cam/push HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Len", "gth: 3000\r\n\r",
            "\n" + body.left(1000), body.mid(1000) };
        Peer peer(m_port);
        QVERIFY(peer.connected);
        for (int i = 0; i < parts.size(); ++i) {
            peer.send(parts.at(i));
            if (i + 1 < parts.size()) {
                // Until the last byte is in, the camera must not be told 200.
                QTest::qWait(100);
                QVERIFY(peer.received.isEmpty());
                QVERIFY(!peer.closed);
                QVERIFY(m_emitted.empty());
            }
        }
        QTRY_VERIFY_WITH_TIMEOUT(peer.closed, 5000);
        QCOMPARE(peer.received, Reply);
        QCOMPARE(int(m_emitted.size()), 1);
        QCOMPARE(m_emitted.front().request.path, QStringLiteral("/cam/push"));
        QCOMPARE(m_emitted.front().request.body, body);

        // LF-only head split between its two LF bytes.
        m_emitted.clear();
        Peer lf(m_port);
        QVERIFY(lf.connected);
        lf.send("POST /lf HTTP/1.1\nContent-Length: 2\n");
        QTest::qWait(100);
        QVERIFY(lf.received.isEmpty());
        lf.send("\nok");
        QTRY_VERIFY_WITH_TIMEOUT(lf.closed, 5000);
        QCOMPARE(lf.received, Reply);
        QCOMPARE(int(m_emitted.size()), 1);
        QCOMPARE(m_emitted.front().request.body, QByteArray("ok"));

        // Without Content-Length the body is what arrived with the head.
        m_emitted.clear();
        Peer noLength(m_port);
        QVERIFY(noLength.connected);
        noLength.send("POST /n HTTP/1.1\r\n\r\nfirst");
        QTRY_VERIFY_WITH_TIMEOUT(noLength.closed, 5000);
        noLength.send("second");
        QCOMPARE(noLength.received, Reply);
        QCOMPARE(int(m_emitted.size()), 1);
        QCOMPARE(m_emitted.front().request.body, QByteArray("first"));
    }

    void connectionDeadline()
    {
        LogCapture log;
        auto server = startServer();
        server->setConnectionDeadline(300);

        Peer silent(m_port);
        Peer partial(m_port);
        Peer headless(m_port);
        QVERIFY(silent.connected && partial.connected && headless.connected);
        partial.send("POST /slow HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345");
        headless.send("GET / HTTP/1.1\r\nHost: never ends\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(silent.closed && partial.closed && headless.closed, 5000);
        QVERIFY(silent.received.isEmpty());
        QVERIFY(partial.received.isEmpty());
        QVERIFY(headless.received.isEmpty());
        QVERIFY(m_emitted.empty());
        const QStringList warnings = log.texts(QtWarningMsg);
        QCOMPARE(warnings
                     .filter(QRegularExpression("^\\[HttpServer\\] WARN: No complete request within 300 ms, "
                                                "closing connection from : (::ffff:)?127\\.0\\.0\\.1$"))
                     .size(),
            3);
        // An aborted connection is not reported a second time as closed by the peer.
        QVERIFY(log.startingWith("[HttpServer] WARN: Connection closed").isEmpty());
    }

    void peerLeavesMidRequest()
    {
        LogCapture log;
        auto server = startServer();
        {
            Peer peer(m_port);
            QVERIFY(peer.connected);
            peer.send("POST /x HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc");
            QTRY_VERIFY_WITH_TIMEOUT(!log.startingWith("[HttpServer] New connection").isEmpty(), 5000);
            QTest::qWait(50);
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            !log.startingWith("[HttpServer] WARN: Connection closed before the request was complete, 44 bytes "
                              "dropped from : ")
                 .isEmpty(),
            5000);
        QVERIFY(m_emitted.empty());

        // A Content-Length that is no number: the body is what came with the head, and the log says so.
        log.clear();
        QCOMPARE(exchange("POST /odd HTTP/1.1\r\nContent-Length: 12abc\r\n\r\nbody"), Reply);
        QCOMPARE(int(m_emitted.size()), 1);
        QCOMPARE(m_emitted.front().request.body, QByteArray("body"));
        QCOMPARE(
            log.startingWith("[HttpServer] WARN: Invalid Content-Length, taking the body as received from : ").size(),
            1);
    }

    void oversizedRequests()
    {
        LogCapture log;
        auto server = startServer();
        const qint64 limit = HttpServer::DefaultMaxRequestSize;
        const QByteArray head = "POST /big HTTP/1.1\r\nContent-Length: ";

        // Announced too large: refused before the body is sent.
        const QByteArray tooLong = head + QByteArray::number(limit) + "\r\n\r\n";
        QCOMPARE(exchange(tooLong), QByteArray());
        QVERIFY(m_emitted.empty());
        QCOMPARE(log.count(QStringLiteral("[HttpServer] WARN: Request larger than 8388608 bytes, closing "
                                          "connection from : ")
                     + "127.0.0.1")
                + log.count(QStringLiteral("[HttpServer] WARN: Request larger than 8388608 bytes, closing "
                                           "connection from : ::ffff:127.0.0.1")),
            1);

        // Exactly at the limit: accepted whole.
        QByteArray exact = head + "0000000\r\n\r\n";
        const int bodySize = int(limit - exact.size());
        exact = head + QByteArray::number(bodySize).rightJustified(7, '0') + "\r\n\r\n" + QByteArray(bodySize, 'b');
        QCOMPARE(exact.size(), int(limit));
        QCOMPARE(exchange(exact), Reply);
        QCOMPARE(int(m_emitted.size()), 1);
        QCOMPARE(m_emitted.front().request.body.size(), bodySize);

        // A stream without any head separator is cut off at the limit.
        m_emitted.clear();
        QCOMPARE(exchange(QByteArray(int(limit) + 1, 'a')), QByteArray());
        QVERIFY(m_emitted.empty());
        QCOMPARE(log.startingWith("[HttpServer] WARN: Request larger than 8388608 bytes").size(), 2);
    }

    void connectionLimit()
    {
        LogCapture log;
        auto server = startServer();
        std::vector<std::unique_ptr<Peer>> peers;
        for (int i = 0; i < 65; ++i) {
            peers.push_back(std::make_unique<Peer>(m_port));
            QVERIFY(peers.back()->connected);
            // Let the listener take each connection in turn, so the 65th is the last one.
            QTRY_COMPARE_WITH_TIMEOUT(log.startingWith("[HttpServer] New connection").size(), i + 1, 5000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(peers.back()->closed, 5000);
        QVERIFY(peers.back()->received.isEmpty());
        QCOMPARE(
            log.startingWith("[HttpServer] WARN: Too many connections (64), closing connection from : ").size(), 1);
        for (int i = 0; i < 64; ++i)
            QVERIFY(!peers.at(i)->closed);

        for (int i = 0; i < 64; ++i)
            peers.at(i)->send("POST /n" + QByteArray::number(i) + " HTTP/1.1\r\nContent-Length: 1\r\n\r\nx");
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(peers.begin(), peers.end(), [](const auto& p) { return p->closed; }), 10000);
        for (int i = 0; i < 64; ++i)
            QCOMPARE(peers.at(i)->received, Reply);
        QCOMPARE(int(m_emitted.size()), 64);

        // Finished connections free their places.
        QTRY_COMPARE_WITH_TIMEOUT(exchange("GET /again HTTP/1.1\r\n\r\n"), Reply, 5000);
        QCOMPARE(m_emitted.back().request.path, QStringLiteral("/again"));
    }

    void listenAndClose()
    {
        LogCapture log;
        HttpServer server;
        const quint16 port = testsupport::freePort();
        const QString listening = QStringLiteral("[HttpServer] Listening for HTTP requests on : 0.0.0.0:%1").arg(port);

        // Twice on the same port: closes, binds again, logs twice, still serves.
        server.listen(port);
        server.listen(port);
        QCOMPARE(log.count(listening), 2);
        QVERIFY(log.texts(QtCriticalMsg).isEmpty());
        m_port = port;
        connect(&server, &HttpServer::requestReceived, this, [this](QHostAddress peer, HttpServer::Request request) {
            m_emitted.push_back({ peer, request });
        });
        QCOMPARE(exchange("GET /twice HTTP/1.1\r\n\r\n"), Reply);
        QCOMPARE(int(m_emitted.size()), 1);

        // Close twice: one line, then the port is shut.
        server.close();
        server.close();
        QCOMPARE(log.count("[HttpServer] Stopped listening for HTTP requests"), 1);
        QVERIFY(refused(port));

        // A port that is already taken.
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::Any, port));
        log.clear();
        server.listen(port);
        QCOMPARE(log.count(listening), 1);
        QCOMPARE(log.texts(QtCriticalMsg),
            QStringList { "[HttpServer] ERROR: Failed to listen : The bound address is already in use" });
        blocker.close();
        QVERIFY(refused(port));
        server.close();
        QVERIFY(!log.contains("[HttpServer] Stopped listening for HTTP requests"));

        // Ports outside 1-65535 are refused, and a port that was open is closed.
        server.listen(port);
        for (int bad : { 70000 + 0, 0, -1, 65536 + port }) {
            log.clear();
            server.listen(bad);
            QCOMPARE(log.texts(QtInfoMsg),
                QStringList { QStringLiteral("[HttpServer] Listening for HTTP requests on : 0.0.0.0:%1").arg(bad) });
            QCOMPARE(log.texts(QtCriticalMsg),
                QStringList {
                    QStringLiteral("[HttpServer] ERROR: Failed to listen : port %1 is outside 1-65535").arg(bad) });
            QVERIFY(refused(port));
        }
    }
};

QTEST_GUILESS_MAIN(tst_HttpServer)
#include "tst_HttpServer.moc"
