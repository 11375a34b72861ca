// Test stand-in for the GUI manager as the screens see it: the same
// properties, signals and slots, with every slot call recorded.
#pragma once

#include <QColor>
#include <QObject>
#include <QStringList>
#include <QTranslator>

class FakeManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString screen READ screen WRITE setScreen NOTIFY screenChanged)
    Q_PROPERTY(QString deviceId MEMBER m_deviceId NOTIFY deviceIdChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString dynTr READ dynTr NOTIFY languageChanged)
    Q_PROPERTY(QString message MEMBER m_message NOTIFY messageChanged)
    Q_PROPERTY(bool showCursor MEMBER m_showCursor NOTIFY showCursorChanged)
    Q_PROPERTY(bool showErrorDesc MEMBER m_showErrorDesc NOTIFY showErrorDescChanged)
    Q_PROPERTY(int displayOffMin MEMBER m_displayOffMin NOTIFY displayOffMinChanged)
    Q_PROPERTY(int shutdownDelaySec MEMBER m_shutdownDelaySec NOTIFY shutdownDelaySecChanged)
    Q_PROPERTY(QColor screenSaverBg MEMBER m_screenSaverBg CONSTANT)
    Q_PROPERTY(QString screenSaverImg MEMBER m_screenSaverImg CONSTANT)
    Q_PROPERTY(QObject* diagnostics MEMBER m_diagnostics CONSTANT)
    Q_PROPERTY(QObject* update MEMBER m_update CONSTANT)
    Q_PROPERTY(int animSwitchSec MEMBER m_animSwitchSec CONSTANT)

public:
    explicit FakeManager(QObject* parent = nullptr);

    QString screen() const { return m_screen; }
    void setScreen(const QString& value);
    QString language() const { return m_language; }
    void setLanguage(const QString& value);
    QString dynTr() const { return QString(); }

    QStringList calls;
    QString m_deviceId = "SN-0001";
    QString m_message;
    bool m_showCursor = true;
    bool m_showErrorDesc = false;
    int m_displayOffMin = 3;
    int m_shutdownDelaySec = 30;
    QColor m_screenSaverBg = Qt::black;
    QString m_screenSaverImg;
    QObject* m_diagnostics = nullptr;
    QObject* m_update = nullptr;
    int m_animSwitchSec = 0;

public slots:
    void settingsLoginRequest(const QString& pin) { calls << "login:" + pin; }
    void settingsLogoutRequest() { calls << "logout"; }
    void setIdleScreen() { calls << "idle"; }
    void setOutOfOrderScreen(const QString& message) { calls << "outOfOrder:" + message; }
    void setScreen(const QString& value, int timeout);
    void setMaintenanceScreen() { calls << "maintenance"; }
    void shutdownRequest() { calls << "shutdown"; }
    void rebootRequest() { calls << "reboot"; }
    void exitRequest() { calls << "exit"; }

signals:
    void screenChanged();
    void deviceIdChanged();
    void languageChanged();
    void settingsAccessGranted();
    void settingsAccessDenied();
    void messageChanged();
    void showCursorChanged();
    void showErrorDescChanged();
    void displayOffMinChanged();
    void shutdownDelaySecChanged();

private:
    QString m_screen;
    QString m_language;
    QTranslator m_translator;
};
