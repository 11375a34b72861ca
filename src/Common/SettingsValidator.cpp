#include "SettingsValidator.h"

#include "Config.h"
#include "ProtectedSettings.h"

#include <QJsonValue>

#include <cmath>
#include <limits>

namespace {

bool toInteger(const QJsonValue& value, qint64* out)
{
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 2147483647.0)
            return false;
        *out = qint64(d);
        return true;
    }
    if (value.isString()) {
        bool ok = false;
        *out = value.toString().toLongLong(&ok, 10);
        return ok;
    }
    return false;
}

bool toBool(const QJsonValue& value, bool* out)
{
    if (value.isBool()) {
        *out = value.toBool();
        return true;
    }
    QString text;
    if (value.isString())
        text = value.toString().toLower();
    else if (value.isDouble() && (value.toDouble() == 0.0 || value.toDouble() == 1.0))
        text = value.toDouble() == 0.0 ? QStringLiteral("0") : QStringLiteral("1");
    if (text == QLatin1String("true") || text == QLatin1String("1")) {
        *out = true;
        return true;
    }
    if (text == QLatin1String("false") || text == QLatin1String("0")) {
        *out = false;
        return true;
    }
    return false;
}

QString plainText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    qint64 n = 0;
    if (toInteger(value, &n))
        return QString::number(n);
    return QString::number(value.toDouble(), 'g', 17);
}

// The stored value as the text a peer would send back for it.
QString currentText(const QVariant& value)
{
    if (value.userType() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return value.toString();
}

} // namespace

SettingsValidator::SettingsValidator(const Config& config)
    : m_config(config)
{
}

bool SettingsValidator::isValidRoot(const QString& root)
{
    return !root.isEmpty() && !root.contains(QLatin1Char('+')) && !root.contains(QLatin1Char('#'))
        && !root.contains(QChar(0));
}

bool SettingsValidator::isHidden(const QString& key)
{
    return key == QLatin1String("mqtt/username") || Config::isSecretKey(key) || key == QLatin1String("gui/settingsPin");
}

QString SettingsValidator::stripUrlPasswords(const QString& text)
{
    return Config::replaceUrlPasswords(text, QString());
}

QJsonObject SettingsValidator::publishable() const
{
    QJsonObject out;
    const QJsonObject all = m_config.toJson();
    for (auto group = all.begin(); group != all.end(); ++group) {
        QJsonObject names;
        const QJsonObject in = group.value().toObject();
        for (auto name = in.begin(); name != in.end(); ++name) {
            if (isHidden(group.key() + QLatin1Char('/') + name.key()))
                continue;
            names.insert(name.key(),
                name.value().isString() ? QJsonValue(stripUrlPasswords(name.value().toString())) : name.value());
        }
        out.insert(group.key(), names);
    }
    return out;
}

bool SettingsValidator::check(const QJsonObject& body, QJsonObject* changes, QString* error) const
{
    QJsonObject accepted;
    for (auto group = body.begin(); group != body.end(); ++group) {
        if (!group.value().isObject()) {
            *error = QStringLiteral("group '%1' is not an object").arg(group.key());
            return false;
        }
        const QJsonObject names = group.value().toObject();
        QJsonObject out = accepted.value(group.key()).toObject();
        for (auto name = names.begin(); name != names.end(); ++name) {
            const QString key = group.key() + QLatin1Char('/') + name.key();
            // One spelling per key: the file would fold "a//b" or "a\\b" into another key.
            if (group.key().isEmpty() || name.key().isEmpty() || name.key().contains(QLatin1Char('/'))
                || ProtectedSettings::normalized(key) != key) {
                *error = QStringLiteral("'%1' is not a settings key").arg(key);
                return false;
            }
            QJsonValue value;
            if (!checkValue(key, name.value(), &value, error))
                return false;
            if (!value.isUndefined())
                out.insert(name.key(), value);
        }
        if (!out.isEmpty())
            accepted.insert(group.key(), out);
    }
    *changes = accepted;
    return true;
}

bool SettingsValidator::checkValue(const QString& key, const QJsonValue& value, QJsonValue* out, QString* error) const
{
    if (!value.isString() && !value.isDouble() && !value.isBool()) {
        *error = QStringLiteral("%1: not a plain value").arg(key);
        return false;
    }
    const QVariant current = m_config.get(key);
    const QString currentValue = currentText(current);

    // What a peer read is what it may send back: a hidden URL password or an unchanged
    // protected value is no change.
    if (value.isString()) {
        const QString text = value.toString();
        if (text == currentValue
            || (current.userType() == QMetaType::QString && text != currentValue
                && text == stripUrlPasswords(currentValue))) {
            *out = QJsonValue(QJsonValue::Undefined);
            return true;
        }
    }

    const QVariant def = m_config.defaults().value(key);
    QJsonValue converted;
    switch (def.userType()) {
    case QMetaType::Int: {
        qint64 n = 0;
        if (!toInteger(value, &n) || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max()) {
            *error = QStringLiteral("%1: not an integer").arg(key);
            return false;
        }
        if (key == QLatin1String("mqtt/port") && (n < 1 || n > 65535)) {
            *error = QStringLiteral("%1: port out of range 1-65535").arg(key);
            return false;
        }
        if (key == QLatin1String("log/level") && (n < 0 || n > 4)) {
            *error = QStringLiteral("%1: log level out of range 0-4").arg(key);
            return false;
        }
        if (n < 0) {
            *error = QStringLiteral("%1: must not be negative").arg(key);
            return false;
        }
        converted = int(n);
        break;
    }
    case QMetaType::Bool: {
        bool b = false;
        if (!toBool(value, &b)) {
            *error = QStringLiteral("%1: not a boolean").arg(key);
            return false;
        }
        converted = b;
        break;
    }
    case QMetaType::QString:
        if (!value.isString()) {
            *error = QStringLiteral("%1: not a text").arg(key);
            return false;
        }
        converted = value;
        break;
    default:
        // No default: the store keeps text.
        converted = plainText(value);
        break;
    }

    if (key == QLatin1String("gui/locale")) {
        static const QStringList locales
            = { QStringLiteral("en_US"), QStringLiteral("en_IE"), QStringLiteral("el_GR") };
        if (!locales.contains(converted.toString())) {
            *error = QStringLiteral("%1: not one of %2").arg(key, locales.join(QStringLiteral(", ")));
            return false;
        }
    }
    if (key == QLatin1String("mqtt/base") && !isValidRoot(converted.toString())) {
        *error = QStringLiteral("%1: a topic root must not be empty nor hold a wildcard or NUL").arg(key);
        return false;
    }

    const QString convertedText = converted.isBool()
        ? (converted.toBool() ? QStringLiteral("true") : QStringLiteral("false"))
        : plainText(converted);
    if (convertedText == currentValue) {
        *out = QJsonValue(QJsonValue::Undefined);
        return true;
    }
    if (ProtectedSettings::contains(key)) {
        *error = QStringLiteral("%1: protected, cannot be changed remotely").arg(key);
        return false;
    }
    *out = converted;
    return true;
}
