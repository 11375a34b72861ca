// The push listener over real sockets: framing and parsing, deadlines and limits, and
// peers that try to shut the cameras out with idle, oversized or endless connections.

#include "HttpServer.h"

#include "LogCapture.h"
#include "PrivateNetwork.h"
#include "TestPorts.h"

#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

const QByteArray Reply("HTTP/1.1 200 OK\r\n\r\n");
const QByteArray Continue("HTTP/1.1 100 Continue\r\n\r\n");
const QByteArray BadRequest("HTTP/1.1 400 Bad Request\r\n\r\n");

// One peer connection, from the given loopback address: collects every byte the listener sends.
class Peer : public QObject
{
public:
    explicit Peer(quint16 port, const char* from = "127.0.0.1")
    {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] { received += m_socket.readAll(); });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { closed = true; });
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] { closed = true; });
        m_socket.bind(QHostAddress(QString::fromLatin1(from)));
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        connected = m_socket.waitForConnected(5000);
    }
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    bool waitClosed(int ms = 5000)
    {
        return QTest::qWaitFor([this] { return closed; }, ms);
    }

    bool connected = false;
    bool closed = false;
    QByteArray received;

private:
    QTcpSocket m_socket;
};

using Peers = std::vector<std::unique_ptr<Peer>>;

// Keeps a number of connections open from one address and opens a new one whenever one is
// dropped. Each sends the opening bytes, then, when trickling, one byte a second.
class Attacker : public QObject
{
public:
    Attacker(quint16 port, const char* from, int count, const QByteArray& opening, bool trickle)
        : m_port(port)
        , m_from(QString::fromLatin1(from))
        , m_opening(opening)
    {
        for (int i = 0; i < count; ++i)
            open();
        connect(&m_trickle, &QTimer::timeout, this, [this] {
            for (QTcpSocket* socket : qAsConst(m_sockets)) {
                if (socket->state() == QAbstractSocket::ConnectedState)
                    socket->write("x");
            }
        });
        if (trickle)
            m_trickle.start(1000);
    }
    // No more bytes and no new connections.
    void stop()
    {
        m_stopped = true;
        m_trickle.stop();
    }
    int held() const { return m_sockets.size(); }

private:
    void open()
    {
        auto* socket = new QTcpSocket(this);
        m_sockets.insert(socket);
        connect(socket, &QTcpSocket::connected, socket, [this, socket] { socket->write(m_opening); });
        auto dropped = [this, socket] {
            if (!m_sockets.remove(socket))
                return;
            socket->deleteLater();
            if (!m_stopped)
                open();
        };
        connect(socket, &QTcpSocket::disconnected, this, dropped);
        connect(socket, &QTcpSocket::errorOccurred, this, dropped);
        socket->bind(QHostAddress(m_from));
        socket->connectToHost(QHostAddress::LocalHost, m_port);
    }

    quint16 m_port;
    QString m_from;
    QByteArray m_opening;
    QSet<QTcpSocket*> m_sockets;
    QTimer m_trickle;
    bool m_stopped = false;
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
        // Another test may take the free port before the listen does: then take another.
        for (int attempt = 0; attempt < 5; ++attempt) {
            LogCapture log;
            m_port = testsupport::freePort();
            server->listen(m_port);
            if (log.startingWith("[HttpServer] ERROR: Failed to listen").isEmpty())
                break;
        }
        connect(server.get(), &HttpServer::requestReceived, this, [this](QHostAddress, HttpServer::Request r) {
            m_emitted << r.method.toUtf8() + ' ' + r.path.toUtf8() + ' ' + r.body;
        });
        return server;
    }

    // Sends the parts with pauses between them and waits for the connection to end. Until the
    // last part is in, nothing may be emitted and the peer may be told no more than to go on.
    QByteArray exchange(const QList<QByteArray>& parts, const char* from = "127.0.0.1")
    {
        Peer peer(m_port, from);
        const int emitted = m_emitted.size();
        for (int i = 0; peer.connected && i < parts.size(); ++i) {
            peer.send(parts.at(i));
            if (i + 1 < parts.size()) {
                QTest::qWait(100);
                if (!Continue.startsWith(peer.received) || peer.closed || m_emitted.size() != emitted)
                    return "early answer";
            }
        }
        if (!peer.connected || !peer.waitClosed())
            return "not closed";
        return peer.received;
    }

    // Refusal lines with the reason, for a peer on 127.0.0.1.
    static int refusals(const LogCapture& log, const QString& reason)
    {
        return log.texts(QtWarningMsg)
            .filter(QRegularExpression("^\\[HttpServer\\] WARN: " + QRegularExpression::escape(reason)
                + ", closing connection from : (::ffff:)?127\\.0\\.0\\.1$"))
            .size();
    }

    QList<QByteArray> m_emitted;
    quint16 m_port = 0;

private slots:
    void init() { m_emitted.clear(); }

    void requests()
    {
        const QByteArray body(3000, 'x');
        const QByteArray chunkedHead
            = "POST /c HTTP/1.1\r\nTransfer-Encoding: gzip, Chunked\r\nContent-Length: 3\r\n\r\n";
        const QByteArray chunked = "POST /big HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
        const QString malformed = "Malformed request body", tooLarge = "Request larger than 20000 bytes";
        // The parts as written, with pauses between them; what is emitted ("" for nothing); the reply;
        // the one warning ("" for none).
        const QList<std::tuple<QList<QByteArray>, QByteArray, QByteArray, QString>> cases {
            { { "GET /local/plate?id=7&x=1 HTTP/1.1\r\nHost: a\r\n\r\n" }, "GET /local/plate ", Reply, "" },
            { { "POST /p HTTP/1.1\r\ncontent-LENGTH:  3 \r\n\r\nabcdef" }, "POST /p abc", Reply, "" },
            { { "POST /lf HTTP/1.1\nContent-Length: 4\n\nab\ncd" }, "POST /lf ab\nc", Reply, "" },
            { { "POST /a HTTP/1.1\n\nxx\r\n\r\nbody" }, "POST /a body", Reply, "" },
            { { QByteArray("PUT /x\0junk HTTP/1.1\r\n\r\nbo\0dy", 29) }, QByteArray("PUT /x bo\0dy", 12), Reply, "" },
            { { "M_1\t/a/b#c HTTP/1.1\r\n\r\n" }, "M_1 /a/b#c ", Reply, "" },
            { { "POST /cam HTTP/1.1\r\nContent-Len", "gth: 3000\r\n\r", "\n" + body.left(1000), body.mid(1000) },
                "POST /cam " + body, Reply, "" },
            // A Content-Length that is no number, or lengths that disagree: the body is what came with the head.
            { { "POST /odd HTTP/1.1\r\nContent-Length: 12abc\r\n\r\nbody" }, "POST /odd body", Reply,
                "Invalid Content-Length, taking the body as received" },
            { { "POST /two HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 3\r\n\r\nabcde" }, "POST /two abcde", Reply,
                "Invalid Content-Length, taking the body as received" },
            // Chunked: split anywhere, with extensions and trailers, Content-Length ignored.
            { { chunkedHead + "4;x=1\r\nWi", "ki\r", "\n5\r\npedia\r\n0\r\nT: v\r\n\r\nextra" }, "POST /c Wikipedia",
                Reply, "" },
            { { "POST /c HTTP/1.1\nTransfer-Encoding: chunked\n\n", "3\nabc\n0\n\n" }, "POST /c abc", Reply, "" },
            { { chunkedHead + "4\r\nabcde\r\n" }, "", BadRequest, malformed }, // longer than its size
            { { chunkedHead + "zz\r\n" }, "", BadRequest, malformed },
            { { "POST /g HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\nxyz" }, "", BadRequest, malformed },
            // Too large: announced, streamed without a head, or in chunks.
            { { "POST /big HTTP/1.1\r\nContent-Length: 20000\r\n\r\n" }, "", "", tooLarge },
            { { QByteArray(20001, 'a') }, "", "", tooLarge },
            { { chunked + "5000\r\n" }, "", "", tooLarge },
            { { chunked + "1000\r\n" + QByteArray(4096, 'c') + "\r\n", "4000\r\n" }, "", "", tooLarge },
            // The body only once the listener said to go on.
            { { "POST /e HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 5\r\n\r\n", "hello" }, "POST /e hello",
                Continue + Reply, "" },
            { { "POST /e HTTP/1.1\r\nExpect: 100-continue\r\nTransfer-Encoding: chunked\r\n\r\n",
                  "1\r\nA\r\n0\r\n\r\n" },
                "POST /e A", Continue + Reply, "" },
        };
        auto server = startServer();
        server->setMaxRequestSize(20000);
        for (const auto& [parts, emitted, reply, warning] : cases) {
            LogCapture log;
            m_emitted.clear();
            QCOMPARE(exchange(parts), reply);
            QCOMPARE(m_emitted, emitted.isEmpty() ? QList<QByteArray>() : QList<QByteArray> { emitted });
            const QList<QByteArray> w = emitted.split(' ');
            QCOMPARE(log.texts(QtDebugMsg).filter("HTTP request received").join(""),
                w.size() < 2 ? QString() : "[HttpServer] HTTP request received : method=" + w[0] + ", path=" + w[1]);
            QCOMPARE(log.texts(QtWarningMsg).size(), warning.isEmpty() ? 0 : 1);
            QVERIFY(warning.isEmpty() || log.texts(QtWarningMsg).at(0).startsWith("[HttpServer] WARN: " + warning));
        }
    }

    void incompleteAndOversized()
    {
        LogCapture log;
        auto server = startServer();
        server->setConnectionDeadline(600);
        server->setFirstBytesDeadline(300);
        {
            Peer leaving(m_port);
            leaving.send("POST /x HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc");
            QTest::qWait(100);
        }
        Peer silent(m_port), partial(m_port), headless(m_port);
        partial.send("POST /slow HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345");
        headless.send("GET / HTTP/1.1\r\nHost: never ends\r\n");
        QVERIFY(silent.waitClosed() && partial.waitClosed() && headless.waitClosed());
        QCOMPARE(silent.received + partial.received + headless.received, QByteArray());
        QCOMPARE(refusals(log, "No request data within 300 ms"), 1);
        QCOMPARE(refusals(log, "No complete request within 600 ms"), 2);
        // The peer that left mid-request is reported once, as such.
        QTRY_COMPARE(log.startingWith("[HttpServer] WARN: Connection closed before the request was complete, 44 bytes "
                                      "dropped from : ")
                         .size(),
            1);
        QCOMPARE(log.texts(QtWarningMsg).size(), 4);

        // Exactly at the limit is taken whole; all requests in progress together stay within the memory budget.
        server->setMaxRequestSize(20000);
        const QByteArray head = "POST /big HTTP/1.1\r\nContent-Length: ";
        const int bodySize = 20000 - head.size() - 9;
        QCOMPARE(exchange({ head + QByteArray::number(bodySize) + "\r\n\r\n" + QByteArray(bodySize, 'b') }), Reply);
        QCOMPARE(m_emitted.size(), 1);
        QCOMPARE(m_emitted.last().size(), 10 + bodySize);
        server->setMemoryBudget(30000);
        Peer first(m_port), second(m_port);
        first.send(head + "19000\r\n\r\n" + QByteArray(15000, 'f'));
        QTest::qWait(100);
        second.send(head + "19000\r\n\r\n" + QByteArray(15000, 's'));
        QVERIFY(second.waitClosed() && second.received.isEmpty());
        QCOMPARE(refusals(log, "Requests in progress above 30000 bytes"), 1);
        first.send(QByteArray(4000, 'f'));
        QVERIFY(first.waitClosed());
        QCOMPARE(first.received, Reply);

        // A body that came while the listener was too busy to read it is not a slow one.
        server->setConnectionDeadline(HttpServer::DefaultConnectionDeadlineMs);
        Peer busy(m_port);
        busy.send("POST /busy HTTP/1.1\r\nContent-Length: 4\r\n\r\nab");
        QTest::qWait(100);
        busy.send("cd");
        QThread::msleep(HttpServer::BodyRateGraceMs + 200);
        QVERIFY(busy.waitClosed());
        QCOMPARE(busy.received, Reply);
        QCOMPARE(m_emitted.last(), "POST /busy abcd");

        // The only peer, trickling its body at 100 bytes/s, is dropped below the pace floor
        // about a second into the body, long before the connection deadline.
        server->setConnectionDeadline(60000);
        Peer trickling(m_port);
        trickling.send("POST /slow HTTP/1.1\r\nContent-Length: 10000\r\n\r\n");
        QTimer drip;
        connect(&drip, &QTimer::timeout, this, [&trickling] { trickling.send(QByteArray(10, 't')); });
        drip.start(100);
        QVERIFY(trickling.waitClosed(10000));
        drip.stop();
        QCOMPARE(trickling.received, QByteArray());
        QCOMPARE(refusals(log, "Request body slower than 1024 bytes/s"), 1);
    }

    void idleConnectionsDoNotLockCamerasOut_data()
    {
        QTest::addColumn<QByteArray>("opening");
        QTest::addColumn<bool>("trickle");
        QTest::newRow("idle") << QByteArray() << false;
        QTest::newRow("slow body") << QByteArray("POST /up HTTP/1.1\r\nContent-Length: 1000000\r\n\r\n") << true;
    }

    void idleConnectionsDoNotLockCamerasOut()
    {
        QFETCH(QByteArray, opening);
        QFETCH(bool, trickle);
        LogCapture log;
        auto server = startServer();
        server->setConnectionDeadline(60000);
        server->setFirstBytesDeadline(10000);
        server->setRefusalLogRate(3, 60000);
        const char* attackers[] = { "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6", "127.0.0.7",
            "127.0.0.8", "127.0.0.9" };
        // One address may hold 8 connections; a ninth is refused at once.
        Peers idle;
        for (int i = 0; i < 9; ++i)
            idle.push_back(std::make_unique<Peer>(m_port, attackers[0]));
        QVERIFY(idle.back()->waitClosed(2000));
        QTest::qWait(100);
        QCOMPARE(std::count_if(idle.begin(), idle.end(), [](const auto& p) { return p->closed; }), 1L);
        QCOMPARE(log.startingWith("[HttpServer] WARN: Too many connections from one address (8)").size(), 1);
        // All 64 places taken: the next one takes the place of the oldest.
        for (int a = 1; a < 8; ++a) {
            for (int i = 0; i < 8; ++i)
                idle.push_back(std::make_unique<Peer>(m_port, attackers[a]));
            QTest::qWait(20);
        }
        idle.push_back(std::make_unique<Peer>(m_port, "127.0.0.10"));
        QVERIFY(idle.front()->waitClosed(2000));
        QTest::qWait(100);
        QCOMPARE(std::count_if(idle.begin(), idle.end(), [](const auto& p) { return p->closed; }), 2L);
        QCOMPARE(log.startingWith("[HttpServer] WARN: Too many connections (64), oldest unfinished one").size(), 1);
        idle.clear();

        // Eight addresses hold every place and reopen what is dropped, while four cameras push every
        // 0.5 s: pushes are served, because a connection whose request is still coming gives way to a
        // new one, and an idle one or a trickling body leaves after its first-bytes time or below the pace floor.
        server->setFirstBytesDeadline(400);
        std::vector<std::unique_ptr<Attacker>> attack;
        for (const char* from : attackers) {
            attack.push_back(std::make_unique<Attacker>(m_port, from, 8, opening, trickle));
            QTest::qWait(20);
        }
        QTest::qWait(300);
        Peers pushes;
        for (int round = 0; round < 6; ++round) {
            for (const char* from : { "127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14" }) {
                pushes.push_back(std::make_unique<Peer>(m_port, from));
                pushes.back()->send("POST /push HTTP/1.1\r\nContent-Length: 2\r\n\r\nok");
            }
            QTest::qWait(500);
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(pushes.begin(), pushes.end(), [](const auto& p) { return p->closed; }), 10000);
        const long served
            = std::count_if(pushes.begin(), pushes.end(), [](const auto& p) { return p->received == Reply; });
        QVERIFY2(served * 100 >= long(pushes.size()) * 95,
            qPrintable(QString("%1 of %2 pushes served").arg(served).arg(pushes.size())));
        QCOMPARE(m_emitted, QVector<QByteArray>(int(served), "POST /push ok").toList());
        // What the attack holds when it stops is dropped long before the connection deadline.
        for (const auto& attacker : attack)
            attacker->stop();
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(attack.begin(), attack.end(), [](const auto& a) { return a->held() == 0; }), 5000);
        // Refusals are written three at a time; the rest are counted when the window ends.
        QCOMPARE(log.texts(QtWarningMsg).size(), 3);
        server.reset();
        QCOMPARE(log.texts(QtWarningMsg).size(), 4);
        QVERIFY(log.texts(QtWarningMsg)
                    .last()
                    .contains(QRegularExpression("^\\[HttpServer\\] WARN: \\d+ more refused connections not logged$")));
    }

    void listenAndClose()
    {
        // After the start: a port taken meanwhile makes it try another one, and say so.
        auto server = startServer();
        LogCapture log;
        auto refused = [this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            return !socket.waitForConnected(3000) && socket.error() == QAbstractSocket::ConnectionRefusedError;
        };
        QCOMPARE(exchange({ "GET /served HTTP/1.1\r\n\r\n" }), Reply);
        server->close();
        QVERIFY(refused());
        // A port that is already taken, and ones outside 1-65535 (0 would be any free port), close the listener.
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::Any, m_port));
        server->listen(m_port);
        blocker.close();
        QVERIFY(refused());
        server->listen(m_port);
        server->listen(70000);
        QVERIFY(refused());
        server->listen(m_port);
        server->listen(0);
        QVERIFY(refused());
        QCOMPARE(log.texts(QtCriticalMsg),
            QStringList({ "[HttpServer] ERROR: Failed to listen : The bound address is already in use",
                "[HttpServer] ERROR: Failed to listen : port 70000 is outside 1-65535",
                "[HttpServer] ERROR: Failed to listen : port 0 is outside 1-65535" }));
    }
};

// Many connections from many addresses, away from other tests' ports.
LANE_PRIVATE_NETWORK_TEST_MAIN(tst_HttpServer)
#include "tst_HttpServer.moc"
