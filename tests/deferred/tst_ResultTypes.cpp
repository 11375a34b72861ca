// Every value list the system carries in a Deferred: they compile with the
// operations used on them and follow the same rules.

#include "CardIssuer.h"
#include "Deferred.h"
#include "Dispenser.h"
#include "ESB.h"
#include "LogCapture.h"
#include "RFID.h"
#include "VAXCamera.h"

#include <QJsonValue>
#include <QMap>
#include <QTest>

class TestResultTypes : public QObject
{
    Q_OBJECT

private slots:
    void everyListSupportsItsOperations();
    void recordsAreCopiedPerCallback();
    void unobservedListsSettleSilently();
};

namespace {

template<class... T> int exercise(T... values)
{
    int calls = 0;
    Deferred<T...> resolved;
    resolved.done([&](T...) { ++calls; }).fail([&](T...) { ++calls; }).progress([&](T...) { ++calls; });
    resolved.notify(values...);
    resolved.resolve(values...);
    Deferred<T...> rejected;
    rejected.fail([&](T...) { ++calls; });
    rejected.reject(values...);
    Deferred<T...> zero;
    zero.failZero([&] { ++calls; });
    zero.rejectZero();
    return calls; // progress, done, fail, failZero
}

} // namespace

void TestResultTypes::everyListSupportsItsOperations()
{
    QCOMPARE(exercise<>(), 4);
    QCOMPARE((exercise<int, QJsonValue>(200, QJsonValue())), 4);
    QCOMPARE(exercise<QJsonValue>(QJsonValue()), 4);
    QCOMPARE(exercise<QString>(QString()), 4);
    QCOMPARE(exercise<QByteArray>(QByteArray()), 4);
    QCOMPARE((exercise<QMap<QString, QString>>(QMap<QString, QString>())), 4);
    QCOMPARE(exercise<VAXCamera::Result>(VAXCamera::Result()), 4);
    QCOMPARE(exercise<QList<VAXCamera::Result>>(QList<VAXCamera::Result>()), 4);
    QCOMPARE(exercise<Backend::ESB::Response>(Backend::ESB::Response()), 4);
    QCOMPARE(exercise<manager::CardIssuer::Result>(manager::CardIssuer::Result()), 4);
    QCOMPARE(exercise<manager::RFID::Result>(manager::RFID::Result()), 4);
    QCOMPARE(exercise<manager::Dispenser::Result>(manager::Dispenser::Result()), 4);

    // The compositions in use.
    Deferred<QString> trigger;
    Deferred<VAXCamera::Result> camera = trigger.thenAlias<VAXCamera::Result>([](QString text) {
        Deferred<VAXCamera::Result> r;
        r.resolve(VAXCamera::Result { text, nullptr });
        return r;
    });
    QString message;
    camera.done([&](VAXCamera::Result r) { message = r.message; });
    Deferred<> joined = Deferred<>::when(QList<Deferred<QString>> { trigger });
    trigger.resolve(QStringLiteral("plate"));
    QCOMPARE(message, QStringLiteral("plate"));
    QCOMPARE(joined.state(), 1);
}

void TestResultTypes::recordsAreCopiedPerCallback()
{
    Deferred<manager::Dispenser::Result> dispenser;
    QString second;
    dispenser.done([](manager::Dispenser::Result r) { r.description = QStringLiteral("changed"); });
    dispenser.done([&](manager::Dispenser::Result r) { second = r.description; });
    dispenser.resolve(manager::Dispenser::Result { 0, QStringLiteral("original") });
    QCOMPARE(second, QStringLiteral("original"));

    // The tag inside a reader result is shared by every callback of the settle.
    Deferred<manager::RFID::Result> reader;
    QString seenUid;
    reader.done([](manager::RFID::Result r) { r.card->setUid(QStringLiteral("04AA")); });
    reader.done([&](manager::RFID::Result r) { seenUid = r.card->uid(); });
    const Tag::Ptr tag(new Tag);
    reader.resolve(manager::RFID::Result { tag, QString() });
    QCOMPARE(seenUid, QStringLiteral("04AA"));
}

void TestResultTypes::unobservedListsSettleSilently()
{
    LogCapture log;
    Deferred<QByteArray> raw;
    raw.resolve(QByteArrayLiteral("body"));
    Deferred<Backend::ESB::Response> esb;
    esb.reject(Backend::ESB::Response { 403, QStringLiteral("denied") });
    QVERIFY(log.texts().isEmpty());
    raw.reject(QByteArray());
    esb.resolve(Backend::ESB::Response());
    QCOMPARE(log.texts(),
        (QStringList {
            "Cannot reject already processed deferred object.", "Cannot resolve already processed deferred object." }));
}

QTEST_GUILESS_MAIN(TestResultTypes)
#include "tst_ResultTypes.moc"
