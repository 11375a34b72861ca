// Loads the real main window from the resources with stand-in context
// objects, finds items by object name and keeps every QML fault logged.
#pragma once

#include "FakeManager.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>

class QmlStage
{
public:
    QmlStage();
    // Lookups in a window shown by someone else (no stand-ins).
    explicit QmlStage(QQuickWindow* shown);
    ~QmlStage();

    // Warnings that point at a QML fault (errors, binding loops, missing files)
    // logged since the first call or the first stage.
    static QString problems();

    QObject* fake(const char* name) const;
    // Runs a script in the screens' context, e.g. to set a stand-in's value.
    QVariant eval(const QString& script);
    // The first object (item, popup) of that name below `below` (default: the window).
    QObject* object(const QString& name, QObject* below = nullptr) const;
    QQuickItem* find(const QString& name, QObject* below = nullptr) const
    {
        return qobject_cast<QQuickItem*>(object(name, below));
    }
    QString text(const QString& name, QObject* below = nullptr) const;
    // Screen loaders that are visible and hold a page.
    QList<QQuickItem*> visibleScreens() const;
    void click(QQuickItem* item);
    void showScreen(const QString& name);
    // Opens a settings menu row's page from the menu and returns the page.
    QQuickItem* openSettingsPage(const QString& file);
    void settingsBack();

    FakeManager manager;
    QQmlApplicationEngine engine;
    QObject* fakes = nullptr;
    QQuickWindow* window = nullptr;
};
