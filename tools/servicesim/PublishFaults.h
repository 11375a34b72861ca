#pragma once
// Faults planned for the messages a simulated service publishes, per
// "<service><path>" such as "network/status": an empty payload, text that is
// not JSON, every value of the wrong type, {"service": false}, or nothing.

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <optional>

class PublishFaults
{
public:
    enum Mode { Empty, BadJson, WrongTypes, ServiceFalse, Silence };

    // {"op", "mode": "empty|badjson|types|servicefalse|silence|none", "times"?}; false with a reason when malformed.
    bool apply(const QJsonObject& command, QString* error);
    void clear() { m_faults.clear(); }
    // The fault for this publication, counting one use of it.
    std::optional<Mode> take(const QString& op);
    QJsonObject toJson() const;

    // The object with every value of another JSON type, nested objects included.
    static QJsonObject wrongTypes(const QJsonObject& object);

private:
    struct Fault
    {
        Mode mode;
        int times; // -1 until cleared
    };
    QHash<QString, Fault> m_faults;
};
