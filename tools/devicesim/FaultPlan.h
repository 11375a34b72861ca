#pragma once
// Faults planned for single operations, such as "rfid/card/write" or
// "dispenser/issue": refuse, answer late, not at all, or with a broken reply.

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>

#include <optional>

class FaultPlan
{
public:
    struct Fault
    {
        enum Mode { Refuse, Delay, NoReply, Array, Empty, Raw };
        Mode mode = Refuse;
        int code = 0; // the dispenser's error code for Refuse
        QString text; // the error text for Refuse
        int ms = 0; // for Delay
        bool act = false; // NoReply/Array/Empty/Raw: carry out the operation all the same
        int times = -1; // how many requests it hits; -1 until cleared
        QByteArray raw; // the reply payload for Raw
    };

    // {"op", "mode": "refuse|delay|noreply|array|empty|raw|none", "code", "text", "ms", "act", "times", "raw"}.
    // Returns false with a reason for a malformed command.
    bool apply(const QJsonObject& command, QString* error);
    void clear() { m_faults.clear(); }
    // The fault for this operation, counting one use of it.
    std::optional<Fault> take(const QString& op);
    QJsonObject toJson() const;

private:
    QHash<QString, Fault> m_faults;
};
