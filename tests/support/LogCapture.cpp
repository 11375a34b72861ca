#include "LogCapture.h"

#include <QMutexLocker>

#include <algorithm>

namespace {
LogCapture* g_current = nullptr;
QtMessageHandler g_previous = nullptr;
QBasicMutex g_mutex;
} // namespace

LogCapture::LogCapture(bool echo)
    : m_echo(echo)
{
    QMutexLocker lock(&g_mutex);
    m_outer = g_current;
    g_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
    if (!m_outer)
        g_previous = m_previous;
}

LogCapture::~LogCapture()
{
    QMutexLocker lock(&g_mutex);
    g_current = m_outer;
    qInstallMessageHandler(m_previous);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QtMessageHandler previous = nullptr;
    {
        QMutexLocker lock(&g_mutex);
        for (LogCapture* c = g_current; c; c = c->m_outer) {
            QMutexLocker entryLock(&c->m_mutex);
            c->m_entries.append({ type, message });
        }
        if (g_current && g_current->m_echo)
            previous = g_previous;
    }
    if (previous)
        previous(type, context, message);
    else if (type == QtFatalMsg)
        abort();
}

QList<LogCapture::Entry> LogCapture::entries() const
{
    QMutexLocker lock(&m_mutex);
    return m_entries;
}

QStringList LogCapture::texts() const
{
    return startingWith(QString());
}

QStringList LogCapture::texts(QtMsgType type) const
{
    QStringList out;
    for (const Entry& e : entries())
        if (e.type == type)
            out << e.text;
    return out;
}

bool LogCapture::contains(const QString& text) const
{
    return texts().contains(text);
}

bool LogCapture::contains(QtMsgType type, const QString& text) const
{
    return texts(type).contains(text);
}

int LogCapture::count(const QString& text) const
{
    return texts().count(text);
}

QStringList LogCapture::startingWith(const QString& prefix) const
{
    QStringList out;
    for (const Entry& e : entries())
        if (e.text.startsWith(prefix))
            out << e.text;
    return out;
}

QStringList LogCapture::unsafeLines(int maxChars) const
{
    const auto unsafe = [](QChar c) {
        const ushort u = c.unicode();
        return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029;
    };
    QStringList out;
    for (const Entry& e : entries())
        if (e.text.size() > maxChars || std::any_of(e.text.cbegin(), e.text.cend(), unsafe))
            out << e.text;
    return out;
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
}
