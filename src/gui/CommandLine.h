#pragma once
// Turns the program's arguments into settings overrides, or into the text and exit code
// of a run that ends at once (help, version, a bad option).

#include <QString>
#include <QStringList>
#include <QVariantMap>

class CommandLine
{
public:
    struct Result
    {
        QVariantMap overrides;
        // -1 to go on; otherwise the process ends with this code after printing output.
        int exitCode = -1;
        QString output;
    };

    // arguments as QCoreApplication::arguments() gives them, the program first. With
    // checkOnly only help, version and errors are decided: no overrides, no log lines.
    static Result parse(const QStringList& arguments, bool checkOnly = false);
    // The arguments without the GUI application's own options (and their values), which
    // that application takes out before ours are parsed.
    static QStringList withoutToolkitOptions(const QStringList& arguments);
};
