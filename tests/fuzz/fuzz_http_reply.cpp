// Raw bytes into the client's reply parser: the same outcome however the bytes are cut into
// reads, a head kept within its bound, and a reply never complete with a body shorter than
// its Content-Length, even once the connection ends.

#include "FuzzJson.h"
#include "HttpReplyParser.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray input;
    int step = 0;
    if (!wireInput(data, size, "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
            &input, &step))
        return 0;
    HttpReplyParser parser;
    for (int pos = 0; pos < input.size(); pos += step) {
        const HttpReplyParser::State before = parser.state();
        const HttpReplyParser::State after = parser.append(input.mid(pos, step));
        check(before == HttpReplyParser::Incomplete || after == before);
        check(parser.headComplete() || after != HttpReplyParser::Complete);
    }
    HttpReplyParser whole;
    whole.append(input);
    check(whole.state() == parser.state() && whole.body() == parser.body() && whole.status() == parser.status());

    parser.finish();
    if (parser.state() == HttpReplyParser::Complete) {
        check(parser.status() >= 200 && parser.body().size() <= input.size());
        check(parser.contentLength() < 0 || parser.body().size() == parser.contentLength());
    }
    return 0;
}
