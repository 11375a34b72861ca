// Loads the real main window from the resources with stand-in context
// objects, and keeps every QML warning logged meanwhile.
#pragma once

#include "FakeLink.h"
#include "FakeManager.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStringList>

class QmlStage
{
public:
    QmlStage();
    ~QmlStage();

    // Warnings that point at a QML fault (errors, binding loops, missing files).
    static QStringList problems();
    static void clearProblems();
    static QString problemText() { return problems().join('\n'); }

    QObject* fake(const char* name) const;
    QObject* object(const QString& objectName, QObject* below = nullptr) const;
    QQuickItem* find(const QString& objectName, QObject* below = nullptr) const;
    QQuickItem* screen(const QString& name) const;
    // Screen loaders that are visible and hold a page.
    QList<QQuickItem*> visibleScreens() const;
    QString text(const QString& objectName, QObject* below = nullptr) const;
    void click(QQuickItem* item);
    void showScreen(const QString& name);
    // Opens a settings menu row's page and returns the page item.
    QQuickItem* openSettingsPage(const QString& file);
    void settingsBack();
    void flush();

    FakeManager manager;
    QQmlApplicationEngine engine;
    QObject* fakes = nullptr;
    FakeLink primary;
    FakeLink ethernet;
    QQuickWindow* window = nullptr;
};
