// Test stand-in for the GUI manager as the pages under test see it: its
// properties and signals, and the maintenance gesture's slot, its calls recorded.
#pragma once

#include <QCoreApplication>
#include <QLocale>
#include <QObject>
#include <QStringList>
#include <QTranslator>

class FakeManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString screen MEMBER m_screen NOTIFY screenChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString dynTr READ dynTr NOTIFY languageChanged)
    Q_PROPERTY(QString deviceId MEMBER m_deviceId CONSTANT)
    Q_PROPERTY(QString message MEMBER m_message NOTIFY changed)
    Q_PROPERTY(bool showCursor MEMBER m_showCursor NOTIFY changed)
    Q_PROPERTY(bool showErrorDesc MEMBER m_showErrorDesc NOTIFY changed)
    Q_PROPERTY(int displayOffMin MEMBER m_displayOffMin NOTIFY changed)
    Q_PROPERTY(int shutdownDelaySec MEMBER m_shutdownDelaySec NOTIFY changed)
    Q_PROPERTY(bool settingsLoginLocked MEMBER m_settingsLoginLocked NOTIFY changed)
    Q_PROPERTY(QObject* diagnostics MEMBER m_diagnostics CONSTANT)
    Q_PROPERTY(QObject* update MEMBER m_update NOTIFY changed)

public:
    QString language() const { return m_language; }
    QString dynTr() const { return QString(); }
    // As the application does it: Greek installs the resource translation, English removes it.
    void setLanguage(const QString& value)
    {
        if (m_translator.isEmpty() && !m_translator.load(":/qml/translations/KSTVTerminalUI_el_GR.qm"))
            qFatal("translation missing from the resources");
        if (QLocale(value).language() == QLocale::English)
            QCoreApplication::removeTranslator(&m_translator);
        else
            QCoreApplication::installTranslator(&m_translator);
        m_language = value;
        emit languageChanged();
    }

    QStringList calls;
    QString m_screen, m_deviceId = "SN-0001", m_message;
    bool m_showCursor = true, m_showErrorDesc = false, m_settingsLoginLocked = false;
    int m_displayOffMin = 3, m_shutdownDelaySec = 30;
    QObject* m_diagnostics = nullptr;
    QObject* m_update = nullptr;

public slots:
    void setMaintenanceScreen() { calls << "maintenance"; }

signals:
    void screenChanged();
    void languageChanged();
    void settingsAccessGranted();
    void settingsAccessDenied();
    void changed();

private:
    QString m_language;
    QTranslator m_translator;
};
