// Test stand-in for a network link object (primary connection, Ethernet):
// a property map, because one of its properties is named "interface", a
// word QML cannot declare. save() counts the saves asked for.
#pragma once

#include <QQmlPropertyMap>

class FakeLink : public QQmlPropertyMap
{
    Q_OBJECT

public:
    explicit FakeLink(QObject* parent = nullptr)
        : QQmlPropertyMap(this, parent)
    {
    }

    Q_INVOKABLE void save() { ++saves; }

    int saves = 0;
};
