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

    // arguments as QCoreApplication::arguments() gives them, the program first.
    static Result parse(const QStringList& arguments);
};
