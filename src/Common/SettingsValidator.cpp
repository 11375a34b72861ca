#include "SettingsValidator.h"

#include "Config.h"
#include "ProtectedSettings.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

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
    if (Config::jsonToInteger(value, &n))
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

const int kMaxKeyLength = 128;

const QString kBackOfficeUrl = QStringLiteral("card-bo/url");

bool isHttpsUrl(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}

// One group and one name, spelled the one way the file stores it: the file would fold
// "a//b" or "a\\b" into another key.
bool isKeySpelling(const QString& key)
{
    const int slash = key.indexOf(QLatin1Char('/'));
    if (key.size() > kMaxKeyLength || slash <= 0 || slash == key.size() - 1
        || key.indexOf(QLatin1Char('/'), slash + 1) >= 0 || ProtectedSettings::normalized(key) != key)
        return false;
    return std::none_of(key.begin(), key.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

// A key from a peer as it may go into a log line: short, one line.
QString shownKey(const QString& key)
{
    QString text = key.left(kMaxKeyLength);
    for (QChar& c : text) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    return key.size() > text.size() ? text + QStringLiteral("...") : text;
}

} // namespace

SettingsValidator::SettingsValidator(const Config& config, Channel channel)
    : m_config(config)
    , m_channel(channel)
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

bool SettingsValidator::isClosed(const QString& key) const
{
    // The UI's peers never see the hidden values; the back office may set no protected key.
    return m_channel == Channel::UiMqtt ? isHidden(key) : ProtectedSettings::contains(key);
}

bool SettingsValidator::isLocked(const QString& key) const
{
    // The one broker connection and the address that receives the API key.
    static const QStringList connection = { QStringLiteral("mqtt/host"), QStringLiteral("mqtt/port"), kBackOfficeUrl };
    return m_channel == Channel::UiMqtt && (ProtectedSettings::contains(key) || connection.contains(key));
}

void SettingsValidator::insert(QJsonObject* body, const QString& key, const QJsonValue& value)
{
    const QString group = key.section(QLatin1Char('/'), 0, 0);
    QJsonObject names = body->value(group).toObject();
    names.insert(key.section(QLatin1Char('/'), 1), value);
    body->insert(group, names);
}

bool SettingsValidator::check(const QJsonObject& body, QJsonObject* changes, QStringList* unknown, QString* error) const
{
    QJsonObject accepted;
    QStringList ignored;
    for (auto group = body.begin(); group != body.end(); ++group) {
        if (!group.value().isObject()) {
            *error = QStringLiteral("group '%1' is not an object").arg(shownKey(group.key()));
            return false;
        }
        const QJsonObject names = group.value().toObject();
        for (auto name = names.begin(); name != names.end(); ++name) {
            const QString key = group.key() + QLatin1Char('/') + name.key();
            QJsonValue value;
            QString reason;
            switch (checkEntry(key, name.value(), &value, &reason)) {
            case Verdict::Refused:
                *error = reason;
                return false;
            case Verdict::Unknown:
                ignored.append(key);
                break;
            case Verdict::Change:
                insert(&accepted, key, value);
                break;
            case Verdict::NoChange:
                break;
            }
        }
    }
    *changes = accepted;
    *unknown = ignored;
    return true;
}

bool SettingsValidator::checkList(
    const QJsonArray& list, QVariantMap* values, QStringList* skipped, QString* error) const
{
    const int bytes = QJsonDocument(list).toJson(QJsonDocument::Compact).size();
    if (bytes > kMaxConfigBytes) {
        *error = QStringLiteral("the list is %1 bytes, more than %2").arg(bytes).arg(kMaxConfigBytes);
        return false;
    }
    QVariantMap accepted;
    QStringList reasons;
    for (const QJsonValue& item : list) {
        const QJsonObject element = item.toObject();
        const QString name = element.value(QStringLiteral("name")).toString();
        QJsonValue value;
        QString reason;
        if (checkEntry(name, element.value(QStringLiteral("value")), &value, &reason) != Verdict::Change) {
            if (name == kBackOfficeUrl) {
                *error = reason;
                return false;
            }
            reasons.append(reason);
            continue;
        }
        // A JSON number is a double: stored as the type of its default, as the file's are.
        QVariant stored = value.toVariant();
        const int type = m_config.defaults().value(name).userType();
        if (type != QMetaType::UnknownType)
            stored.convert(type);
        accepted.insert(name, stored);
    }

    // Every key added stays in the file, the published configuration and, for some, the
    // heartbeat: their number is bounded.
    const QStringList held = m_config.keys();
    const QVariantMap defaults = m_config.defaults();
    int total = 0;
    for (const QString& key : held)
        total += defaults.contains(key) ? 0 : 1;
    int added = 0;
    for (auto key = accepted.keyBegin(); key != accepted.keyEnd(); ++key)
        added += defaults.contains(*key) || held.contains(*key) ? 0 : 1;
    total += added;
    if (added > 0 && total > kMaxKeysWithoutDefault) {
        *error = QStringLiteral("it would leave %1 keys without a default, more than %2")
                     .arg(total)
                     .arg(kMaxKeysWithoutDefault);
        return false;
    }
    *values = accepted;
    *skipped = reasons;
    return true;
}

SettingsValidator::Verdict SettingsValidator::checkEntry(
    const QString& key, const QJsonValue& value, QJsonValue* out, QString* error) const
{
    *out = QJsonValue(QJsonValue::Undefined);
    if (!isKeySpelling(key)) {
        *error = QStringLiteral("'%1' is not a settings key").arg(shownKey(key));
        return Verdict::Refused;
    }
    if (isClosed(key)) {
        *error = QStringLiteral("%1: protected, cannot be changed remotely").arg(key);
        return Verdict::Refused;
    }
    if (!value.isString() && !value.isDouble() && !value.isBool()) {
        *error = QStringLiteral("%1: not a plain value").arg(key);
        return Verdict::Refused;
    }
    if (value.isString() && value.toString().toUtf8().size() > kMaxTextBytes) {
        *error = QStringLiteral("%1: text longer than %2 bytes").arg(key).arg(kMaxTextBytes);
        return Verdict::Refused;
    }
    // The UI's peers never widen the store: every such key would be one more to save and
    // publish. The back office adds the keys a terminal needs (an update service's root).
    if (m_channel == Channel::UiMqtt && !m_config.keys().contains(key)) {
        *error = QStringLiteral("%1: not a setting of this terminal").arg(key);
        return Verdict::Unknown;
    }
    return checkValue(key, value, out, error);
}

SettingsValidator::Verdict SettingsValidator::checkValue(
    const QString& key, const QJsonValue& value, QJsonValue* out, QString* error) const
{
    const QVariant current = m_config.get(key);
    const QString currentValue = currentText(current);

    // What a peer read is what it may send back: a hidden URL password or an unchanged
    // locked value is no change.
    const bool fromUi = m_channel == Channel::UiMqtt;
    if (fromUi && value.isString()) {
        const QString text = value.toString();
        if (text == currentValue
            || (current.userType() == QMetaType::QString && text == stripUrlPasswords(currentValue)))
            return Verdict::NoChange;
    }

    const QVariant def = m_config.defaults().value(key);
    QJsonValue converted;
    switch (def.userType()) {
    case QMetaType::Int: {
        qint64 n = 0;
        if (!Config::jsonToInteger(value, &n) || n < std::numeric_limits<int>::min()
            || n > std::numeric_limits<int>::max()) {
            *error = QStringLiteral("%1: not an integer").arg(key);
            return Verdict::Refused;
        }
        if (key == QLatin1String("mqtt/port") && (n < 1 || n > 65535)) {
            *error = QStringLiteral("%1: port out of range 1-65535").arg(key);
            return Verdict::Refused;
        }
        if (key == QLatin1String("log/level") && (n < 0 || n > 4)) {
            *error = QStringLiteral("%1: log level out of range 0-4").arg(key);
            return Verdict::Refused;
        }
        if (n < 0) {
            *error = QStringLiteral("%1: must not be negative").arg(key);
            return Verdict::Refused;
        }
        converted = int(n);
        break;
    }
    case QMetaType::Bool: {
        bool b = false;
        if (!toBool(value, &b)) {
            *error = QStringLiteral("%1: not a boolean").arg(key);
            return Verdict::Refused;
        }
        converted = b;
        break;
    }
    case QMetaType::QString:
        if (!value.isString()) {
            *error = QStringLiteral("%1: not a text").arg(key);
            return Verdict::Refused;
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
            return Verdict::Refused;
        }
    }
    if ((key == QLatin1String("mqtt/base") || key.startsWith(QLatin1String("topics/")))
        && !isValidRoot(converted.toString())) {
        *error = QStringLiteral("%1: a topic root must not be empty nor hold a wildcard or NUL").arg(key);
        return Verdict::Refused;
    }

    const QString convertedText = converted.isBool()
        ? (converted.toBool() ? QStringLiteral("true") : QStringLiteral("false"))
        : plainText(converted);
    if (fromUi && convertedText == currentValue)
        return Verdict::NoChange;
    if (isLocked(key)) {
        *error = QStringLiteral("%1: protected, cannot be changed remotely").arg(key);
        return Verdict::Refused;
    }
    // The API key goes with every request: no remote change sends it in clear. An address
    // the operator wrote by hand stays theirs.
    if (key == kBackOfficeUrl && convertedText != currentValue && !isHttpsUrl(convertedText)) {
        *error = QStringLiteral("%1: not an https address").arg(key);
        return Verdict::Refused;
    }
    *out = converted;
    return Verdict::Change;
}
