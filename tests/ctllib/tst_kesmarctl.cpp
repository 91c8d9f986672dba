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

#include <fcntl.h>
#include <stdlib.h>
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
        fd_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ >= 0 && grantpt(fd_) == 0 && unlockpt(fd_) == 0)
            path_ = QString::fromLocal8Bit(ptsname(fd_));
    }
    ~SilentPty()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    QString path() const { return path_; }

private:
    int fd_ = -1;
    QString path_;
};

} // namespace

class TestKesmarctl : public QObject
{
    Q_OBJECT

private slots:
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
    void hangupDuringCall();
    void hangupBetweenCalls();
    void reconnectsAfterSimulatorRestart();
    void reconnectsAfterTerminalReopen();
    void pollsFromInsideRunningEventLoop();
};

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
    SimProcess sim;
    QVERIFY2(sim.start({"--unit-id", unitId}), qPrintable(sim.lastError()));
    Handle h = open(viaLink ? sim.linkPath() : sim.ptyPath(), timeout);
    QVERIFY2(h, kesmarctl_last_errorstr(nullptr));
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
    QTest::addColumn<QString>("errorPart");
    QTest::newRow("missing") << "/nonexistent/ttyKESMAR0"
                             << "does not exist";
    QTest::newRow("missing in existing folder") << "/dev/ttyKESMAR-none"
                                                << "does not exist";
    QTest::newRow("regular file") << "/etc/passwd"
                                  << "not a serial port";
    QTest::newRow("directory") << "/tmp"
                               << "is a directory";
    QTest::newRow("character device, not a terminal") << "/dev/null"
                                                      << "not a serial port";
    QTest::newRow("empty name") << ""
                                << "no port name";
}

void TestKesmarctl::openRejectsWhatIsNotAPort()
{
    QFETCH(QString, port);
    QFETCH(QString, errorPart);
    QElapsedTimer timer;
    timer.start();
    kesmarctl_connection *h = kesmarctl_open(port.toLatin1().constData(), Timeout);
    QVERIFY(timer.elapsed() < Bound);
    QVERIFY(!h);
    kesmarctl_close(h);
    QVERIFY2(lastError(nullptr).contains(errorPart), qPrintable(lastError(nullptr)));
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
    SimProcess sim;
    QString port = pty.path();
    if (!simArguments.isEmpty()) {
        QVERIFY2(sim.start(simArguments), qPrintable(sim.lastError()));
        port = sim.ptyPath();
    }
    QVERIFY(!port.isEmpty());
    QElapsedTimer timer;
    timer.start();
    Handle h = open(port);
    QVERIFY(timer.elapsed() < Bound);
    QVERIFY(!h);
    QVERIFY2(lastError(nullptr).contains("no control unit answers"), qPrintable(lastError(nullptr)));
    // A failed open leaves the port free for the next try.
    if (!simArguments.isEmpty()) {
        QCOMPARE(sim.command("clear"), QString("ok clear"));
        // A late answer may still hold up the line for a while.
        QTRY_VERIFY_WITH_TIMEOUT(h || (h = open(port)), 10000);
    }
}

void TestKesmarctl::hugeTimeoutIsCapped()
{
    SimProcess sim;
    QVERIFY2(sim.start({"--quiet"}), qPrintable(sim.lastError()));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!open(sim.ptyPath(), INT_MAX));
    QVERIFY(timer.elapsed() < 10000 + 1000);
    QVERIFY2(lastError(nullptr).contains("within 10000 ms"), qPrintable(lastError(nullptr)));
}

void TestKesmarctl::openFailsOnPortInUseInThisProgram()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    Handle first = open(sim.ptyPath());
    QVERIFY(first);
    // The same terminal, by its own path and by the link to it.
    for (const QString &port : {sim.ptyPath(), sim.linkPath()}) {
        Handle second = open(port);
        QVERIFY(!second);
        QVERIFY2(lastError(nullptr).contains("in use"), qPrintable(lastError(nullptr)));
    }
    // The first connection is unharmed, and once closed the port is free again.
    QCOMPARE(kesmarctl_select_dev(first.get(), Dev1), 0);
    first.reset();
    Handle again = open(sim.linkPath());
    QVERIFY2(again, kesmarctl_last_errorstr(nullptr));
}

void TestKesmarctl::openFailsOnPortLockedByAnotherProgram()
{
    const QString flock = QStandardPaths::findExecutable("flock");
    if (flock.isEmpty())
        QSKIP("the flock tool (util-linux) is not installed");
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    // Another program holds the port's lock until its standard input closes.
    QProcess holder;
    holder.start(flock, {sim.ptyPath(), "-c", "echo locked; cat >/dev/null"});
    QVERIFY(holder.waitForStarted(SimProcess::ReactionMs));
    QTRY_VERIFY_WITH_TIMEOUT(holder.canReadLine(), SimProcess::ReactionMs);
    QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));

    QVERIFY(!open(sim.linkPath()));
    QVERIFY2(lastError(nullptr).contains("in use by another program"), qPrintable(lastError(nullptr)));

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(SimProcess::ReactionMs));
    Handle h = open(sim.linkPath());
    QVERIFY2(h, kesmarctl_last_errorstr(nullptr));
}

void TestKesmarctl::nullAndClosedHandlesFailCleanly_data()
{
    QTest::addColumn<int>("call");
    QTest::addColumn<QString>("name");
    QTest::newRow("select") << 0 << "kesmarctl_select_dev";
    QTest::newRow("recv") << 1 << "kesmarctl_recv";
    QTest::newRow("position") << 2 << "kesmarctl_get_position_ext";
    QTest::newRow("store") << 3 << "kesmarctl_store_mem_position_ext";
    QTest::newRow("goto") << 4 << "kesmarctl_goto_mem_position_ext";
    QTest::newRow("get mem") << 5 << "kesmarctl_get_mem_position_ext";
}

void TestKesmarctl::nullAndClosedHandlesFailCleanly()
{
    QFETCH(int, call);
    QFETCH(QString, name);
    const auto invoke = [call](kesmarctl_connection *h) {
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
    };
    QVERIFY(invoke(nullptr) < 0);
    QVERIFY2(lastError(nullptr).contains(name), qPrintable(lastError(nullptr)));
    QVERIFY(lastError(nullptr).contains("null handle"));

    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    kesmarctl_connection *h = kesmarctl_open(sim.ptyPath().toLatin1().constData(), Timeout);
    QVERIFY(h);
    QCOMPARE(kesmarctl_close(h), 0);
    // The handle is gone: the call must not touch it.
    QVERIFY(invoke(h) < 0);
    QVERIFY2(lastError(nullptr).contains("not an open connection"), qPrintable(lastError(nullptr)));
    QVERIFY(kesmarctl_close(h) < 0);
    QCOMPARE(kesmarctl_close(nullptr), 0);
}

void TestKesmarctl::errorTextsArePerConnection()
{
    SimProcess a, b;
    QVERIFY2(a.start(), qPrintable(a.lastError()));
    QVERIFY2(b.start(), qPrintable(b.lastError()));
    Handle ha = open(a.ptyPath());
    Handle hb = open(b.ptyPath());
    QVERIFY(ha && hb);
    QVERIFY(kesmarctl_select_dev(ha.get(), '9') < 0);
    const QString errorA = lastError(ha.get());
    QVERIFY2(errorA.contains("no such device"), qPrintable(errorA));
    Xyz p;
    QVERIFY(kesmarctl_get_mem_position_ext(hb.get(), Dev2, &p.x, &p.y, &p.z, 5) < 0);
    QVERIFY2(lastError(hb.get()).contains("nothing stored"), qPrintable(lastError(hb.get())));
    QCOMPARE(lastError(ha.get()), errorA);
    // A failed open elsewhere leaves both alone.
    QVERIFY(!open("/nonexistent"));
    QCOMPARE(lastError(ha.get()), errorA);
    QVERIFY(lastError(nullptr).contains("does not exist"));
}

void TestKesmarctl::selectDevice_data()
{
    QTest::addColumn<int>("device");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("errorPart");
    QTest::newRow("unit's own id") << int(Unit) << true << "";
    QTest::newRow("device 1") << int(Dev1) << true << "";
    QTest::newRow("device 3") << int('3') << true << "";
    QTest::newRow("absent device 9") << int('9') << false << "device 57 ('9') refused the select: no such device";
    QTest::newRow("id 0") << 0 << false << "no such device";
    QTest::newRow("reserved id 255") << 255 << false << "reserved";
}

void TestKesmarctl::selectDevice()
{
    QFETCH(int, device);
    QFETCH(bool, ok);
    QFETCH(QString, errorPart);
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath());
    QVERIFY(h);
    QElapsedTimer timer;
    timer.start();
    const int result = kesmarctl_select_dev(h.get(), static_cast<uint8_t>(device));
    QVERIFY(timer.elapsed() < Bound);
    QCOMPARE(result >= 0, ok);
    if (!ok)
        QVERIFY2(lastError(h.get()).contains(errorPart), qPrintable(lastError(h.get())));
}

void TestKesmarctl::memoryPositionsRoundTrip()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath());
    QVERIFY(h);
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
    h = open(sim.linkPath());
    QVERIFY(h);
    QCOMPARE(kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 15), 0);
    QCOMPARE(p.y, 12);
}

void TestKesmarctl::getMemFailsWhenNothingStored()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath());
    QVERIFY(h);
    Xyz p;
    QVERIFY(kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 0) < 0);
    QVERIFY2(lastError(h.get()).contains("nothing stored"), qPrintable(lastError(h.get())));
    QCOMPARE(p.x, -1); // untouched on failure
    QVERIFY(kesmarctl_goto_mem_position_ext(h.get(), Dev1, 0) < 0);
    QVERIFY2(lastError(h.get()).contains("nothing stored"), qPrintable(lastError(h.get())));
}

void TestKesmarctl::rejectsBadArguments_data()
{
    QTest::addColumn<int>("call"); // 0 store, 1 goto, 2 get mem, 3 position with null output
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("x");
    QTest::addColumn<QString>("errorPart");
    QTest::newRow("store slot -1") << 0 << -1 << 5 << "memory position -1 does not exist";
    QTest::newRow("store slot 16") << 0 << 16 << 5 << "does not exist";
    QTest::newRow("store slot INT_MAX") << 0 << INT_MAX << 5 << "does not exist";
    QTest::newRow("store slot INT_MIN") << 0 << INT_MIN << 5 << "does not exist";
    QTest::newRow("goto slot 256") << 1 << 256 << 0 << "does not exist";
    QTest::newRow("get mem slot -7") << 2 << -7 << 0 << "does not exist";
    QTest::newRow("store x -1") << 0 << 0 << -1 << "out of the travel range";
    QTest::newRow("store x 20501") << 0 << 0 << 20501 << "out of the travel range";
    QTest::newRow("store x INT_MAX") << 0 << 0 << INT_MAX << "out of the travel range";
    QTest::newRow("store x INT_MIN") << 0 << 0 << INT_MIN << "out of the travel range";
    QTest::newRow("position into null") << 3 << 0 << 0 << "null pointer";
    QTest::newRow("get mem into null") << 4 << 0 << 0 << "null pointer";
}

void TestKesmarctl::rejectsBadArguments()
{
    QFETCH(int, call);
    QFETCH(int, pos);
    QFETCH(int, x);
    QFETCH(QString, errorPart);
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath());
    QVERIFY(h);
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
    QVERIFY2(lastError(h.get()).contains(errorPart), qPrintable(lastError(h.get())));
    // The connection goes on working after a refused call.
    QVERIFY(at(h.get(), Dev1, 10250, 10250, 10250));
}

void TestKesmarctl::gotoMovesAndRecvTakesInReports()
{
    SimProcess sim;
    QVERIFY2(sim.start({"--speed", "4000", "--start", "1000,1000,1000"}), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath());
    QVERIFY(h);
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
    SimProcess sim;
    QVERIFY2(sim.start({"--pc-mode", "--speed", "4000", "--start", "0,0,0"}), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath());
    QVERIFY(h);
    QCOMPARE(sim.command("move 49 1500 1500 1500"), QString("ok move 49 1500 1500 1500"));
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
    QCOMPARE(sim.command("pcmode off"), QString("ok pcmode off"));
    QCOMPARE(sim.command("move 49 0 0 0"), QString("ok move 49 0 0 0"));
    // (QTRY evaluates its condition more than once: count, do not just test.)
    reports = 0;
    QTRY_VERIFY_WITH_TIMEOUT((reports += qMax(kesmarctl_recv(h.get()), 0)) > 0, 10000);
}

void TestKesmarctl::pcModeQueryWaitStaysWithinTimeout()
{
    // A slow move, so the unit would hold a position query for its whole wait.
    SimProcess sim;
    QVERIFY2(sim.start({"--pc-mode", "--speed", "10", "--start", "0,0,0"}), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath());
    QVERIFY(h);
    QCOMPARE(sim.command("move 49 20000 0 0"), QString("ok move 49 20000 0 0"));
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
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath(), 3000);
    QVERIFY(h);
    QCOMPARE(sim.command("delay 5000"), QString("ok delay 5000"));
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
    QTest::addColumn<QString>("errorPart");
    QTest::addColumn<bool>("lateAnswer");
    QTest::newRow("answer dropped") << "drop 1" << true << "no answer" << false;
    QTest::newRow("answer delayed past time-out") << "delay 1500" << true << "no answer" << true;
    QTest::newRow("answer corrupted") << "corrupt 1" << true << "no answer" << false;
    QTest::newRow("answer cut short") << "truncate 1" << true << "no answer" << false;
    QTest::newRow("answer from another device")
        << "wrong-id 1" << true << "an answer came from device 48 ('0') instead" << false;
    QTest::newRow("unit silent") << "quiet on" << true << "no answer" << false;
    QTest::newRow("garbage on the line") << "garbage 300" << false << "" << false;
    QTest::newRow("noise before every answer") << "noise 40" << false << "" << false;
    QTest::newRow("delay within time-out") << "delay 50" << false << "" << false;
}

void TestKesmarctl::survivesFault()
{
    QFETCH(QString, fault);
    QFETCH(bool, callFails);
    QFETCH(QString, errorPart);
    QFETCH(bool, lateAnswer);
    SimProcess sim;
    QVERIFY2(sim.start({"--seed", "7"}), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath());
    QVERIFY(h);
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev1, 100, 200, 300, 4), 0);

    QCOMPARE(sim.command(fault), "ok " + fault);
    QElapsedTimer timer;
    timer.start();
    Xyz p;
    const int result = kesmarctl_get_mem_position_ext(h.get(), Dev1, &p.x, &p.y, &p.z, 4);
    QVERIFY(timer.elapsed() < Bound);
    if (callFails) {
        QVERIFY(result < 0);
        QVERIFY2(lastError(h.get()).contains(errorPart), qPrintable(lastError(h.get())));
    } else {
        QVERIFY2(result == 0, qPrintable(lastError(h.get())));
        QCOMPARE(p.x, 100);
        QCOMPARE(p.z, 300);
    }

    // Afterwards the connection works and answers are matched to the right
    // requests: a late answer to the failed call is taken in and dropped.
    QCOMPARE(sim.command("clear"), QString("ok clear"));
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

void TestKesmarctl::hangupDuringCall()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath());
    QVERIFY(h);
    QCOMPARE(sim.command("hangup-next"), QString("ok hangup-next"));
    QElapsedTimer timer;
    timer.start();
    Xyz p;
    QVERIFY(position(h.get(), Dev1, p) < 0);
    QVERIFY(timer.elapsed() < Bound);
    QVERIFY(sim.waitForExit());
    // Whether the call saw the hang-up or timed out first, the next one knows.
    timer.restart();
    QVERIFY(kesmarctl_select_dev(h.get(), Dev1) < 0);
    QVERIFY(kesmarctl_recv(h.get()) < 0);
    QVERIFY(kesmarctl_store_mem_position_ext(h.get(), Dev1, 1, 2, 3, 0) < 0);
    QVERIFY(timer.elapsed() < Bound);
    QVERIFY2(lastError(h.get()).contains("lost"), qPrintable(lastError(h.get())));
    QCOMPARE(kesmarctl_close(h.release()), 0);
}

void TestKesmarctl::hangupBetweenCalls()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    Handle h = open(sim.ptyPath());
    QVERIFY(h);
    QCOMPARE(sim.command("hangup"), QString("ok hangup"));
    QVERIFY(sim.waitForExit());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(kesmarctl_recv(h.get()) < 0);
    QVERIFY(timer.elapsed() < Bound);
    QVERIFY2(lastError(h.get()).contains("hung up"), qPrintable(lastError(h.get())));
    Xyz p;
    QVERIFY(position(h.get(), Dev1, p) < 0);
    QVERIFY(lastError(h.get()).contains("lost"));
}

void TestKesmarctl::reconnectsAfterSimulatorRestart()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("unit");
    auto first = std::make_unique<SimProcess>();
    QVERIFY2(first->start({"--unit-id", "0x41"}, link), qPrintable(first->lastError()));
    Handle h = open(link);
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
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    Handle h = open(sim.linkPath());
    QVERIFY(h);
    QCOMPARE(kesmarctl_store_mem_position_ext(h.get(), Dev1, 1, 2, 3, 1), 0);
    const QString answer = sim.command("reopen");
    QVERIFY2(answer.startsWith("ok reopen /"), qPrintable(answer));
    const QString newPath = answer.section(' ', 2);
    QCOMPARE(QFileInfo(sim.linkPath()).symLinkTarget(), newPath);
    Xyz p;
    QVERIFY(position(h.get(), Dev1, p) < 0);
    QVERIFY(lastError(h.get()).contains("lost"));
    h.reset();
    h = open(sim.linkPath());
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
    SimProcess sim;
    QVERIFY2(sim.start({"--speed", "3000", "--start", "0,0,0"}), qPrintable(sim.lastError()));
    QEventLoop loop;
    Handle h;
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
        h = open(sim.ptyPath());
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

QTEST_GUILESS_MAIN(TestKesmarctl)
#include "tst_kesmarctl.moc"
