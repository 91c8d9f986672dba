// The open control library against the simulator over a pseudo-terminal.
#include "libkesmarctl.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <pty.h>
#include <unistd.h>

#include <climits>
#include <memory>

namespace {

// The time-out the tests open with. Larger than the program's default of
// 100 ms so a loaded machine does not make a healthy exchange miss it.
constexpr int Timeout = 300;
// What any call may take at most: its time-out plus a generous margin.
constexpr int Bound = Timeout + 1000;

constexpr uint8_t Unit = '0';
constexpr uint8_t Dev1 = '1';
constexpr uint8_t Dev2 = '2';

struct Closer
{
    void operator()(kesmarctl_connection *h) const { kesmarctl_close(h); }
};
using Handle = std::unique_ptr<kesmarctl_connection, Closer>;

Handle open(const QString &port, int timeout = Timeout)
{
    return Handle(kesmarctl_open(port.toLatin1().constData(), timeout));
}

QString lastError(kesmarctl_connection *h)
{
    return QString::fromUtf8(kesmarctl_last_errorstr(h));
}

struct Xyz
{
    int x = -1, y = -1, z = -1;
};

int position(kesmarctl_connection *h, uint8_t dev, Xyz &p, int time = 0)
{
    return kesmarctl_get_position_ext(h, dev, time, &p.x, &p.y, &p.z);
}

bool at(kesmarctl_connection *h, uint8_t dev, int x, int y, int z)
{
    Xyz p;
    return position(h, dev, p) == 0 && p.x == x && p.y == y && p.z == z;
}

// A pseudo-terminal that nobody answers on: the test holds its master side.
class SilentPty
{
public:
    SilentPty()
    {
        char name[PATH_MAX] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0)
            path_ = QString::fromLocal8Bit(name);
    }
    ~SilentPty()
    {
        for (int fd : {slave_, master_}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    QString path() const { return path_; }

private:
    int master_ = -1;
    int slave_ = -1;
    QString path_;
};

// Calls one of the six functions that take a handle, on device 1.
int callOnDevice1(int call, kesmarctl_connection *h)
{
    int x = 0, y = 0, z = 0;
    switch (call) {
    case 0:
        return kesmarctl_select_dev(h, Dev1);
    case 1:
        return kesmarctl_recv(h);
    case 2:
        return kesmarctl_get_position_ext(h, Dev1, 0, &x, &y, &z);
    case 3:
        return kesmarctl_store_mem_position_ext(h, Dev1, 1, 2, 3, 0);
    case 4:
        return kesmarctl_goto_mem_position_ext(h, Dev1, 0);
    default:
        return kesmarctl_get_mem_position_ext(h, Dev1, &x, &y, &z, 0);
    }
}

} // namespace

class TestKesmarctl : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void opensAndLearnsUnitId_data();
    void opensAndLearnsUnitId();
    void openRejectsWhatIsNotAPort_data();
    void openRejectsWhatIsNotAPort();
    void openFailsWhenNobodyAnswers_data();
    void openFailsWhenNobodyAnswers();
    void hugeTimeoutIsCapped();
    void openFailsOnPortInUseInThisProgram();
    void openFailsOnPortLockedByAnotherProgram();
    void nullAndClosedHandlesFailCleanly_data();
    void nullAndClosedHandlesFailCleanly();
    void errorTextsArePerConnection();
    void selectDevice_data();
    void selectDevice();
    void memoryPositionsRoundTrip();
    void getMemFailsWhenNothingStored();
    void rejectsBadArguments_data();
    void rejectsBadArguments();
    void gotoMovesAndRecvTakesInReports();
    void pcModeSendsNoReports();
    void pcModeQueryWaitStaysWithinTimeout();
    void recvDoesNotWait();
    void survivesFault_data();
    void survivesFault();
    void lateAnswerIsNotTakenAsTheNext();
    void hangupDuringCall();
    void hangupBetweenCalls();
    void reconnectsAfterSimulatorRestart();
    void reconnectsAfterTerminalReopen();
    void pollsFromInsideRunningEventLoop();
    void namesDevicesAsTheOperatorDoes_data();
    void namesDevicesAsTheOperatorDoes();

private:
    // The start of most tests: the simulator with `arguments`, and a
    // connection to its terminal (or its link) with `timeout`. On failure
    // `failure` tells why.
    bool startSim(const QStringList &arguments = {});
    bool connectToSim(const QStringList &arguments = {}, int timeout = Timeout, bool viaLink = false);

    std::unique_ptr<SimProcess> sim;
    Handle h;
    QString failure;
};

void TestKesmarctl::cleanup()
{
    h.reset();
    sim.reset();
}

bool TestKesmarctl::startSim(const QStringList &arguments)
{
    sim = std::make_unique<SimProcess>();
    const bool started = sim->start(arguments);
    failure = sim->lastError();
    return started;
}

bool TestKesmarctl::connectToSim(const QStringList &arguments, int timeout, bool viaLink)
{
    if (!startSim(arguments))
        return false;
    h = open(viaLink ? sim->linkPath() : sim->ptyPath(), timeout);
    failure = lastError(nullptr);
    return bool(h);
}

void TestKesmarctl::opensAndLearnsUnitId_data()
{
    QTest::addColumn<QString>("unitId");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("viaLink");
    QTest::newRow("ascii 0, by terminal path") << "48" << 48 << Timeout << false;
    QTest::newRow("ascii A, by link") << "0x41" << 0x41 << Timeout << true;
    QTest::newRow("high id") << "200" << 200 << Timeout << true;
    // Zero and negative time-outs fall back to the default of 100 ms.
    QTest::newRow("zero time-out") << "49" << 49 << 0 << true;
    QTest::newRow("negative time-out") << "50" << 50 << -5 << true;
    // Huge time-outs are capped (at 10 s); a unit that answers is not waited for.
    QTest::newRow("huge time-out") << "51" << 51 << INT_MAX << true;
}

void TestKesmarctl::opensAndLearnsUnitId()
{
    QFETCH(QString, unitId);
    QFETCH(int, expected);
    QFETCH(int, timeout);
    QFETCH(bool, viaLink);
    QVERIFY2(connectToSim({"--unit-id", unitId}, timeout, viaLink), qPrintable(failure));
    QCOMPARE(int(h->id), expected);
    // The id sits at byte offset 4 of the record, where the program reads it.
    QCOMPARE(int(reinterpret_cast<const uint8_t *>(h.get())[4]), expected);
    // The unit's own id is also a device the program addresses.
    Xyz p;
    QCOMPARE(position(h.get(), h->id, p), 0);
    QCOMPARE(p.x, 10250);
}

void TestKesmarctl::openRejectsWhatIsNotAPort_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("error");
    QTest::newRow("missing") << "/nonexistent/ttyKESMAR0"
                             << "no such port";
    QTest::newRow("missing in existing folder") << "/dev/ttyKESMAR-none"
                                                << "no such port";
    QTest::newRow("regular file") << "/etc/passwd"
                                  << "not a serial port";
    QTest::newRow("directory") << "/tmp"
                               << "a folder, not a serial port";
    QTest::newRow("character device, not a terminal") << "/dev/null"
                                                      << "not a serial port";
    QTest::newRow("empty name") << ""
                                << "no port name given";
}

void TestKesmarctl::openRejectsWhatIsNotAPort()
{
    QFETCH(QString, port);
    QFETCH(QString, error);
    QElapsedTimer timer;
    timer.start();
    kesmarctl_connection *bad = kesmarctl_open(port.toLatin1().constData(), Timeout);
    QVERIFY(timer.elapsed() < Bound);
    QVERIFY(!bad);
    kesmarctl_close(bad);
    QCOMPARE(lastError(nullptr), error);
}

void TestKesmarctl::openFailsWhenNobodyAnswers_data()
{
    QTest::addColumn<QStringList>("simArguments"); // empty: a bare terminal
    QTest::newRow("bare terminal") << QStringList();
    QTest::newRow("silent unit") << QStringList{"--quiet"};
    QTest::newRow("unit dropping answers") << QStringList{"--drop", "1"};
    QTest::newRow("unit answering too late") << QStringList{"--delay", "2000"};
}

void TestKesmarctl::openFailsWhenNobodyAnswers()
{
    QFETCH(QStringList, simArguments);
    SilentPty pty;
    QString port = pty.path();
    if (!simArguments.isEmpty()) {
        QVERIFY2(startSim(simArguments), qPrintable(failure));
        port = sim->ptyPath();
    }
    QVERIFY(!port.isEmpty());
    QElapsedTimer timer;
    timer.start();
    h = open(port);
    QVERIFY(timer.elapsed() < Bound);
    QVERIFY(!h);
    QCOMPARE(lastError(nullptr), QStringLiteral("no control unit answers within %1 ms").arg(Timeout));
    // A failed open leaves the port free for the next try.
    if (!simArguments.isEmpty()) {
        QCOMPARE(sim->command("clear"), QString("ok clear"));
        // A late answer may still hold up the line for a while.
        QTRY_VERIFY_WITH_TIMEOUT(h || (h = open(port)), 10000);
    }
}

void TestKesmarctl::hugeTimeoutIsCapped()
{
    QVERIFY2(startSim({"--quiet"}), qPrintable(failure));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!open(sim->ptyPath(), INT_MAX));
    QVERIFY(timer.elapsed() < 10000 + 1000);
    QCOMPARE(lastError(nullptr), QStringLiteral("no control unit answers within 10000 ms"));
}

void TestKesmarctl::openFailsOnPortInUseInThisProgram()
{
    QVERIFY2(startSim(), qPrintable(failure));
    Handle first = open(sim->ptyPath());
    QVERIFY(first);
    // The same terminal, by its own path and by the link to it.
    for (const QString &port : {sim->ptyPath(), sim->linkPath()}) {
        Handle second = open(port);
        QVERIFY(!second);
        QCOMPARE(lastError(nullptr), QStringLiteral("already in use"));
    }
    // The first connection is unharmed, and once closed the port is free again.
    QCOMPARE(kesmarctl_select_dev(first.get(), Dev1), 0);
    first.reset();
    Handle again = open(sim->linkPath());
    QVERIFY2(again, kesmarctl_last_errorstr(nullptr));
}

void TestKesmarctl::openFailsOnPortLockedByAnotherProgram()
{
    const QString flock = QStandardPaths::findExecutable("flock");
    if (flock.isEmpty())
        QSKIP("the flock tool (util-linux) is not installed");
    QVERIFY2(startSim(), qPrintable(failure));
    // Another program holds the port's lock until its standard input closes.
    QProcess holder;
    holder.start(flock, {sim->ptyPath(), "-c", "echo locked; cat >/dev/null"});
    QVERIFY(holder.waitForStarted(SimProcess::ReactionMs));
    QTRY_VERIFY_WITH_TIMEOUT(holder.canReadLine(), SimProcess::ReactionMs);
    QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));

    QVERIFY(!open(sim->linkPath()));
    QCOMPARE(lastError(nullptr), QStringLiteral("already in use"));

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(SimProcess::ReactionMs));
    h = open(sim->linkPath());
    QVERIFY2(h, kesmarctl_last_errorstr(nullptr));
}

void TestKesmarctl::nullAndClosedHandlesFailCleanly_data()
{
    QTest::addColumn<int>("call");
    QTest::newRow("select") << 0;
    QTest::newRow("recv") << 1;
    QTest::newRow("position") << 2;
    QTest::newRow("store") << 3;
    QTest::newRow("goto") << 4;
    QTest::newRow("get mem") << 5;
}

void TestKesmarctl::nullAndClosedHandlesFailCleanly()
{
    QFETCH(int, call);
    // The operator's words, naming neither the function nor the handle.
    const QString notConnected = QStringLiteral("not connected");
    QVERIFY(callOnDevice1(call, nullptr) < 0);
    QCOMPARE(lastError(nullptr), notConnected);

    QVERIFY2(startSim(), qPrintable(failure));
    kesmarctl_connection *closed = kesmarctl_open(sim->ptyPath().toLatin1().constData(), Timeout);
    QVERIFY(closed);
    QCOMPARE(kesmarctl_close(closed), 0);
    QVERIFY(!open("/nonexistent"));
    // The handle is gone: the call must not touch it.
    QVERIFY(callOnDevice1(call, closed) < 0);
    QCOMPARE(lastError(nullptr), notConnected);
    QVERIFY(!open("/nonexistent"));
    QCOMPARE(lastError(closed), notConnected);
    QVERIFY(kesmarctl_close(closed) < 0);
    QCOMPARE(kesmarctl_close(nullptr), 0);
}

void TestKesmarctl::errorTextsArePerConnection()
{
    QVERIFY2(connectToSim(), qPrintable(failure));
    SimProcess b;
    QVERIFY2(b.start(), qPrintable(b.lastError()));
    Handle hb = open(b.ptyPath());
    QVERIFY(hb);
    QVERIFY(kesmarctl_select_dev(h.get(), '9') < 0);
    const QString errorA = lastError(h.get());
    QCOMPARE(errorA, QStringLiteral("device 9 refused: no such device"));
    Xyz p;
    QVERIFY(kesmarctl_get_mem_position_ext(hb.get(), Dev2, &p.x, &p.y, &p.z, 5) < 0);
    QCOMPARE(lastError(hb.get()), QStringLiteral("device 2 refused: nothing stored in this memory position"));
    QCOMPARE(lastError(h.get()), errorA);
    // A failed open elsewhere leaves both alone.
    QVERIFY(!open("/nonexistent"));
    QCOMPARE(lastError(h.get()), errorA);
    QCOMPARE(lastError(nullptr), QStringLiteral("no such port"));
}

void TestKesmarctl::selectDevice_data()
{
    QTest::addColumn<int>("device");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("error");
    QTest::newRow("unit's own id") << int(Unit) << true << "";
    QTest::newRow("device 1") << int(Dev1) << true << "";
    QTest::newRow("device 3") << int('3') << true << "";
    QTest::newRow("absent device 9") << int('9') << false << "device 9 refused: no such device";
    QTest::newRow("id 0") << 0 << false << "device id 0 refused: no such device";
    QTest::newRow("reserved id 255") << 255 << false << "id 255 is reserved for the control unit";
}

void TestKesmarctl::selectDevice()
{
    QFETCH(int, device);
    QFETCH(bool, ok);
    QFETCH(QString, error);
    QVERIFY2(connectToSim(), qPrintable(failure));
    QElapsedTimer timer;
    timer.start();
    const int result = kesmarctl_select_dev(h.get(), static_cast<uint8_t>(device));
    QVERIFY(timer.elapsed() < Bound);
    QCOMPARE(result >= 0, ok);
    if (!ok)
        QCOMPARE(lastError(h.get()), error);
}

void TestKesmarctl::memoryPositionsRoundTrip()
{
    QVERIFY2(connectToSim(), qPrintable(failure));
    // Slots are kept per device and per slot; the range ends are accepted.
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev1, 0, 20500, 7, 0), 0);
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev1, 11, 12, 13, 15), 0);
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev2, 21, 22, 23, 0), 0);
    Xyz p;
    QCOMPARE(kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 0), 0);
    QCOMPARE(p.x, 0);
    QCOMPARE(p.y, 20500);
    QCOMPARE(p.z, 7);
    QCOMPARE(kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 15), 0);
    QCOMPARE(p.x, 11);
    QCOMPARE(p.z, 13);
    QCOMPARE(kesmarctl_get_mem_position_ext(h.get(), Dev2, &p.x, &p.y, &p.z, 0), 0);
    QCOMPARE(p.x, 21);
    // Storing again overwrites.
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev2, 31, 32, 33, 0), 0);
    QCOMPARE(kesmarctl_get_mem_position_ext(h.get(), Dev2, &p.x, &p.y, &p.z, 0), 0);
    QCOMPARE(p.y, 32);
    // Memory outlives the connection: it is the unit's.
    h.reset();
    h = open(sim->linkPath());
    QVERIFY(h);
    QCOMPARE(kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 15), 0);
    QCOMPARE(p.y, 12);
}

void TestKesmarctl::getMemFailsWhenNothingStored()
{
    QVERIFY2(connectToSim(), qPrintable(failure));
    Xyz p;
    const QString nothingStored = QStringLiteral("device 1 refused: nothing stored in this memory position");
    QVERIFY(kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 0) < 0);
    QCOMPARE(lastError(h.get()), nothingStored);
    QCOMPARE(p.x, -1); // untouched on failure
    QVERIFY(kesmarctl_goto_mem_position_ext(h.get(), Dev1, 0) < 0);
    QCOMPARE(lastError(h.get()), nothingStored);
}

void TestKesmarctl::rejectsBadArguments_data()
{
    QTest::addColumn<int>("call"); // 0 store, 1 goto, 2 get mem, 3 position with null output
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("x");
    QTest::addColumn<QString>("error");
    const QString noSlot = QStringLiteral("memory position %1 does not exist (0..15)");
    const QString outOfRange = QStringLiteral("device 1 refused: coordinate out of the travel range");
    const QString noPlace = QStringLiteral("no place given for the coordinates");
    QTest::newRow("store slot -1") << 0 << -1 << 5 << noSlot.arg(-1);
    QTest::newRow("store slot 16") << 0 << 16 << 5 << noSlot.arg(16);
    QTest::newRow("store slot INT_MAX") << 0 << INT_MAX << 5 << noSlot.arg(INT_MAX);
    QTest::newRow("store slot INT_MIN") << 0 << INT_MIN << 5 << noSlot.arg(INT_MIN);
    QTest::newRow("goto slot 256") << 1 << 256 << 0 << noSlot.arg(256);
    QTest::newRow("get mem slot -7") << 2 << -7 << 0 << noSlot.arg(-7);
    QTest::newRow("store x -1") << 0 << 0 << -1 << outOfRange;
    QTest::newRow("store x 20501") << 0 << 0 << 20501 << outOfRange;
    QTest::newRow("store x INT_MAX") << 0 << 0 << INT_MAX << outOfRange;
    QTest::newRow("store x INT_MIN") << 0 << 0 << INT_MIN << outOfRange;
    QTest::newRow("position into null") << 3 << 0 << 0 << noPlace;
    QTest::newRow("get mem into null") << 4 << 0 << 0 << noPlace;
}

void TestKesmarctl::rejectsBadArguments()
{
    QFETCH(int, call);
    QFETCH(int, pos);
    QFETCH(int, x);
    QFETCH(QString, error);
    QVERIFY2(connectToSim(), qPrintable(failure));
    Xyz p;
    int result = 0;
    switch (call) {
    case 0:
        result = kesmarctl_store_mem_position_ext(h.get(), Dev1, x, 100, 100, pos);
        break;
    case 1:
        result = kesmarctl_goto_mem_position_ext(h.get(), Dev1, pos);
        break;
    case 2:
        result = kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, pos);
        break;
    case 3:
        result = kesmarctl_get_position_ext(h.get(), Dev1, 0, &p.x, nullptr, &p.z);
        break;
    default:
        result = kesmarctl_get_mem_position_ext(h.get(), Dev1, nullptr, &p.y, &p.z, 0);
        break;
    }
    QVERIFY(result < 0);
    QCOMPARE(lastError(h.get()), error);
    // The connection goes on working after a refused call.
    QVERIFY(at(h.get(), Dev1, 10250, 10250, 10250));
}

void TestKesmarctl::gotoMovesAndRecvTakesInReports()
{
    QVERIFY2(connectToSim({"--speed", "4000", "--start", "1000,1000,1000"}), qPrintable(failure));
    QCOMPARE(kesmarctl_select_dev(h.get(), Dev1), 0);
    QCOMPARE(kesmarctl_recv(h.get()), 0); // nothing moves yet
    // Goto the way the program does it: store into slot 0, then go there.
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev1, 3000, 2000, 1000, 0), 0);
    QCOMPARE(kesmarctl_goto_mem_position_ext(h.get(), Dev1, 0), 0);

    // While the axes travel, the unit reports on its own and the positions
    // polled lie between start and target.
    int reports = 0;
    bool seenBetween = false;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const int n = kesmarctl_recv(h.get());
            if (n < 0)
                return true; // fails below
            reports += n;
            Xyz p;
            if (position(h.get(), Dev1, p) != 0)
                return true;
            if (p.x > 1000 && p.x < 3000)
                seenBetween = true;
            return p.x == 3000 && p.y == 2000 && p.z == 1000;
        }(),
        15000);
    QVERIFY(at(h.get(), Dev1, 3000, 2000, 1000));
    QVERIFY(seenBetween);
    QVERIFY(reports > 0);
    // Another device did not move.
    QVERIFY(at(h.get(), Dev2, 1000, 1000, 1000));
    // Once stopped, the unit falls silent.
    QTRY_COMPARE_WITH_TIMEOUT(kesmarctl_recv(h.get()), 0, 10000);
}

void TestKesmarctl::pcModeSendsNoReports()
{
    QVERIFY2(connectToSim({"--pc-mode", "--speed", "4000", "--start", "0,0,0"}), qPrintable(failure));
    QCOMPARE(sim->command("move 49 1500 1500 1500"), QString("ok move 49 1500 1500 1500"));
    int reports = 0;
    bool seenMoving = false;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            reports += qMax(kesmarctl_recv(h.get()), 0);
            Xyz p;
            if (position(h.get(), Dev1, p) != 0)
                return true;
            seenMoving = seenMoving || (p.x > 0 && p.x < 1500);
            return p.x == 1500;
        }(),
        15000);
    QVERIFY(seenMoving);
    QCOMPARE(reports, 0);
    // Leaving PC mode brings the reports back.
    QCOMPARE(sim->command("pcmode off"), QString("ok pcmode off"));
    QCOMPARE(sim->command("move 49 0 0 0"), QString("ok move 49 0 0 0"));
    // (QTRY evaluates its condition more than once: count, do not just test.)
    reports = 0;
    QTRY_VERIFY_WITH_TIMEOUT((reports += qMax(kesmarctl_recv(h.get()), 0)) > 0, 10000);
}

void TestKesmarctl::pcModeQueryWaitStaysWithinTimeout()
{
    // A slow move, so the unit would hold a position query for its whole wait.
    QVERIFY2(connectToSim({"--pc-mode", "--speed", "10", "--start", "0,0,0"}), qPrintable(failure));
    QCOMPARE(sim->command("move 49 20000 0 0"), QString("ok move 49 20000 0 0"));
    // The program passes its polling interval less 10 ms; the library must
    // still answer within its own time-out.
    for (int time : {990, 5000, INT_MAX, -1}) {
        QElapsedTimer timer;
        timer.start();
        Xyz p;
        QVERIFY2(position(h.get(), Dev1, p, time) == 0, qPrintable(lastError(h.get())));
        QVERIFY(timer.elapsed() < Bound);
        QVERIFY(p.x < 20000);
    }
}

void TestKesmarctl::recvDoesNotWait()
{
    QVERIFY2(connectToSim({}, 3000), qPrintable(failure));
    QCOMPARE(sim->command("delay 5000"), QString("ok delay 5000"));
    Xyz p;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(position(h.get(), Dev1, p) < 0); // gives up after its 3000 ms
    QVERIFY(timer.elapsed() < 3000 + 1000);
    // The answer is still about two seconds away: recv must not wait for it.
    timer.restart();
    QVERIFY(kesmarctl_recv(h.get()) >= 0);
    QVERIFY(timer.elapsed() < 1000);
    // Once it is there, recv takes it in.
    int taken = 0;
    QTRY_VERIFY_WITH_TIMEOUT((taken += qMax(kesmarctl_recv(h.get()), 0)) > 0, 15000);
}

void TestKesmarctl::survivesFault_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("callFails");
    QTest::addColumn<QString>("error"); // a pattern of the whole text
    QTest::addColumn<bool>("lateAnswer");
    const QString noAnswer = QStringLiteral("no answer from device 1 within 300 ms");
    // Whether the decoder saw damage depends on where the bit flip or the cut fell.
    const QString maybeDamaged = noAnswer + QStringLiteral("( \\(damaged data received\\))?");
    QTest::newRow("answer dropped") << "drop 1" << true << noAnswer << false;
    QTest::newRow("answer delayed past time-out") << "delay 1500" << true << noAnswer << true;
    QTest::newRow("answer corrupted") << "corrupt 1" << true << maybeDamaged << false;
    QTest::newRow("answer cut short") << "truncate 1" << true << maybeDamaged << false;
    QTest::newRow("answer from another device")
        << "wrong-id 1" << true << noAnswer + QStringLiteral(" \\(device 0 answered instead\\)") << false;
    QTest::newRow("unit silent") << "quiet on" << true << noAnswer << false;
    QTest::newRow("garbage on the line") << "garbage 300" << false << "" << false;
    QTest::newRow("noise before every answer") << "noise 40" << false << "" << false;
    QTest::newRow("delay within time-out") << "delay 50" << false << "" << false;
}

void TestKesmarctl::survivesFault()
{
    QFETCH(QString, fault);
    QFETCH(bool, callFails);
    QFETCH(QString, error);
    QFETCH(bool, lateAnswer);
    QVERIFY2(connectToSim({"--seed", "7"}), qPrintable(failure));
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev1, 100, 200, 300, 4), 0);

    QCOMPARE(sim->command(fault), "ok " + fault);
    QElapsedTimer timer;
    timer.start();
    Xyz p;
    const int result = kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 4);
    QVERIFY(timer.elapsed() < Bound);
    if (callFails) {
        QVERIFY(result < 0);
        const QRegularExpression whole(QRegularExpression::anchoredPattern(error));
        QVERIFY2(whole.match(lastError(h.get())).hasMatch(), qPrintable(lastError(h.get())));
    } else {
        QVERIFY2(result == 0, qPrintable(lastError(h.get())));
        QCOMPARE(p.x, 100);
        QCOMPARE(p.z, 300);
    }

    // Afterwards the connection works and answers are matched to the right
    // requests: a late answer to the failed call is taken in and dropped.
    QCOMPARE(sim->command("clear"), QString("ok clear"));
    int taken = 0;
    if (lateAnswer)
        QTRY_VERIFY_WITH_TIMEOUT((taken += qMax(kesmarctl_recv(h.get()), 0)) > 0, 10000);
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev2, 7, 8, 9, 4), 0);
    QVERIFY2(kesmarctl_get_mem_position_ext(h.get(), Dev2, &p.x, &p.y, &p.z, 4) == 0, qPrintable(lastError(h.get())));
    QCOMPARE(p.x, 7);
    QCOMPARE(p.y, 8);
    QCOMPARE(p.z, 9);
    QVERIFY(at(h.get(), Dev1, 10250, 10250, 10250));
}

// An answer that comes after its call gave up is not the answer to the next
// call, even when that call asks the same thing of another memory position.
void TestKesmarctl::lateAnswerIsNotTakenAsTheNext()
{
    QVERIFY2(connectToSim({"--seed", "7"}), qPrintable(failure));
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev1, 100, 200, 300, 4), 0);
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev1, 7, 8, 9, 5), 0);

    // Late by a little more than the time-out: it arrives while the next
    // call waits, just before that call's own answer.
    const QString fault = QStringLiteral("delay %1").arg(Timeout + Timeout / 3);
    QCOMPARE(sim->command(fault), "ok " + fault);
    Xyz p;
    QVERIFY(kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 4) < 0);
    QCOMPARE(sim->command("clear"), QString("ok clear"));
    QVERIFY2(kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 5) == 0, qPrintable(lastError(h.get())));
    QCOMPARE(p.x, 7);
    QCOMPARE(p.y, 8);
    QCOMPARE(p.z, 9);
}

void TestKesmarctl::hangupDuringCall()
{
    QVERIFY2(connectToSim(), qPrintable(failure));
    QCOMPARE(sim->command("hangup-next"), QString("ok hangup-next"));
    QElapsedTimer timer;
    timer.start();
    Xyz p;
    QVERIFY(position(h.get(), Dev1, p) < 0);
    QVERIFY(timer.elapsed() < Bound);
    QVERIFY(sim->waitForExit());
    // Whether the call saw the hang-up or timed out first, the next one knows.
    timer.restart();
    QVERIFY(kesmarctl_select_dev(h.get(), Dev1) < 0);
    QVERIFY(kesmarctl_recv(h.get()) < 0);
    QVERIFY(kesmarctl_store_mem_position_ext(h.get(), Dev1, 1, 2, 3, 0) < 0);
    QVERIFY(timer.elapsed() < Bound);
    QCOMPARE(lastError(h.get()), sim->ptyPath() + " went away; reconnect");
    QCOMPARE(kesmarctl_close(h.release()), 0);
}

void TestKesmarctl::hangupBetweenCalls()
{
    QVERIFY2(connectToSim(), qPrintable(failure));
    QCOMPARE(sim->command("hangup"), QString("ok hangup"));
    QVERIFY(sim->waitForExit());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(kesmarctl_recv(h.get()) < 0);
    QVERIFY(timer.elapsed() < Bound);
    const QString gone = sim->ptyPath() + " went away; reconnect";
    QCOMPARE(lastError(h.get()), gone);
    Xyz p;
    QVERIFY(position(h.get(), Dev1, p) < 0);
    QCOMPARE(lastError(h.get()), gone);
}

void TestKesmarctl::reconnectsAfterSimulatorRestart()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("unit");
    auto first = std::make_unique<SimProcess>();
    QVERIFY2(first->start({"--unit-id", "0x41"}, link), qPrintable(first->lastError()));
    h = open(link);
    QVERIFY(h);
    QCOMPARE(int(h->id), 0x41);

    QVERIFY(first->stop());
    QVERIFY(!QFileInfo(link).isSymLink()); // it cleaned up its link
    Xyz p;
    QVERIFY(position(h.get(), Dev1, p) < 0);
    QVERIFY(!open(link));

    SimProcess second;
    QVERIFY2(second.start({"--unit-id", "0x42"}, link), qPrintable(second.lastError()));
    QVERIFY(QFileInfo(link).isSymLink());
    h.reset();
    h = open(link);
    QVERIFY2(h, kesmarctl_last_errorstr(nullptr));
    QCOMPARE(int(h->id), 0x42);
    QCOMPARE(position(h.get(), Dev1, p), 0);
}

void TestKesmarctl::reconnectsAfterTerminalReopen()
{
    QVERIFY2(connectToSim({}, Timeout, true), qPrintable(failure));
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev1, 1, 2, 3, 1), 0);
    const QString answer = sim->command("reopen");
    QVERIFY2(answer.startsWith("ok reopen /"), qPrintable(answer));
    const QString newPath = answer.section(' ', 2);
    QCOMPARE(QFileInfo(sim->linkPath()).symLinkTarget(), newPath);
    Xyz p;
    QVERIFY(position(h.get(), Dev1, p) < 0);
    QCOMPARE(lastError(h.get()), sim->linkPath() + " went away; reconnect");
    h.reset();
    h = open(sim->linkPath());
    QVERIFY2(h, kesmarctl_last_errorstr(nullptr));
    // Same unit, so its memory is still there.
    QCOMPARE(kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 1), 0);
    QCOMPARE(p.z, 3);
}

void TestKesmarctl::pollsFromInsideRunningEventLoop()
{
    // The program's polling: a timer on the GUI thread calls recv and the
    // position query, with a fast re-poll after recv took something in. The
    // event loop runs between calls, so the port's own notifier may read data
    // in between; nothing may be lost or block.
    QVERIFY2(startSim({"--speed", "3000", "--start", "0,0,0"}), qPrintable(failure));
    QEventLoop loop;
    int reports = 0, polls = 0, failures = 0;
    Xyz last;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        ++polls;
        const int n = kesmarctl_recv(h.get());
        reports += qMax(n, 0);
        if (n < 0 || position(h.get(), Dev1, last) != 0)
            ++failures;
        if (last.x == 2000 || failures > 0)
            loop.quit();
    });
    QTimer::singleShot(0, [&] {
        h = open(sim->ptyPath());
        if (!h || kesmarctl_select_dev(h.get(), Dev1) != 0
            || kesmarctl_store_mem_position_ext(h.get(), Dev1, 2000, 1000, 500, 0) != 0
            || kesmarctl_goto_mem_position_ext(h.get(), Dev1, 0) != 0) {
            ++failures;
            loop.quit();
            return;
        }
        poll.start();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    poll.stop();
    QVERIFY2(h, kesmarctl_last_errorstr(nullptr));
    QVERIFY2(failures == 0, qPrintable(lastError(h.get())));
    QCOMPARE(last.x, 2000);
    QCOMPARE(last.y, 1000);
    QVERIFY(polls > 1);
    QVERIFY(reports > 0);
}

void TestKesmarctl::namesDevicesAsTheOperatorDoes_data()
{
    QTest::addColumn<QString>("unitId");
    QTest::addColumn<int>("device");
    QTest::addColumn<QString>("name");
    QTest::newRow("the unit's own id as device 0") << "48" << 48 << "device 0";
    QTest::newRow("device 1") << "48" << 49 << "device 1";
    QTest::newRow("device 99") << "48" << 147 << "device 99";
    QTest::newRow("past device 99") << "48" << 148 << "device id 148";
    QTest::newRow("below device 0") << "48" << 7 << "device id 7";
    QTest::newRow("the unit's own id outside the range") << "200" << 200 << "the unit's own manipulator";
}

void TestKesmarctl::namesDevicesAsTheOperatorDoes()
{
    QFETCH(QString, unitId);
    QFETCH(int, device);
    QFETCH(QString, name);
    QVERIFY2(connectToSim({"--unit-id", unitId}), qPrintable(failure));
    QCOMPARE(sim->command("drop 1"), QString("ok drop 1"));
    QVERIFY(kesmarctl_select_dev(h.get(), static_cast<uint8_t>(device)) < 0);
    QCOMPARE(lastError(h.get()), QStringLiteral("no answer from %1 within %2 ms").arg(name).arg(Timeout));
}

QTEST_GUILESS_MAIN(TestKesmarctl)
#include "tst_kesmarctl.moc"
