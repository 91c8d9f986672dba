// The simulator at the level of the protocol: a raw client on its terminal
// sends frames and checks the answers, including the negative ones the
// control library never provokes.
#include "decoder.h"
#include "frame.h"
#include "simprocess.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kesmarproto;
using Bytes = std::vector<uint8_t>;

namespace {

// A client on the terminal's slave side that speaks frames.
class RawClient
{
public:
    explicit RawClient(const QString &path) { fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY); }
    ~RawClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }

    bool send(const Bytes &bytes) { return ::write(fd_, bytes.data(), bytes.size()) == ssize_t(bytes.size()); }

    // The next frame other than a position report, within a generous bound.
    bool answer(Frame &frame)
    {
        const QDeadlineTimer deadline(SimProcess::ReactionMs);
        for (;;) {
            while (decoder_.next(frame)) {
                if (frame.command != cmd::PositionReport)
                    return true;
            }
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, int(deadline.remainingTime())) <= 0)
                return false;
            uint8_t buffer[256];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            decoder_.feed(buffer, size_t(n));
        }
    }

private:
    int fd_ = -1;
    Decoder decoder_;
};

Bytes frameBytes(uint8_t address, uint8_t command, uint8_t sequence, const Bytes &payload = {})
{
    Frame f(address, command, sequence);
    f.append(payload.data(), payload.size());
    return f.encode();
}

Bytes storeRequest(uint8_t address, uint8_t slot, int32_t x)
{
    Frame f(address, cmd::StoreMemory, 1);
    f.appendU8(slot);
    f.appendI32(x);
    f.appendI32(0);
    f.appendI32(0);
    return f.encode();
}

} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestKesmarsim : public QObject
{
    Q_OBJECT

private slots:
    void rejectsBadOptions_data();
    void rejectsBadOptions();
    void identifies_data();
    void identifies();
    void refusesBadRequests_data();
    void refusesBadRequests();
    void findsRequestAfterGarbageAndCutFrame();
    void statusCommandAndBadCommands();
    void keepsLinkWhileRunningAndRemovesItOnSignal();
    void refusesALinkPathItDoesNotOwn_data();
    void refusesALinkPathItDoesNotOwn();
};

void TestKesmarsim::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown option") << QStringList{"--frobnicate"};
    QTest::newRow("reserved unit id") << QStringList{"--unit-id", "255"};
    QTest::newRow("device id not a number") << QStringList{"--devices", "1,x"};
    QTest::newRow("zero speed") << QStringList{"--speed", "0"};
    QTest::newRow("fault past its limit") << QStringList{"--noise", "4097"};
    QTest::newRow("list with a trailing comma") << QStringList{"--devices", "49,"};
    QTest::newRow("switch given a value") << QStringList{"--flood=on"};
    QTest::newRow("start outside range") << QStringList{"--range", "100", "--start", "0,0,101"};
    QTest::newRow("stray argument") << QStringList{"extra"};
}

void TestKesmarsim::rejectsBadOptions()
{
    QFETCH(QStringList, arguments);
    QProcess p;
    p.start(KESMARSIM_PATH, arguments + QStringList{"--no-link"});
    QVERIFY(p.waitForFinished(SimProcess::ReactionMs));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardOutput().isEmpty());
}

void TestKesmarsim::identifies_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("unitId");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("devices");
    QTest::newRow("defaults, unit address") << QStringList() << int(UnitAddress) << 48 << 0 << 4;
    QTest::newRow("own id as address") << QStringList{"--unit-id", "7"} << 7 << 7 << 0 << 4;
    QTest::newRow("pc mode, one device") << QStringList{"--pc-mode", "--devices", "9"} << int(UnitAddress) << 48
                                         << int(FlagPcMode) << 2;
    QTest::newRow("unit only") << QStringList{"--devices", ""} << int(UnitAddress) << 48 << 0 << 1;
}

void TestKesmarsim::identifies()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, address);
    QFETCH(int, unitId);
    QFETCH(int, flags);
    QFETCH(int, devices);
    SimProcess sim;
    QVERIFY2(sim.start(arguments), qPrintable(sim.lastError()));
    RawClient client(sim.ptyPath());
    QVERIFY(client.isOpen());
    QVERIFY(client.send(frameBytes(uint8_t(address), cmd::Identify, 17)));
    Frame reply;
    QVERIFY(client.answer(reply));
    QCOMPARE(int(reply.command), int(cmd::Identify | ReplyFlag));
    QCOMPARE(int(reply.address), address);
    QCOMPARE(int(reply.sequence), 17);
    QCOMPARE(reply.size(), len::IdentifyReply);
    QCOMPARE(int(reply.payload()[0]), unitId);
    QCOMPARE(int(reply.payload()[1]), int(ProtocolVersion));
    QCOMPARE(int(reply.payload()[2]), flags);
    QCOMPARE(int(reply.payload()[3]), devices);
}

void TestKesmarsim::refusesBadRequests_data()
{
    QTest::addColumn<Bytes>("request");
    QTest::addColumn<int>("code");
    QTest::newRow("unknown command") << frameBytes('1', 0x3E, 1) << int(ErrorCode::UnknownCommand);
    QTest::newRow("absent device") << frameBytes('8', cmd::Select, 1) << int(ErrorCode::NoSuchDevice);
    QTest::newRow("identify at a device") << frameBytes('1', cmd::Identify, 1) << int(ErrorCode::NoSuchDevice);
    QTest::newRow("select with payload") << frameBytes('1', cmd::Select, 1, {0}) << int(ErrorCode::BadLength);
    QTest::newRow("query without wait") << frameBytes('1', cmd::GetPosition, 1) << int(ErrorCode::BadLength);
    QTest::newRow("short store") << frameBytes('1', cmd::StoreMemory, 1, {0, 0}) << int(ErrorCode::BadLength);
    QTest::newRow("store slot 16") << storeRequest('1', 16, 0) << int(ErrorCode::BadSlot);
    QTest::newRow("store past range") << storeRequest('1', 0, 20501) << int(ErrorCode::OutOfRange);
    QTest::newRow("store negative") << storeRequest('1', 0, -1) << int(ErrorCode::OutOfRange);
    QTest::newRow("goto empty slot") << frameBytes('1', cmd::GotoMemory, 1, {2}) << int(ErrorCode::EmptySlot);
    QTest::newRow("read slot 255") << frameBytes('1', cmd::ReadMemory, 1, {255}) << int(ErrorCode::BadSlot);
    QTest::newRow("pc mode 2") << frameBytes(UnitAddress, cmd::SetPcMode, 1, {2}) << int(ErrorCode::BadValue);
}

void TestKesmarsim::refusesBadRequests()
{
    QFETCH(Bytes, request);
    QFETCH(int, code);
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    RawClient client(sim.ptyPath());
    QVERIFY(client.isOpen());
    QVERIFY(client.send(request));
    Frame reply;
    QVERIFY(client.answer(reply));
    QCOMPARE(int(reply.command), int(cmd::Nak));
    QCOMPARE(int(reply.address), int(request[2]));
    QCOMPARE(reply.size(), len::Nak);
    QCOMPARE(int(reply.payload()[0]), int(request[3]));
    QCOMPARE(int(reply.payload()[1]), code);
}

void TestKesmarsim::findsRequestAfterGarbageAndCutFrame()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    RawClient client(sim.ptyPath());
    QVERIFY(client.isOpen());
    // Garbage, and a long request cut short that claims more bytes than the
    // request behind it has: the simulator gives the cut one up after the
    // silent gap and answers the whole one.
    const Bytes cut = storeRequest('1', 0, 5);
    Bytes stream{0x00, 0xA5, 0xFF, 0x13};
    stream.insert(stream.end(), cut.begin(), cut.begin() + 9);
    const Bytes whole = frameBytes('2', cmd::Select, 33);
    stream.insert(stream.end(), whole.begin(), whole.end());
    QVERIFY(client.send(stream));
    Frame reply;
    QVERIFY(client.answer(reply));
    QCOMPARE(int(reply.command), int(cmd::Select | ReplyFlag));
    QCOMPARE(int(reply.address), int('2'));
    QCOMPARE(int(reply.sequence), 33);
}

void TestKesmarsim::statusCommandAndBadCommands()
{
    SimProcess sim;
    QVERIFY2(sim.start({"--devices", "49", "--start", "1,2,3"}), qPrintable(sim.lastError()));
    QCOMPARE(sim.command("status"), QString("ok status"));
    QCOMPARE(sim.lastOutput(), QStringList({"device 48 1 2 3 stopped", "device 49 1 2 3 stopped"}));
    QCOMPARE(sim.command("move 49 10 20 30"), QString("ok move 49 10 20 30"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.command("status") == "ok status"
                                 && sim.lastOutput().contains("device 49 10 20 30 stopped"),
                             SimProcess::ReactionMs);
    QVERIFY(sim.command("move 50 1 1 1").startsWith("error")); // no such device
    QVERIFY(sim.command("move 49 1 1 99999").startsWith("error")); // outside the range
    QVERIFY(sim.command("drop many").startsWith("error"));
    // The limits of a fault are those of its option.
    QVERIFY(sim.command("noise 4097").startsWith("error invalid arguments"));
    QCOMPARE(sim.command("noise 4096"), QString("ok noise 4096"));
    QVERIFY(sim.command("flood maybe").startsWith("error invalid arguments"));
    QVERIFY(sim.command("move 305 1 1 1").startsWith("error")); // not a device id, though 305 & 0xff is
    QVERIFY(sim.command("pcmode maybe").startsWith("error"));
    QVERIFY(sim.command("frobnicate").startsWith("error unknown command"));
    QCOMPARE(sim.command("quit"), QString("ok quit"));
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process().exitCode(), 0);
}

void TestKesmarsim::keepsLinkWhileRunningAndRemovesItOnSignal()
{
    SimProcess sim;
    QVERIFY2(sim.start({"--no-stdin"}), qPrintable(sim.lastError()));
    const QFileInfo link(sim.linkPath());
    QVERIFY(link.isSymLink());
    QCOMPARE(link.symLinkTarget(), sim.ptyPath());
    {
        // A client coming and going does not end the simulator.
        RawClient client(sim.ptyPath());
        QVERIFY(client.isOpen());
    }
    QCOMPARE(sim.process().state(), QProcess::Running);
    kill(pid_t(sim.process().processId()), SIGINT);
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
    QVERIFY(!QFileInfo(sim.linkPath()).isSymLink());
}

void TestKesmarsim::refusesALinkPathItDoesNotOwn_data()
{
    QTest::addColumn<bool>("symlink");
    QTest::addColumn<uint>("owner");
    QTest::addColumn<QString>("why");
    QTest::newRow("a file of one's own") << false << uint(geteuid()) << "exists and is not a symbolic link";
    // Only root can make a link that another user owns.
    if (geteuid() == 0)
        QTest::newRow("another user's link") << true << 65534u << "belongs to another user (uid 65534)";
}

// Neither followed nor replaced: the simulator stops before it opens a terminal.
void TestKesmarsim::refusesALinkPathItDoesNotOwn()
{
    QFETCH(bool, symlink);
    QFETCH(uint, owner);
    QFETCH(QString, why);
    QTemporaryDir dir;
    const QString path = dir.filePath("kesmarsim");
    const QByteArray encoded = QFile::encodeName(path);
    if (symlink)
        QVERIFY(::symlink("/dev/null", encoded.constData()) == 0);
    else
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    QVERIFY(::lchown(encoded.constData(), owner, owner) == 0);

    QProcess p;
    p.start(KESMARSIM_PATH, {"--no-stdin", "--link", path});
    QVERIFY(p.waitForFinished(SimProcess::ReactionMs));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardOutput().isEmpty()); // no terminal
    const QString error = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(error.contains(why) && error.contains("--link"), qPrintable(error));
    const QFileInfo after(path);
    QCOMPARE(after.isSymLink(), symlink);
    if (symlink)
        QCOMPARE(after.symLinkTarget(), QStringLiteral("/dev/null"));
}

QTEST_GUILESS_MAIN(TestKesmarsim)
#include "tst_kesmarsim.moc"
