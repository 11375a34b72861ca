#pragma once
// Client of one camera-hosted recognition app: sends the trigger of a cycle,
// waits for the reading the camera pushes back and parses it into its record.

#include "Deferred.h"
#include "VAXReading.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <initializer_list>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

class VAXCamera : public QObject
{
    Q_OBJECT
public:
    // Outcome of one camera's data wait. The reading is not owned: a copy
    // shares the pointer, and destroying a result releases only its text.
    struct Result
    {
        QString message;
        VAXReading* reading = nullptr;
    };

    // Fixed waits of a cycle; tests shorten them.
    static constexpr int TriggerTimeoutMsec = 10000;
    // A reply body beyond these sizes is refused: the trigger's reply carries nothing
    // the lane reads, the device routines' replies are small documents.
    static constexpr qint64 MaxTriggerReplyBytes = 64 * 1024;
    static constexpr qint64 MaxReplyBytes = 1024 * 1024;

    explicit VAXCamera(const QUrl& url, QObject* parent = nullptr);
    // Settles a trigger or data wait still pending as failed, so no cycle waits for ever.
    ~VAXCamera() override;

    const QString& type() const { return m_type; }
    void setType(const QString& type);
    QUrl url() const { return m_url; }
    void setUrl(const QUrl& url);
    VAXReading* initialCameraData() const { return m_reading; }
    const QString& transactionId() const { return m_transactionId; }
    int retries() const { return m_retries; }
    int timeoutMsec() const { return m_timeoutMsec; }

    // The app path of a role: "/local/Vaxreader/", "/local/Vaxcontainer/" or empty.
    static QString appPath(const QString& role);

    Deferred<QString> startCameraProcess(const QString& id, int retries, int timeoutMsec);
    Deferred<QString> sendCameraTrigger(const QString& prefix);
    Deferred<Result> waitTCPDataMessage(int timeoutMsec);
    void handleTCPMessage(const QString& path, const QByteArray& body);
    void processHeartbeatMessage(const QByteArray& body);
    virtual bool processData(const QByteArray& body) = 0;

    // Device routines the lane does not use.
    void retrieveCameraInfo();
    void parseCameraInfo(const QByteArray& body);
    void uploadCameraConfiguration();
    Deferred<QByteArray> requestDBTriggerData(const QString& prefix);
    bool parseCameraXMLData(const QByteArray& body);

    void setTriggerTimeout(int msec) { m_triggerTimeoutMsec = msec; }

signals:
    void retrieveTriggerDataSignal(QString type, const VAXReading* cameraData);
    void typeChanged();
    void urlChanged();
    void processDataFinished(VAXCamera::Result result);

protected:
    // Readings are a dozen characters; a text field of a push longer than this refuses the push.
    static constexpr int MaxFieldBytes = 256;

    // Log prefix "[role] " after the class name.
    QString tag() const;
    // False, logged, when a text under one of the keys is too long; the push's outcome then says so.
    bool fieldsFit(const QJsonObject& object, std::initializer_list<const char*> keys);
    // A JSON object body, or an empty object with ok false (logged).
    QJsonObject parseObject(const QByteArray& body, bool* ok) const;
    static QDateTime dateValue(const QJsonValue& value);

private:
    // A URL of the camera's host with a path, over http on port 80.
    QUrl hostUrl(const QString& path) const;
    // Aborts the reply once its body, announced or received, exceeds maxBytes; the
    // returned text is then set to the reason, for the finished handler.
    std::shared_ptr<QString> limitReply(QNetworkReply* reply, qint64 maxBytes);
    // Aborts the reply after timeoutMsec with the warning; calls onFinished(reply, timedOut) once.
    void guardReply(QNetworkReply* reply, const QString& timeoutWarning,
        const std::function<void(QNetworkReply*, bool)>& onFinished);

    QString m_type;
    QUrl m_url;
    VAXReading* m_reading;
    QNetworkAccessManager* m_network;
    int m_retries = 0;
    int m_timeoutMsec = 0;
    int m_triggerTimeoutMsec = TriggerTimeoutMsec;
    QString m_transactionId;

    // Settled from the destructor when still pending.
    QList<Deferred<QString>> m_pendingTriggers;
    QList<Deferred<Result>> m_pendingWaits;
    // A push that arrived after the trigger went out but before a wait started.
    bool m_keepEarlyPush = false;
    bool m_hasEarlyPush = false;
    // Why the push being handled was refused, when a field did not fit.
    QString m_pushRefusal;
};

Q_DECLARE_METATYPE(VAXCamera::Result)
