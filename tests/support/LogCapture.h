#pragma once
// Records every message of the process while alive, so tests can assert exact log lines.

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

class LogCapture
{
public:
    struct Entry
    {
        QtMsgType type;
        QString text;
    };

    // When echo is true, messages also go to the handler that was installed before.
    explicit LogCapture(bool echo = false);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QList<Entry> entries() const;
    QStringList texts() const;
    QStringList texts(QtMsgType type) const;
    bool contains(const QString& text) const;
    bool contains(QtMsgType type, const QString& text) const;
    int count(const QString& text) const;
    // Texts that start with the given prefix.
    QStringList startingWith(const QString& prefix) const;
    // Texts that would not stay one bounded line of the log: longer than maxChars, or holding
    // a control character (line break, escape, ...) or a line or paragraph separator.
    QStringList unsafeLines(int maxChars = 4096) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable QMutex m_mutex;
    QList<Entry> m_entries;
    bool m_echo;
    QtMessageHandler m_previous = nullptr;
    LogCapture* m_outer = nullptr;
};
