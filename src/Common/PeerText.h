#pragma once
// Text from a peer (a camera, a device service, the back office) made fit for one log
// line: control characters escaped and the length bounded, so a peer can neither write
// lines that look like the application's own nor flood the log.

#include <QByteArray>
#include <QJsonValue>
#include <QString>

class PeerText
{
public:
    // Longest piece of peer text a log line carries, in characters, before the marker.
    static constexpr int MaxLogChars = 1024;

    // Newline, carriage return and tab become \n \r \t; other C0 controls, DEL and C1
    // controls \xHH; line and paragraph separators and the direction overrides \uHHHH.
    // Longer text is cut after maxChars characters and marked with its full length.
    static QString forLog(const QString& text, int maxChars = MaxLogChars);
    // The same for UTF-8 bytes; only the part that can be shown is decoded.
    static QString forLog(const QByteArray& utf8, int maxChars = MaxLogChars);
    // A JSON value in the form the debug stream writes it, made fit in the same way.
    static QString jsonForLog(const QJsonValue& value, int maxChars = MaxLogChars);
};
