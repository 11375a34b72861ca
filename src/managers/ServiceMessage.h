#pragma once
// Parts shared by the clients of the local system services: a payload is one
// JSON object, logged and dropped when it is not JSON; a monitor timer refreshes
// the data at a period.

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class QTimer;

namespace manager {

// Parses payload into object (an array or an empty document reads as an empty
// object). An empty payload counts as "{ }" when emptyIsObject, else as a parse
// error. On a parse error logs a critical line after prefix and returns false;
// withPayload logs the payload instead of the parser's text.
bool parseServiceMessage(
    const QByteArray& payload, const QString& prefix, bool emptyIsObject, bool withPayload, QJsonObject& object);

// Starts timer repeating every msec, or stops it for 0, and logs which after prefix.
// True when it was started: the caller then refreshes at once.
bool startMonitor(QTimer& timer, int msec, const QString& prefix);

} // namespace manager
