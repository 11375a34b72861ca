// Raw bytes into the listener's request framing, chunked decoding and parsing: at most one
// request per connection, the same outcome however the bytes are cut into reads, a
// word-character method and a path without blanks or "?".

#include "FuzzJson.h"
#include "HttpRequestParser.h"
#include "HttpServer.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdint>

namespace {

HttpServer* g_server = nullptr;
int g_emissions = 0;
QByteArray g_data;

void onRequest(const QHostAddress&, const HttpServer::Request& request)
{
    static const QRegularExpression method("^[A-Za-z0-9_]+$");
    static const QRegularExpression path("^[^ \\t-\\r?]+$");
    ++g_emissions;
    check(method.match(request.method).hasMatch() && path.match(request.path).hasMatch());
    check(g_data.endsWith(request.body));
}

// The listener's handling of one complete request emits at most once.
void handle(const QByteArray& data)
{
    g_data = data;
    g_emissions = 0;
    g_server->handleRequest(QHostAddress(QHostAddress::LocalHost), g_data);
    check(g_emissions <= 1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QCoreApplication app(*argc, *argv);
    g_server = new HttpServer;
    QObject::connect(g_server, &HttpServer::requestReceived, &onRequest);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray input;
    int step = 0;
    if (!wireInput(data, size, "POST /c HTTP/1.1\r\nExpect: 100-continue\r\nTransfer-Encoding: chunked\r\n\r\n", &input,
            &step))
        return 0;
    const qint64 limit = 4096;

    HttpRequestParser parser(limit);
    int completions = 0;
    for (int pos = 0; pos < input.size(); pos += step) {
        const HttpRequestParser::State before = parser.state();
        const HttpRequestParser::State after = parser.append(input.mid(pos, step));
        check(before == HttpRequestParser::Incomplete || after == before);
        check(after == HttpRequestParser::Incomplete || !parser.expectsContinue());
        check(parser.bufferedSize() <= limit);
        completions += before != after && after == HttpRequestParser::Complete;
    }
    check(completions <= 1);
    // A chunked request ends the same way whatever reads it came in (a plain one without
    // Content-Length takes what came with its head, so it may not).
    const bool chunked = data[0] & 0x80;
    if (chunked && input.size() <= limit) {
        HttpRequestParser whole(limit);
        whole.append(input);
        check(whole.state() == parser.state() && whole.data() == parser.data());
    }
    if (parser.state() == HttpRequestParser::Complete) {
        check(chunked ? parser.data().size() <= input.size() : input.startsWith(parser.data()));
        handle(parser.data());
    } else if (parser.state() != HttpRequestParser::Incomplete) {
        check(parser.data().isEmpty());
    }
    // The parser alone on the whole input, as one read.
    handle(input);
    return 0;
}
