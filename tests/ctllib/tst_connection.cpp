// The connection beneath the library's C interface, under a flood of reports
// from the simulator: what it holds stays bounded while nobody calls, and
// every call ends within its time-out. Also its log of the frames.
#include "connection.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QTemporaryFile>
#include <QtTest>

#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Timeout = 300;
// What any call may take at most: its time-out plus a generous margin.
constexpr int Bound = Timeout + 1000;
constexpr uint8_t Dev1 = '1';

// Catches what the library writes to standard error while it lives, and
// gives back the lines of its frame log.
class StderrCatcher
{
public:
    StderrCatcher()
    {
        std::fflush(stderr);
        if (file_.open()) {
            saved_ = dup(STDERR_FILENO);
            dup2(file_.handle(), STDERR_FILENO);
        }
    }
    ~StderrCatcher() { release(); }
    QStringList frameLog()
    {
        release();
        QStringList lines;
        file_.seek(0);
        for (const QByteArray &line : file_.readAll().split('\n'))
            if (line.startsWith(Prefix))
                lines << QString::fromLatin1(line.mid(int(qstrlen(Prefix))));
        return lines;
    }

private:
    static constexpr const char *Prefix = "kesmarctl: ";
    void release()
    {
        std::fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }
    QTemporaryFile file_;
    int saved_ = -1;
};

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void holdsBoundedInputWhileNobodyCalls();
    void callsEndWithinTheirTimeUnderFlood_data();
    void callsEndWithinTheirTimeUnderFlood();
    void logsFramesWhenSwitchedOn();
    void readerThreadTakesNoSignals();

private:
    SimProcess sim;
    Connection connection;
};

void TestConnection::init()
{
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    QVERIFY2(connection.open(sim.ptyPath().toStdString(), Timeout), connection.errorText().c_str());
}

void TestConnection::cleanup()
{
    connection.close();
    QVERIFY(sim.stop());
}

void TestConnection::holdsBoundedInputWhileNobodyCalls()
{
    QCOMPARE(sim.command("flood on"), QString("ok flood on"));
    // The event loop runs while the test waits, and reads the port the way
    // the program's does between its polls.
    qint64 most = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        (most = std::max(most, connection.unreadBytes()), connection.discardedBytes() > 50 * SerialLine::MaxUnread),
        SimProcess::ReactionMs);
    QVERIFY2(most <= SerialLine::MaxUnread, qPrintable(QString::number(most)));
    // What is held is what came last: reports, which a call takes in.
    QVERIFY(connection.takeIn() > 0);
    QCOMPARE(sim.command("flood off"), QString("ok flood off"));
    QVERIFY2(connection.selectDevice(Dev1), connection.errorText().c_str());
}

void TestConnection::callsEndWithinTheirTimeUnderFlood_data()
{
    QTest::addColumn<int>("call");
    QTest::newRow("open") << 0;
    QTest::newRow("take in") << 1;
    QTest::newRow("select") << 2;
    QTest::newRow("position") << 3;
    QTest::newRow("store") << 4;
    QTest::newRow("goto") << 5;
    QTest::newRow("read memory") << 6;
}

void TestConnection::callsEndWithinTheirTimeUnderFlood()
{
    QFETCH(int, call);
    QVERIFY(connection.storeMemory(Dev1, 0, 10250, 10250, 10250));
    QCOMPARE(sim.command("flood on"), QString("ok flood on"));
    if (call == 0)
        connection.close();
    // A few rounds, so some start with the line's buffers full; in every
    // other one the answer is left out, so only the deadline ends the call.
    for (int round = 0; round < 6; ++round) {
        const bool dropped = round % 2 == 1;
        if (dropped)
            QCOMPARE(sim.command("drop 1"), QString("ok drop 1"));
        QElapsedTimer timer;
        timer.start();
        bool ok = true;
        kesmarproto::Position p;
        int x = 0, y = 0, z = 0;
        switch (call) {
        case 0:
            connection.close();
            ok = connection.open(sim.ptyPath().toStdString(), Timeout);
            break;
        case 1:
            ok = connection.takeIn() >= 0;
            break;
        case 2:
            ok = connection.selectDevice(Dev1);
            break;
        case 3:
            ok = connection.position(Dev1, 0, p);
            break;
        case 4:
            ok = connection.storeMemory(Dev1, 0, 10250, 10250, 10250);
            break;
        case 5:
            ok = connection.gotoMemory(Dev1, 0);
            break;
        default:
            ok = connection.readMemory(Dev1, 0, x, y, z);
            break;
        }
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed < Bound, qPrintable(QString::number(elapsed)));
        // The answer may drown in the flood; then the call says so.
        const Failure kind = connection.error().kind;
        QVERIFY2(ok || kind == Failure::NoAnswer || kind == Failure::NoUnit, connection.errorText().c_str());
        if (dropped && call != 1)
            QVERIFY(!ok);
        if (dropped && call == 1)
            QCOMPARE(sim.command("clear"), QString("ok clear"));
    }
    QCOMPARE(sim.command("flood off"), QString("ok flood off"));
    if (call == 0)
        QTRY_VERIFY_WITH_TIMEOUT(connection.open(sim.ptyPath().toStdString(), Timeout), SimProcess::ReactionMs);
    QVERIFY2(connection.selectDevice(Dev1), connection.errorText().c_str());
}

void TestConnection::logsFramesWhenSwitchedOn()
{
    qunsetenv("KESMARCTL_DEBUG");
    StderrCatcher off;
    QVERIFY(connection.selectDevice(Dev1));
    const QStringList whileOff = off.frameLog();
    StderrCatcher on;
    qputenv("KESMARCTL_DEBUG", "1");
    const bool selected = connection.selectDevice(Dev1);
    qunsetenv("KESMARCTL_DEBUG");
    const QStringList logged = on.frameLog();
    QVERIFY(selected);
    QVERIFY2(whileOff.isEmpty(), qPrintable(whileOff.join('\n')));
    // The request to device 1 (select, no payload) and its answer, in hex.
    QCOMPARE(logged.size(), 2);
    QVERIFY2(logged[0].startsWith("sent a5 00 31 02 "), qPrintable(logged[0]));
    QVERIFY2(logged[1].startsWith("received a5 00 31 82 "), qPrintable(logged[1]));
    QCOMPARE(logged[0].size(), logged[1].size() + QString("sent").size() - QString("received").size());
}

// A signal sent to the process goes to one of the caller's threads, never to
// the thread that reads the port between calls: the caller's handlers and
// interrupted waits expect it there.
void TestConnection::readerThreadTakesNoSignals()
{
    QStringList reader;
    for (const QFileInfo &task :
         QDir(QStringLiteral("/proc/self/task")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(task.filePath() + QStringLiteral("/comm"));
        QFile status(task.filePath() + QStringLiteral("/status"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "kesmarctl-read"
            && status.open(QIODevice::ReadOnly))
            reader = QString::fromLatin1(status.readAll()).split(u'\n').filter(QStringLiteral("SigBlk:"));
    }
    QCOMPARE(reader.size(), 1);
    const quint64 blocked = reader.first().section(u'\t', 1).toULongLong(nullptr, 16);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGALRM, SIGCHLD})
        QVERIFY2(blocked & (quint64(1) << (signal - 1)), qPrintable(QString::number(signal)));
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
