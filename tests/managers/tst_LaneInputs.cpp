// The lane inputs: the GPIO board, button and loop through the in-memory board
// and the file simulator with the real event loop, and the barrier decoders.

#include "Barrier.h"
#include "Button.h"
#include "Config.h"
#include "LogCapture.h"
#include "Loop.h"
#include "MIOBoard.h"
#include "SusiFake.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <climits>

using namespace manager;

namespace {
constexpr int kTwoPolls = 2 * MIOBoard::kPollMs + 150;

// Settled state of a wait as text, for compact checks.
QString outcome(const Deferred<>& d)
{
    return d.isPending() ? "pending" : d.state() == Deferred<>::Data::Resolved ? "resolved" : "rejected";
}
} // namespace

class tst_LaneInputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void boardDirectionsAndBounds();
    void pollSkipsFailedReads();
    void buttonAndLoop();
    void enableCatchesUpWithoutPress();
    void waitPress();
    void barrierDecoding();
    void fileSimulator();

private:
    QTemporaryDir m_simDir;
};

void tst_LaneInputs::initTestCase()
{
    // Read once, at the first call without an installed back-end (the file simulator case).
    qputenv(SusiSimulatorDirVariable, m_simDir.path().toLocal8Bit());
}

void tst_LaneInputs::boardDirectionsAndBounds()
{
    SusiFake fake;
    fake.failures[SusiFake::Initialize] = 7;
    fake.directions[2] = 1;
    LogCapture log;
    MIOBoard board;
    QVERIFY(log.contains(QtCriticalMsg, "[MIOBoard] Failed to initialize Susi4 library, code 7"));
    QCOMPARE(board.model(), QString("MIO-5271"));
    QCOMPARE(board.firmware(), QString("V1.42"));
    QVERIFY(QMetaObject::invokeMethod(&board, "setDisplayBrightness", Q_ARG(int, 80))); // as QML calls it
    QCOMPARE(board.displayBrightness(), 0);
    QSignalSpy dirs(&board, &MIOBoard::gpioDirChanged);

    board.setGpioDir(2, 1); // already an input: marked for the poll, no signal
    QVERIFY(log.contains(QtInfoMsg, "[MIOBoard] GPIO-2 already set to direction 1"));
    QCOMPARE(board.monitor(2).direction, 1);
    board.setGpioDir(3, 1);
    QVERIFY(log.contains(QtInfoMsg, "[MIOBoard] Succesfully set GPIO-3 to direction 1"));
    QCOMPARE(dirs.count(), 1);
    QCOMPARE(fake.directions.value(3), 1u);

    fake.failures[SusiFake::SetDirection] = 9; // a refused change is no success
    board.setGpioDir(4, 1);
    QVERIFY(log.contains(QtCriticalMsg, "[MIOBoard] Failed to set GPIO-4 to direction 1, SUSI_STATUS code 9"));
    QVERIFY(!log.contains("[MIOBoard] Succesfully set GPIO-4 to direction 1"));
    fake.levels[5] = 0;
    QSignalSpy states(&board, &MIOBoard::gpioStateChanged);
    board.setGpioState(5, 1);
    QCOMPARE(states.count(), 0);
    QCOMPARE(board.monitor(4).direction, 0);
    QCOMPARE(board.monitor(5).state, 1);
    fake.failures.clear();

    fake.failures[SusiFake::Direction] = 5;
    board.setGpioDir(6, 1);
    QVERIFY(log.contains(QtCriticalMsg, "[MIOBoard] Failed to get mode for GPIO-6, SUSI_STATUS code5"));
    QCOMPARE(board.gpioDir(6), -1);
    QCOMPARE(dirs.count(), 1);
    QCOMPARE(board.monitor(6).direction, 0);

    // Pins outside 0-7 read -1 and change nothing.
    for (int pin : { -1, 8, 1000 }) {
        QCOMPARE(board.gpioState(pin), -1);
        board.setGpioDir(pin, 1);
        board.setGpioState(pin, 1);
    }
    QCOMPARE(dirs.count(), 1);
    QCOMPARE(states.count(), 0);
}

void tst_LaneInputs::pollSkipsFailedReads()
{
    SusiFake fake;
    fake.levels[3] = 0;
    MIOBoard board;
    QTest::qWait(kTwoPolls);
    QCOMPARE(fake.calls.value(SusiFake::Level), 0); // nothing is polled before a direction is set
    QSignalSpy states(&board, &MIOBoard::gpioStateChanged);
    fake.failures[SusiFake::Level] = 3;
    board.setGpioDir(3, 1);
    QTest::qWait(kTwoPolls);
    QVERIFY(fake.calls.value(SusiFake::Level) >= 2);
    QCOMPARE(states.count(), 0);
    fake.failures.clear();
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 1, kTwoPolls);
    QCOMPARE(states.first(), (QVariantList { 3, 0 }));
}

void tst_LaneInputs::buttonAndLoop()
{
    SusiFake fake;
    LogCapture log;
    MIOBoard board;
    Button button(board, 0);
    Loop loop(board, 1);
    QStringList order;
    for (auto [signal, name] :
        { std::pair { &Button::lastPressChanged, "lastPress" }, { &Button::isPressedChanged, "isPressed" },
            { &Button::pressed, "pressed" }, { &Button::released, "released" } })
        connect(&button, signal, this, [&order, name = QString(name)] { order << name; });
    for (auto [signal, name] :
        { std::pair { &Loop::lastChangeChanged, "lastChange" }, { &Loop::isOccupiedChanged, "isOccupied" },
            { &Loop::vehiclePresent, "present" }, { &Loop::vehicleLeft, "left" } })
        connect(&loop, signal, this, [&order, name = QString(name)] { order << name; });

    // Both pins read 0 at start-up, against the board's initial 1: no release, no departure.
    QTRY_COMPARE_WITH_TIMEOUT(board.monitor(1).state, 0, kTwoPolls);
    QVERIFY(order.isEmpty());
    QVERIFY(log.startingWith("[Button]").isEmpty() && log.startingWith("[Loop]").isEmpty());

    fake.levels[1] = 1;
    QTRY_VERIFY_WITH_TIMEOUT(loop.isOccupied(), kTwoPolls);
    const QDateTime arrival = loop.lastChange();
    fake.levels[0] = 1;
    QTRY_VERIFY_WITH_TIMEOUT(button.isPressed(), kTwoPolls);
    fake.levels[0] = 0;
    fake.levels[1] = 0;
    QTRY_VERIFY_WITH_TIMEOUT(!loop.isOccupied() && !button.isPressed(), kTwoPolls);
    QCOMPARE(order,
        QStringList({ "lastChange", "isOccupied", "present", "lastPress", "isPressed", "pressed", "isPressed",
            "released", "isOccupied", "left" }));
    QCOMPARE(loop.lastChange(), arrival);
    QVERIFY(button.lastPress().isValid());
    QCOMPARE(log.startingWith("[Button]"),
        QStringList(
            { "[Button] User Button state changed : pressed", "[Button] User Button state changed : not pressed" }));
    QCOMPARE(log.startingWith("[Loop]"),
        QStringList(
            { "[Loop] Magnetic Loop state changed : occupied", "[Loop] Magnetic Loop state changed : not-occupied" }));
}

void tst_LaneInputs::enableCatchesUpWithoutPress()
{
    SusiFake fake;
    fake.levels[0] = 1;
    MIOBoard board;
    Button button(board, 0);
    QVERIFY(button.isPressed());
    QSignalSpy changed(&button, &Button::isPressedChanged);
    QSignalSpy presses(&button, &Button::pressed);
    QSignalSpy releases(&button, &Button::released);

    button.disable();
    fake.levels[0] = 0; // released while disabled
    QTest::qWait(kTwoPolls);
    button.enable();
    QVERIFY(!button.isPressed());
    QCOMPARE(changed.count(), 1);

    button.disable();
    fake.levels[0] = 1; // pressed and held through the disabled time
    QTest::qWait(kTwoPolls);
    button.enable();
    QVERIFY(button.isPressed());
    QCOMPARE(changed.count(), 2);

    button.disable();
    fake.failures[SusiFake::Level] = 1; // an unreadable pin counts as released
    button.enable();
    QVERIFY(!button.isPressed());
    QCOMPARE(changed.count(), 3);
    QCOMPARE(presses.count() + releases.count(), 0);
}

void tst_LaneInputs::waitPress()
{
    SusiFake fake;
    MIOBoard board;
    Button button(board, 0);
    QTRY_COMPARE_WITH_TIMEOUT(board.monitor(0).state, 0, kTwoPolls); // the first poll has run
    const auto press = [&] {
        fake.levels[0] = 1;
        QTRY_VERIFY_WITH_TIMEOUT(button.isPressed(), kTwoPolls);
        fake.levels[0] = 0;
        QTRY_VERIFY_WITH_TIMEOUT(!button.isPressed(), kTwoPolls);
    };

    // One press settles every pending wait.
    const Deferred<> a = button.waitPress(5), b = button.waitPress(0);
    press();
    QCOMPARE(outcome(a) + outcome(b), QString("resolvedresolved"));

    // A wait timing out leaves the other waits' links alone.
    const Deferred<> quick = button.waitPress(1), open = button.waitPress(-1), slow = button.waitPress(30);
    QTRY_COMPARE_WITH_TIMEOUT(outcome(quick), QString("rejected"), 2000);
    press();
    QCOMPARE(outcome(open) + outcome(slow), QString("resolvedresolved"));

    // A time-out too long for milliseconds still times out, at the longest interval a timer takes.
    const Deferred<> endless = button.waitPress(INT_MAX);
    const auto timers = button.findChildren<QTimer*>();
    QVERIFY(std::any_of(timers.begin(), timers.end(),
        [](QTimer* t) { return t->isActive() && t->interval() == INT_MAX / 1000 * 1000; }));
    button.disable();
    fake.levels[0] = 1; // a disabled button settles nothing
    QTest::qWait(kTwoPolls);
    QCOMPARE(outcome(endless), QString("pending"));
}

void tst_LaneInputs::barrierDecoding()
{
    Config config(QTemporaryDir().filePath("gui.conf"), {});
    LogCapture log;
    Barrier barrier(config);
    QCOMPARE(barrier.reason(), QString("Disconnected"));
    QVERIFY(!barrier.active());
    QCOMPARE(log.texts(), QStringList({ "[Barrier] State changed : (0) Init (reason=Disconnected)" }));
    QSignalSpy opened(&barrier, &Barrier::barrierOpened);
    QSignalSpy closed(&barrier, &Barrier::barrierClosed);
    QSignalSpy loopA(&barrier, &Barrier::loopAChanged);

    struct Case
    {
        std::uint32_t word;
        Barrier::State state;
        QString reason;
        bool open;
    };
    for (const Case& c : { Case { 0x1 | 0x2, Barrier::Error, "Error present", false },
             Case { 0x1, Barrier::Ready, "", false }, Case { 0x2D200000, Barrier::Busy, "Closing", false },
             Case { 0x1 | 0x100000 | 0x800000, Barrier::Ready, "", true },
             Case { 0x5A400014, Barrier::Busy, "Opening", true } }) {
        barrier.setStatus(c.word);
        QCOMPARE(barrier.state(), c.state);
        QCOMPARE(barrier.reason(), c.reason);
        QCOMPARE(barrier.isOpen(), c.open);
    }
    QVERIFY(log.contains("[Barrier] Boom is closing : 45 degrees"));
    QVERIFY(log.contains("[Barrier] Boom is opening : 90 degrees"));
    QCOMPARE(opened.count() + closed.count(), 1);

    log.clear();
    barrier.setStatus(0x5A400014); // repeated word: nothing
    barrier.setLoopA(0x10);
    barrier.setLoopA(0x11);
    QCOMPARE(loopA.count(), 1);
    QVERIFY(barrier.loopA());
    barrier.setLoopB(0x9000);
    QCOMPARE(barrier.reason(), QString("Loop B error"));
    QVERIFY(log.contains("[Barrier] State changed : (3) Error (reason=Loop B short-circuit)"));
    QCOMPARE(log.startingWith("[Barrier] Loop A changed : "),
        QStringList({ "[Barrier] Loop A changed : 10", "[Barrier] Loop A changed : 11" }));
}

void tst_LaneInputs::fileSimulator()
{
    // No back-end installed: the one named by the environment, driven through the documented commands.
    const auto sim = [this](const QStringList& args) {
        QProcess p;
        p.start(qEnvironmentVariable("LANE_SOURCE_DIR") + "/tools/gpiosim/gpiosim", args);
        return p.waitForFinished(5000) && p.exitCode() == 0;
    };
    QVERIFY(sim({ "init" }));
    MIOBoard board;
    QCOMPARE(board.model(), QString("GPIO file simulator"));
    Button button(board, 0);
    Loop loop(board, 1);
    QSignalSpy presses(&button, &Button::pressed), releases(&button, &Button::released);
    QSignalSpy present(&loop, &Loop::vehiclePresent), left(&loop, &Loop::vehicleLeft);
    QTRY_COMPARE_WITH_TIMEOUT(board.monitor(1).state, 0, kTwoPolls);

    QVERIFY(sim({ "arrive" }));
    QTRY_COMPARE_WITH_TIMEOUT(present.count(), 1, kTwoPolls);
    QVERIFY(sim({ "press" }));
    QTRY_COMPARE_WITH_TIMEOUT(presses.count(), 1, kTwoPolls);
    QVERIFY(QFile::remove(m_simDir.filePath("gpio0"))); // a missing file is a failed read, not a release
    QTest::qWait(kTwoPolls);
    QCOMPARE(releases.count(), 0);
    QVERIFY(sim({ "release" }));
    QTRY_COMPARE_WITH_TIMEOUT(releases.count(), 1, kTwoPolls);
    QVERIFY(sim({ "leave" }));
    QTRY_COMPARE_WITH_TIMEOUT(left.count(), 1, kTwoPolls);
}

QTEST_GUILESS_MAIN(tst_LaneInputs)
#include "tst_LaneInputs.moc"
