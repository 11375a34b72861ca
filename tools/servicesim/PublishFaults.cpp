#include "PublishFaults.h"

#include <QJsonArray>

namespace {

const QHash<QString, PublishFaults::Mode>& modes()
{
    static const QHash<QString, PublishFaults::Mode> table {
        { QStringLiteral("empty"), PublishFaults::Empty },
        { QStringLiteral("badjson"), PublishFaults::BadJson },
        { QStringLiteral("types"), PublishFaults::WrongTypes },
        { QStringLiteral("servicefalse"), PublishFaults::ServiceFalse },
        { QStringLiteral("silence"), PublishFaults::Silence },
    };
    return table;
}

} // namespace

bool PublishFaults::apply(const QJsonObject& command, QString* error)
{
    const QString op = command.value(QStringLiteral("op")).toString();
    const QString mode = command.value(QStringLiteral("mode")).toString();
    const int times = command.value(QStringLiteral("times")).toInt(-1);
    if (!op.contains(QLatin1Char('/'))) {
        *error = QStringLiteral("fault needs \"op\" such as \"network/status\" or \"update/progress\"");
        return false;
    }
    if (mode == QLatin1String("none")) {
        m_faults.remove(op);
        return true;
    }
    if (!modes().contains(mode) || times == 0) {
        *error = QStringLiteral("fault needs a known \"mode\" and \"times\" positive or -1");
        return false;
    }
    m_faults.insert(op, Fault { modes().value(mode), times });
    return true;
}

std::optional<PublishFaults::Mode> PublishFaults::take(const QString& op)
{
    auto it = m_faults.find(op);
    if (it == m_faults.end())
        return std::nullopt;
    const Mode mode = it->mode;
    if (it->times > 0 && --it->times == 0)
        m_faults.erase(it);
    return mode;
}

QJsonObject PublishFaults::toJson() const
{
    QJsonObject object;
    for (auto it = m_faults.cbegin(); it != m_faults.cend(); ++it)
        object.insert(it.key(),
            QJsonObject { { QStringLiteral("mode"), modes().key(it->mode) }, { QStringLiteral("times"), it->times } });
    return object;
}

QJsonObject PublishFaults::wrongTypes(const QJsonObject& object)
{
    QJsonObject wrong;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonValue value = it.value();
        if (value.isString())
            wrong.insert(it.key(), 7);
        else if (value.isBool())
            wrong.insert(it.key(), value.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
        else if (value.isDouble())
            wrong.insert(it.key(), QString::number(value.toDouble()));
        else if (value.isObject())
            wrong.insert(it.key(), wrongTypes(value.toObject()));
        else
            wrong.insert(it.key(), QJsonArray { value });
    }
    return wrong;
}
