// Entry point of the lane terminal application.

#include "CommandLine.h"
#include "Config.h"
#include "GUIManager.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// The overrides of the command line; ends the process for help, version and errors.
QVariantMap parseCLIArgs()
{
    const CommandLine::Result result = CommandLine::parse(QCoreApplication::arguments());
    if (result.exitCode >= 0) {
        std::fputs(result.output.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
        std::exit(result.exitCode);
    }
    return result.overrides;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_IM_MODULE", QByteArrayLiteral("freevirtualkeyboard"));

    // No high-DPI scaling: the screen stays unscaled, and set at this point the attribute
    // would only raise a warning.
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kstv-terminal-ui"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("kstv-terminal-ui"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.0.1-1-g1045188"));
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
