// Feeds arbitrary payload bytes to the reply parsing of an MQTT wait.

#include "MqttClient.h"

#include <QJsonDocument>

#include <cstdlib>

namespace {

// The JSON parser lives in Qt and gives the fuzzer no coverage to follow, so
// half of the inputs are read as tokens that make near-JSON.
QByteArray payloadFrom(const uint8_t* data, size_t size)
{
    if (size == 0 || (data[0] & 1) == 0)
        return QByteArray(reinterpret_cast<const char*>(data), int(size));
    static const char* const tokens[] = { "{", "}", "[", "]", ":", ",", "\"k\"", "\"\"", "1", "-0.5e3", "true", "null",
        "\"\\u00e9\"", "\"\\ud800\"", " ", "\0", "\xce", "\x9a", "1e999", "\"\\\"", "{\"a\":" };
    QByteArray out;
    for (size_t i = 1; i < size; ++i) {
        const size_t index = data[i] % (sizeof tokens / sizeof *tokens);
        out += index == 15 ? QByteArray(1, '\0') : QByteArray(tokens[index]);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray payload = payloadFrom(data, size);
    QJsonObject object;
    const bool ok = manager::MqttClient::parseReply(payload, object);

    // Whatever follows the first NUL never changes the outcome.
    const int nul = payload.indexOf('\0');
    if (nul >= 0) {
        QJsonObject prefixObject;
        const bool prefixOk = manager::MqttClient::parseReply(payload.left(nul), prefixObject);
        if (prefixOk != ok || prefixObject != object)
            abort();
        // Nothing before the NUL reads as the empty object.
        if (nul == 0 && (!ok || !object.isEmpty()))
            abort();
    }
    // An accepted reply is an object that survives a round trip.
    if (ok) {
        QJsonObject again;
        if (!manager::MqttClient::parseReply(QJsonDocument(object).toJson(QJsonDocument::Compact), again)
            || again != object)
            abort();
    }
    return 0;
}
