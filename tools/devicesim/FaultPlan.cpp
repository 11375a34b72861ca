#include "FaultPlan.h"

#include <QJsonValue>

namespace {

const QHash<QString, FaultPlan::Fault::Mode>& modes()
{
    static const QHash<QString, FaultPlan::Fault::Mode> table {
        { QStringLiteral("refuse"), FaultPlan::Fault::Refuse },
        { QStringLiteral("delay"), FaultPlan::Fault::Delay },
        { QStringLiteral("noreply"), FaultPlan::Fault::NoReply },
        { QStringLiteral("array"), FaultPlan::Fault::Array },
        { QStringLiteral("empty"), FaultPlan::Fault::Empty },
        { QStringLiteral("raw"), FaultPlan::Fault::Raw },
    };
    return table;
}

} // namespace

bool FaultPlan::apply(const QJsonObject& command, QString* error)
{
    const QString op = command.value(QStringLiteral("op")).toString();
    const QString modeName = command.value(QStringLiteral("mode")).toString();
    if (op.isEmpty() || op.startsWith(QLatin1Char('/'))) {
        *error = QStringLiteral("fault needs \"op\" such as \"rfid/card/write\" or \"dispenser/issue\"");
        return false;
    }
    if (modeName == QLatin1String("none")) {
        m_faults.remove(op);
        return true;
    }
    if (!modes().contains(modeName)) {
        *error = QStringLiteral("unknown fault mode \"%1\"").arg(modeName);
        return false;
    }
    Fault fault;
    fault.mode = modes().value(modeName);
    fault.code = command.value(QStringLiteral("code")).toInt();
    fault.text = command.value(QStringLiteral("text")).toString();
    fault.ms = qMax(0, command.value(QStringLiteral("ms")).toInt());
    fault.act = command.value(QStringLiteral("act")).toBool();
    fault.times = command.value(QStringLiteral("times")).toInt(-1);
    fault.raw = command.value(QStringLiteral("raw")).toString().toUtf8();
    if (fault.times == 0) {
        *error = QStringLiteral("fault \"times\" must be positive, or -1 for always");
        return false;
    }
    m_faults.insert(op, fault);
    return true;
}

std::optional<FaultPlan::Fault> FaultPlan::take(const QString& op)
{
    auto it = m_faults.find(op);
    if (it == m_faults.end())
        return std::nullopt;
    const Fault fault = it.value();
    if (it->times > 0 && --it->times == 0)
        m_faults.erase(it);
    return fault;
}

QJsonObject FaultPlan::toJson() const
{
    QJsonObject object;
    for (auto it = m_faults.cbegin(); it != m_faults.cend(); ++it) {
        object.insert(it.key(),
            QJsonObject {
                { QStringLiteral("mode"), modes().key(it->mode) },
                { QStringLiteral("code"), it->code },
                { QStringLiteral("text"), it->text },
                { QStringLiteral("ms"), it->ms },
                { QStringLiteral("act"), it->act },
                { QStringLiteral("times"), it->times },
            });
    }
    return object;
}
