// Raw bytes into the listener's request framing and parsing: at most one request
// per connection, a word-character method and a path without blanks or "?".

#include "HttpRequestParser.h"
#include "HttpServer.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

namespace {

QCoreApplication* g_app = nullptr;
HttpServer* g_server = nullptr;
int g_emissions = 0;
QByteArray g_data;

void check(bool condition)
{
    if (!condition)
        abort();
}

bool isAsciiSpace(QChar c)
{
    return c == QLatin1Char(' ') || (c >= QLatin1Char('\t') && c <= QLatin1Char('\r'));
}

bool isWordChar(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
        || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_');
}

void onRequest(const QHostAddress&, const HttpServer::Request& request)
{
    ++g_emissions;
    check(!request.method.isEmpty());
    for (QChar c : request.method)
        check(isWordChar(c));
    check(!request.path.isEmpty());
    for (QChar c : request.path)
        check(!isAsciiSpace(c) && c != QLatin1Char('?'));
    check(g_data.endsWith(request.body));
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&)
{
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qInstallMessageHandler(quiet);
    g_app = new QCoreApplication(*argc, *argv);
    g_server = new HttpServer;
    QObject::connect(g_server, &HttpServer::requestReceived, &onRequest);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 65536)
        return 0;
    // The first byte picks how the rest is cut into reads.
    const int step = 1 + data[0] % 97;
    const QByteArray input(reinterpret_cast<const char*>(data) + 1, int(size) - 1);
    const qint64 limit = 4096;

    HttpRequestParser parser(limit);
    int completions = 0;
    for (int pos = 0; pos < input.size(); pos += step) {
        const HttpRequestParser::State before = parser.state();
        const HttpRequestParser::State after = parser.append(input.mid(pos, step));
        check(before == HttpRequestParser::Incomplete || after == before);
        completions += before != after && after == HttpRequestParser::Complete;
    }
    check(completions <= 1);
    if (parser.state() == HttpRequestParser::Complete) {
        check(input.startsWith(parser.data()));
        check(parser.data().size() <= limit);
        g_data = parser.data();
        g_emissions = 0;
        g_server->handleRequest(QHostAddress(QHostAddress::LocalHost), g_data);
        check(g_emissions <= 1);
    } else {
        check(parser.state() != HttpRequestParser::TooLarge || parser.data().isEmpty());
    }

    // The parser alone on the whole input, as one read.
    g_data = input;
    g_emissions = 0;
    g_server->handleRequest(QHostAddress(QHostAddress::LocalHost), g_data);
    check(g_emissions <= 1);
    return 0;
}
