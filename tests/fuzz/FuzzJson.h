#pragma once
// JSON values built from fuzzer bytes, with member names drawn from a given list: Qt's
// JSON parser is not instrumented, so the fuzzer could not learn its syntax from raw text.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

// Ends the run as a finding when a property does not hold.
inline void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Bytes for a wire parser: the first byte picks the read size the rest is cut into, and
// whether a head with chunked framing comes first, so that the chunk decoder is reached
// without guessing a head. False when the input is empty or too large.
inline bool wireInput(const uint8_t* data, size_t size, const char* chunkedHead, QByteArray* input, int* step)
{
    if (size < 1 || size > 65536)
        return false;
    *step = 1 + (data[0] & 0x7f) % 97;
    *input = QByteArray(reinterpret_cast<const char*>(data) + 1, int(size) - 1);
    if (data[0] & 0x80)
        input->prepend(chunkedHead);
    return true;
}

class FuzzJson
{
public:
    FuzzJson(FuzzedDataProvider& in, std::vector<const char*> keys)
        : m_in(in)
        , m_keys(std::move(keys))
    {
    }

    QJsonObject object(int depth = 0)
    {
        QJsonObject object;
        const int count = m_in.ConsumeIntegralInRange(0, 8);
        for (int i = 0; i < count && m_in.remaining_bytes() > 0; ++i)
            object.insert(
                QLatin1String(m_keys.at(m_in.ConsumeIntegralInRange<size_t>(0, m_keys.size() - 1))), value(depth + 1));
        return object;
    }

    QJsonValue value(int depth)
    {
        switch (m_in.ConsumeIntegralInRange(0, depth > 4 ? 5 : 7)) {
        case 0:
            return QJsonValue(QJsonValue::Null);
        case 1:
            return m_in.ConsumeBool();
        case 2:
            return m_in.ConsumeBool() ? m_in.ConsumeIntegralInRange(-3, 12) : m_in.ConsumeIntegral<qint32>();
        case 3:
            return m_in.ConsumeFloatingPoint<double>();
        case 4:
            return QString::fromUtf8(m_in.ConsumeRandomLengthString(40).c_str());
        case 5: {
            // A date and time, mostly well formed, sometimes not a real one.
            QString text;
            for (int max : { 10000, 13, 32, 25, 61, 61 })
                text += QStringLiteral("%1").arg(
                    m_in.ConsumeIntegralInRange(0, max), max > 100 ? 4 : 2, 10, QLatin1Char('0'));
            text.insert(4, '-').insert(7, '-').insert(10, 'T').insert(13, ':').insert(16, ':');
            return text.left(m_in.ConsumeIntegralInRange(0, 20));
        }
        case 6: {
            QJsonArray array;
            const int count = m_in.ConsumeIntegralInRange(0, 6);
            for (int i = 0; i < count && m_in.remaining_bytes() > 0; ++i)
                array.append(value(depth + 1));
            return array;
        }
        default:
            return object(depth);
        }
    }

private:
    FuzzedDataProvider& m_in;
    std::vector<const char*> m_keys;
};
