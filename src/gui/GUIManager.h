#pragma once
// The composition root of the application and its bridge to the QML user interface:
// builds and owns every manager, sets up logging, MQTT and the translator from the
// settings, and keeps the screen, message and display settings for QML.

#include "Diagnostics.h"
#include "EventManager.h"
#include "Inspector.h"
#include "MqttClient.h"
#include "ScreenLogic.h"
#include "SessionManager.h"
#include "Terminal.h"
#include "UiMqttService.h"
#include "Update.h"

#include <QColor>
#include <QMap>
#include <QQmlApplicationEngine>
#include <QString>
#include <QTranslator>
#include <QUrl>
#include <QVariant>

class Config;
class QQmlContext;

class GUIManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString screen READ screen WRITE setScreen NOTIFY screenChanged)
    Q_PROPERTY(QString deviceId READ deviceId NOTIFY deviceIdChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString dynTr READ dynTr NOTIFY languageChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool showCursor READ showCursor WRITE setShowCursor NOTIFY showCursorChanged)
    Q_PROPERTY(bool showErrorDesc READ showErrorDesc WRITE setShowErrorDesc NOTIFY showErrorDescChanged)
    Q_PROPERTY(int displayOffMin READ displayOffMin WRITE setDisplayOffMin NOTIFY displayOffMinChanged)
    Q_PROPERTY(int shutdownDelaySec READ shutdownDelaySec WRITE setShutdownDelaySec NOTIFY shutdownDelaySecChanged)
    Q_PROPERTY(QColor screenSaverBg READ screenSaverBg NOTIFY screenSaverBgChanged)
    Q_PROPERTY(QString screenSaverImg READ screenSaverImg NOTIFY screenSaverImgChanged)
    Q_PROPERTY(Diagnostics* diagnostics READ diagnostics NOTIFY diagnosticsChanged)
    Q_PROPERTY(manager::Update* update READ update NOTIFY updateChanged)
    Q_PROPERTY(int animSwitchSec READ animSwitchSec WRITE setAnimSwitchSec NOTIFY animSwitchSecChanged)
    Q_PROPERTY(bool settingsLoginLocked READ settingsLoginLocked NOTIFY settingsLoginLockedChanged)
public:
    // Every built-in setting; the settings store falls back to these.
    static const QMap<QString, QVariant> Defaults;
    static const QString kMainQml;

    explicit GUIManager(Config& config);
    ~GUIManager() override;

    // Loads the user interface; false (with a critical line) when main.qml did not load.
    bool load(const QUrl& url = QUrl(kMainQml));

    const QString& screen() const { return m_screens.screen(); }
    QString deviceId() const;
    const QString& language() const { return m_language; }
    QString dynTr() const { return QString(); }
    const QString& message() const { return m_screens.message(); }
    bool showCursor() const;
    bool showErrorDesc() const;
    int displayOffMin() const;
    int shutdownDelaySec() const;
    QColor screenSaverBg() const;
    QString screenSaverImg() const;
    Diagnostics* diagnostics() { return &m_diagnostics; }
    manager::Update* update();
    int animSwitchSec() const;
    bool settingsLoginLocked() const { return m_sessions.loginLocked(); }

    void setShowCursor(bool value);
    void setShowErrorDesc(bool value);
    void setDisplayOffMin(int value);
    void setShutdownDelaySec(int value);
    void setAnimSwitchSec(int value);
    void setLanguage(const QString& lang);

    QQmlApplicationEngine& engine() { return m_engine; }
    manager::MqttClient& mqtt() { return m_mqtt; }
    Terminal& terminal() { return m_terminal; }
    SessionManager& sessions() { return m_sessions; }
    EventManager& events() { return m_events; }
    ScreenLogic& screens() { return m_screens; }
    UiMqttService& service() { return m_service; }

signals:
    void screenChanged();
    void deviceIdChanged();
    void languageChanged();
    void settingsAccessGranted();
    void settingsAccessDenied();
    void settingsLoginLockedChanged();
    void messageChanged();
    void showCursorChanged();
    void showErrorDescChanged();
    void displayOffMinChanged();
    void shutdownDelaySecChanged();
    void errorOccured(QString error);
    void diagnosticsChanged();
    void updateChanged();
    void screenSaverBgChanged();
    void screenSaverImgChanged();
    void animSwitchSecChanged();

public slots:
    void settingsLoginRequest(const QString& pin);
    void settingsLogoutRequest();
    void setIdleScreen();
    void setOutOfOrderScreen(const QString& message);
    void setScreen(const QString& value, int timeout);
    void setScreen(const QString& value);
    void setMaintenanceScreen();
    void shutdownRequest();
    void rebootRequest();
    void exitRequest();

private:
    void initLog();
    void initConfig();
    void initQml();
    void initMqtt();
    void initManagers();

    void onConfigChanged(const QVariantMap& changes);
    void onConfigFileChanged();
    void onMqttConnected();
    void onMqttError(const QString& text);
    void onMaintenanceSession();
    void onSessionStarted();
    void onSessionFinished();
    void onSessionWaitCardCollect();
    void setSetting(const char* key, const QVariant& value);
    ScreenLogic::LaneState laneState() const;

    QString m_language;
    QQmlApplicationEngine m_engine;
    QQmlContext* m_context;
    QTranslator m_translator;
    bool m_translationLoaded = false;
    Config& m_config;
    manager::MqttClient m_mqtt;
    manager::Inspector m_inspector;
    Terminal m_terminal;
    Diagnostics m_diagnostics;
    ScreenLogic m_screens;
    SessionManager m_sessions;
    EventManager m_events;
    UiMqttService m_service;
};
