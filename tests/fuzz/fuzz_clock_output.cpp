// Runs the clock and its output parsers over arbitrary outputs, exit codes and failures of its system
// commands and arbitrary time zones and NTP servers from the screen, and checks
// that no command ever gets an argument that could act as an option or as more
// than a replacement text in the sed script.

#include "Clock.h"
#include "CommandRunner.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

namespace {

void failOnFatal(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtFatalMsg)
        std::abort();
}

class FuzzRunner : public CommandRunner
{
public:
    explicit FuzzRunner(FuzzedDataProvider& in)
        : m_in(in)
    {
    }

    Result run(const QString& program, const QStringList& arguments, int) override
    {
        static const QRegularExpression script(
            QRegularExpression::anchoredPattern(QStringLiteral("s/\\^#\\?NTP=\\.\\*/NTP=[A-Za-z0-9.: -]*/")));
        if (program == QLatin1String("sed") && !script.match(arguments.value(2)).hasMatch())
            std::abort();
        if (program == QLatin1String("timedatectl") && arguments.value(0) == QLatin1String("set-timezone")
            && arguments.value(1).startsWith(QLatin1Char('-')))
            std::abort();
        Result result;
        result.status = static_cast<Result::Status>(m_in.ConsumeIntegralInRange(0, 3));
        result.exitCode = m_in.ConsumeIntegralInRange(-1, 2);
        result.error = m_in.ConsumeIntegralInRange(0, 5);
        result.output = QByteArray::fromStdString(m_in.ConsumeRandomLengthString(160));
        return result;
    }

private:
    FuzzedDataProvider& m_in;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(failOnFatal);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    FuzzRunner runner(in);
    manager::Clock clock(runner, QStringLiteral("/conf/timesyncd.conf"));
    while (in.remaining_bytes() > 0) {
        const QString value = QString::fromUtf8(in.ConsumeRandomLengthString(40).c_str());
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0:
            clock.setTimezone(in.ConsumeBool() || clock.timezones().isEmpty()
                    ? value
                    : clock.timezones().value(in.ConsumeIntegralInRange<int>(0, clock.timezones().size() - 1)));
            break;
        case 1:
            clock.setNtpServer(value);
            break;
        case 2:
            clock.setNtpEnabled(in.ConsumeBool());
            break;
        default:
            clock.refresh();
            break;
        }
    }
    return 0;
}
