#pragma once
// One reply the simulator gives instead of its own: status, kind of body, delay,
// dropped connection, stalled body or redirect.

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

class ScriptedReply
{
public:
    enum class Body { Auto, Json, Text, Broken, Empty, Huge };

    int status = 200;
    Body body = Body::Auto;
    QJsonValue json; // for Json (object or array); for Text its string
    int delayMsec = 0; // answer this late (beyond the client's time-out to provoke one)
    bool drop = false; // close the connection without an answer
    bool stall = false; // announce 100000 more body bytes than are sent, then send nothing
    bool hold = false; // answer only when the simulator is told to release held replies
    QString redirect; // Location of a 307 reply

    static ScriptedReply withStatus(int status);
    // The simulator's own reply, this late.
    static ScriptedReply delayed(int msec);
    static ScriptedReply dropped();
    // The simulator's own reply, once it is told to release held replies.
    static ScriptedReply held();

    // {"status":503,"body":"json|text|broken|empty|huge","json":...,"delayMsec":..,"drop":true,"stall":true,
    //  "redirect":"..","hold":true}
    static ScriptedReply fromJson(const QJsonObject& object);
    // The body bytes; Auto means the simulator's own reply.
    QByteArray bytes(const QByteArray& own) const;
};
