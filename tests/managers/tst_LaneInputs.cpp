// The lane inputs: the GPIO board, button and loop through the in-memory board
// with the real event loop (the file simulator drives the passage test), and the
// barrier decoders.

#include "Barrier.h"
#include "Button.h"
#include "Config.h"
#include "LogCapture.h"
#include "Loop.h"
#include "MIOBoard.h"
#include "SusiFake.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace manager;

namespace {
// Waits end on their condition; this only bounds them, wide enough for a busy machine's pauses.
constexpr int kWaitMs = 5000;

// Waits until the board has made `reads` more level reads, the fake counting each.
bool levelReads(const SusiFake& fake, int reads)
{
    const int until = fake.calls.value(SusiFake::Level) + reads;
    return QTest::qWaitFor([&] { return fake.calls.value(SusiFake::Level) >= until; }, kWaitMs);
}

// Names of the watched signals in the order they came.
template<class T>
void record(QStringList& order, T* object, std::initializer_list<std::pair<void (T::*)(), QString>> watched)
{
    for (const auto& [signal, name] : watched)
        QObject::connect(object, signal, [&order, name = name] { order << name; });
}

// The lane's inputs on the in-memory board.
struct Lane
{
    // startRead: the status of the level reads made while the button and loop start.
    explicit Lane(SusiStatus startRead = SusiStatusSuccess)
        : startRead(fake.failures[SusiFake::Level] = startRead)
    {
        fake.failures.clear();
    }

    SusiFake fake;
    SusiStatus startRead;
    MIOBoard board;
    Button button { board, 0 };
    Loop loop { board, 1 };

    // Puts a level on a pin and waits until the poll has passed it on.
    [[nodiscard]] bool set(int pin, std::uint32_t level)
    {
        fake.levels[pin] = level;
        return QTest::qWaitFor([&] { return board.monitor(pin).state == int(level); }, kWaitMs);
    }
    // Waits for one whole poll of the button's and the loop's pins.
    [[nodiscard]] bool polled() { return levelReads(fake, 2); }
};
} // namespace

class tst_LaneInputs : public QObject
{
    Q_OBJECT

private slots:
    void board();
    void buttonAndLoop();
    void waitPress();
    void barrierDecoding();
};

void tst_LaneInputs::board()
{
    SusiFake fake;
    fake.failures[SusiFake::Initialize] = 7;
    fake.directions[2] = 1;
    LogCapture log;
    MIOBoard board;
    QCOMPARE(board.model() + board.firmware(), QString("MIO-5271V1.42"));
    QVERIFY(QMetaObject::invokeMethod(&board, "setDisplayBrightness", Q_ARG(int, 80))); // as QML calls it
    QSignalSpy dirs(&board, &MIOBoard::gpioDirChanged), states(&board, &MIOBoard::gpioStateChanged);

    board.setGpioDir(2, 1); // already an input: polled, no signal
    board.setGpioDir(3, 1);
    fake.failures[SusiFake::SetDirection] = 9; // a refused change is no success
    board.setGpioDir(4, 1);
    board.setGpioState(5, 1);
    fake.failures = { { SusiFake::Direction, 5 } };
    board.setGpioDir(6, 1);
    board.setGpioDir(8, 1); // outside the board: -1, nothing changes
    board.setGpioState(-1, 1);
    QCOMPARE(board.gpioState(1000) + board.gpioDir(8), -2);
    fake.failures.clear(); // pin 8 is refused by the board's own bounds, not by its back-end
    QCOMPARE(board.gpioDir(8), -1);
    board.setGpioState(8, 1);
    QCOMPARE(board.gpioState(8), -1);
    QCOMPARE(log.count("[MIOBoard] Invalid GPIO-8"), 5);
    QCOMPARE(dirs, (QList<QVariantList> { { 3, 1 } }));
    QCOMPARE(log.startingWith("[MIOBoard] Succesfully set GPIO-"),
        QStringList({ "[MIOBoard] Succesfully set GPIO-3 to direction 1" }));
    for (int pin = 2; pin <= 6; ++pin) // directions set, and the state of the output that failed
        QCOMPARE(board.monitor(pin).direction + board.monitor(pin).state, pin <= 3 ? 2 : 1);

    // Polled pins whose read fails are skipped until they read again.
    fake.failures = { { SusiFake::Level, 3 } };
    QVERIFY(levelReads(fake, 4)); // two polls of pins 2 and 3
    QVERIFY(states.isEmpty());
    fake.failures.clear();
    QTRY_COMPARE_WITH_TIMEOUT(states, (QList<QVariantList> { { 2, 0 }, { 3, 0 } }), kWaitMs);
}

void tst_LaneInputs::buttonAndLoop()
{
    Lane lane(SusiStatusReadError);
    QStringList order;
    record(order, &lane.button,
        { { &Button::lastPressChanged, "lastPress" }, { &Button::isPressedChanged, "isPressed" },
            { &Button::pressed, "pressed" }, { &Button::released, "released" } });
    record(order, &lane.loop,
        { { &Loop::lastChangeChanged, "lastChange" }, { &Loop::isOccupiedChanged, "isOccupied" },
            { &Loop::vehiclePresent, "present" }, { &Loop::vehicleLeft, "left" } });

    // Unread at start-up, both pins then poll 0: no release, no departure.
    QVERIFY(lane.polled());
    QVERIFY(order.isEmpty());
    QVERIFY(lane.set(1, 1));
    const QDateTime arrival = lane.loop.lastChange();
    QVERIFY(lane.set(0, 1));
    QVERIFY(lane.set(0, 0));
    QVERIFY(lane.set(1, 0));
    QCOMPARE(order,
        QStringList({ "lastChange", "isOccupied", "present", "lastPress", "isPressed", "pressed", "isPressed",
            "released", "isOccupied", "left" }));
    QVERIFY(lane.loop.lastChange() == arrival && lane.button.lastPress().isValid());

    // Enabling catches up with a level that changed while disabled, but announces no press or release.
    // Where the reads fail, the last level the board read stands (the start-up read failed, so only
    // polls read it), and once read again a button held through the failures is no new press.
    QVERIFY(lane.set(0, 1));
    order.clear();
    QStringList seen;
    struct Row
    {
        std::uint32_t level;
        SusiStatus poll, enable; // the level reads while disabled and at enable
    };
    const SusiStatus ok = SusiStatusSuccess, bad = SusiStatusReadError;
    // Held and unreadable, let go and unreadable at enable, pressed and held, let go.
    for (const Row& row : { Row { 1, bad, bad }, { 0, ok, bad }, { 1, ok, ok }, { 0, ok, ok } }) {
        lane.button.disable();
        lane.fake.levels[0] = row.level;
        lane.fake.failures[SusiFake::Level] = row.poll;
        QVERIFY(lane.polled()); // polled while disabled
        lane.fake.failures[SusiFake::Level] = row.enable;
        lane.button.enable();
        seen << (lane.button.isPressed() ? "down" : "up");
        lane.fake.failures.clear();
        QVERIFY(lane.polled() && lane.polled());
    }
    QCOMPARE(seen, QStringList({ "down", "up", "down", "up" }));
    QCOMPARE(order, QStringList({ "isPressed", "isPressed", "isPressed" }));

    // A vehicle already on a loop whose start-up read failed arrives at the first good poll,
    // however late that comes.
    lane.fake.failures[SusiFake::Level] = SusiStatusReadError;
    Loop standing(lane.board, 2);
    QSignalSpy arrived(&standing, &Loop::vehiclePresent);
    lane.fake.levels[2] = 1;
    lane.fake.failures.clear();
    QVERIFY(levelReads(lane.fake, 3));
    QVERIFY(arrived.count() == 1 && standing.isOccupied());
}

void tst_LaneInputs::waitPress()
{
    Lane lane;
    const auto press = [&lane] { return lane.set(0, 1) && lane.set(0, 0); };
    // One press settles every pending wait.
    const Deferred<> a = lane.button.waitPress(5), b = lane.button.waitPress(0);
    QVERIFY(press());
    QCOMPARE(QList<int>({ a.state(), b.state() }), QList<int>({ 1, 1 })); // resolved

    // A wait timing out leaves the other waits' links alone.
    const Deferred<> quick = lane.button.waitPress(1), open = lane.button.waitPress(-1),
                     slow = lane.button.waitPress(9);
    QTRY_COMPARE_WITH_TIMEOUT(quick.state(), 2, kWaitMs); // rejected
    QVERIFY(press());
    QCOMPARE(QList<int>({ open.state(), slow.state() }), QList<int>({ 1, 1 }));

    // A time-out too long for milliseconds runs at the longest interval a timer takes.
    lane.button.waitPress(INT_MAX);
    QTimer* timer = lane.button.findChildren<QTimer*>().last();
    QVERIFY(timer->isActive() && timer->interval() == INT_MAX / 1000 * 1000);
}

void tst_LaneInputs::barrierDecoding()
{
    Config config(QTemporaryDir().filePath("gui.conf"), {});
    Barrier barrier(config);
    QVERIFY(barrier.reason() == "Disconnected" && !barrier.active());
    QSignalSpy opened(&barrier, &Barrier::barrierOpened);
    QStringList seen;
    for (std::uint32_t word : { 0x3u, 0x1u, 0x2D200000u, 0x900001u, 0x5A400014u, 0x5A400014u }) {
        barrier.setStatus(word);
        seen << QString("%1 %2 %3").arg(barrier.state()).arg(barrier.reason()).arg(barrier.isOpen());
    }
    QCOMPARE(seen, QStringList({ "3 Error present 0", "2  0", "1 Closing 0", "2  1", "1 Opening 1", "1 Opening 1" }));
    QCOMPARE(opened.count(), 1);
}

QTEST_GUILESS_MAIN(tst_LaneInputs)
#include "tst_LaneInputs.moc"
