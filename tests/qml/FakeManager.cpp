#include "FakeManager.h"

#include <QCoreApplication>
#include <QLocale>

FakeManager::FakeManager(QObject* parent)
    : QObject(parent)
{
}

void FakeManager::setScreen(const QString& value)
{
    if (value == m_screen)
        return;
    m_screen = value;
    emit screenChanged();
}

void FakeManager::setScreen(const QString& value, int timeout)
{
    calls << QString("screen:%1:%2").arg(value).arg(timeout);
    m_screen = value;
    emit screenChanged();
}

// Same translator handling as the application: Greek installs the resource
// translation, English removes it.
void FakeManager::setLanguage(const QString& value)
{
    if (value == m_language)
        return;
    if (m_translator.isEmpty() && !m_translator.load(":/qml/translations/KSTVTerminalUI_el_GR.qm"))
        qFatal("translation missing from the resources");
    if (QLocale(value).language() == QLocale::English)
        QCoreApplication::removeTranslator(&m_translator);
    else
        QCoreApplication::installTranslator(&m_translator);
    m_language = value;
    emit languageChanged();
}
