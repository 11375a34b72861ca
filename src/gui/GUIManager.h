#pragma once
// The composition root of the application and its bridge to the QML user interface.

#include <QMap>
#include <QString>
#include <QVariant>

class GUIManager
{
public:
    // Every built-in setting; the settings store falls back to these.
    static const QMap<QString, QVariant> Defaults;
};
