// Entry point of the lane terminal application.

#include "CommandLine.h"
#include "Config.h"
#include "GUIManager.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const QString kName = QStringLiteral("kstv-terminal-ui");
const QString kVersion = QStringLiteral("0.0.1-1-g1045188");

// Ends the process for help, version and errors.
void exitIfDone(const CommandLine::Result& result)
{
    if (result.exitCode >= 0) {
        std::fputs(result.output.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
        std::exit(result.exitCode);
    }
}

// The overrides of the command line; ends the process for help, version and errors.
QVariantMap parseCLIArgs()
{
    const CommandLine::Result result = CommandLine::parse(QCoreApplication::arguments());
    exitIfDone(result);
    return result.overrides;
}

// Help, version and a bad option end the run before the GUI application exists, so they
// need no display. The arguments are the GUI application's less its own options.
void exitIfOnlyAsked(int argc, char* argv[])
{
    std::vector<char*> copy(argv, argv + argc + 1); // the probe may take arguments out
    int copyCount = argc;
    QCoreApplication probe(copyCount, copy.data());
    QCoreApplication::setApplicationName(kName);
    QCoreApplication::setApplicationVersion(kVersion);
    exitIfDone(CommandLine::parse(CommandLine::withoutToolkitOptions(QCoreApplication::arguments()), true));
}

} // namespace

int main(int argc, char* argv[])
{
    // A write past a file-size limit then fails with EFBIG, which a save reports like a full
    // disk, instead of ending the lane.
    std::signal(SIGXFSZ, SIG_IGN);
    qputenv("QT_IM_MODULE", QByteArrayLiteral("freevirtualkeyboard"));
    exitIfOnlyAsked(argc, argv);

    // No high-DPI scaling: the screen stays unscaled, and set at this point the attribute
    // would only raise a warning.
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(kName);
    QGuiApplication::setApplicationDisplayName(kName);
    QCoreApplication::setApplicationVersion(kVersion);
    QCoreApplication::setOrganizationName(QStringLiteral("zent"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("zent.example.com"));

    const QVariantMap overrides = parseCLIArgs();
    const QString fileName = overrides.contains(QStringLiteral("config"))
        ? overrides.value(QStringLiteral("config")).toString()
        : QStringLiteral("gui.conf");

    Config config(fileName, GUIManager::Defaults);
    config.addOverrides(overrides);

    if (QFontDatabase::addApplicationFont(QStringLiteral(":/qml/fonts/DejaVuSans.ttf")) < 0)
        qWarning().noquote() << "WARN: Could not register the font :/qml/fonts/DejaVuSans.ttf";
    QGuiApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));

    GUIManager manager(config);
    manager.load();
    return app.exec();
}
