#pragma once
// Runs one system program with an argument list (never through a shell) and
// waits for it a bounded time. Tests replace it to play the system's programs.

#include <QByteArray>
#include <QString>
#include <QStringList>

class CommandRunner
{
public:
    struct Result
    {
        enum Status { Finished, FailedToStart, TimedOut, Crashed };
        Status status = FailedToStart;
        int exitCode = -1;
        int error = 0; // the process error code when it did not finish in time or did not start
        QByteArray output; // standard output, read only when it finished
    };

    virtual ~CommandRunner();

    // Blocks the calling thread for at most msec; a program still running then is killed.
    virtual Result run(const QString& program, const QStringList& arguments, int msec);
};
