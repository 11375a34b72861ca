#include "CommandRunner.h"

#include <QElapsedTimer>
#include <QProcess>

CommandRunner::~CommandRunner() = default;

CommandRunner::Result CommandRunner::run(const QString& program, const QStringList& arguments, int msec)
{
    Result result;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    // Standard error is never read; left in a pipe it could fill up and stall the program.
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(QIODevice::ReadWrite);
    if (process.waitForStarted(msec))
        process.closeWriteChannel();
    if (!process.waitForFinished(static_cast<int>(qMax<qint64>(1, msec - clock.elapsed())))) {
        result.status = process.error() == QProcess::FailedToStart ? Result::FailedToStart : Result::TimedOut;
        result.error = process.error();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(1000);
        }
        return result;
    }
    if (process.exitStatus() == QProcess::CrashExit) {
        result.status = Result::Crashed;
        return result;
    }
    result.status = Result::Finished;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput();
    return result;
}
