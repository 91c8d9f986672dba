// The program as a process of its own, offscreen and with a port that does
// not exist: signals end it the way Exit does, a second start on the same
// settings store ends at once, and no lock file left behind or thing in its
// place keeps the program from starting or ending.
#include "runstep.h"
#include "simfixture.h"

#include <QLockFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

// A hand-edited store: spaces around '=', a nameless entry, no device and no
// intervals. The program saves it in its own form.
const QByteArray handEdited = "[positions]\nsize = 3\n1\\name = Home\n1\\x=1000\n1\\y = 2000\n1\\z=3000\n"
                              "2\\name=\n3\\name=Probe\n3\\x=4\n3\\y=5\n3\\z=6\n\n"
                              "[settings]\nport=/nonexistent/kesmar-port\n";

} // namespace

class TestProgramProcess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void signalClosesAndSaves_data();
    void signalClosesAndSaves();
    void secondStartOnTheSameStoreEnds();
    void badLocksNeitherHangNorLockOut_data();
    void badLocksNeitherHangNorLockOut();

private:
    QString storeFile() const { return config->filePath(QStringLiteral("quellmark/orvex.conf")); }
    QString lockFile() const { return config->filePath(QStringLiteral("quellmark/orvex.lock")); }
    // `shell`, when given, runs before the program in the shell that starts it.
    void launch(QProcess &program, const QString &shell = QString());
    void start(QProcess &program);
    qint64 lockOwner() const;

    std::unique_ptr<QTemporaryDir> config;
};

void TestProgramProcess::init()
{
    config = std::make_unique<QTemporaryDir>();
    QVERIFY(config->isValid());
    QVERIFY(QDir().mkpath(QFileInfo(storeFile()).path()));
    QFile store(storeFile());
    QVERIFY(store.open(QIODevice::WriteOnly));
    QCOMPARE(store.write(handEdited), qint64(handEdited.size()));
}

// Starts the program on this test's store.
void TestProgramProcess::launch(QProcess &program, const QString &shell)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config->path());
    program.setProcessEnvironment(env);
    if (shell.isEmpty())
        program.start(QStringLiteral(KESMARCONTROL_PATH), QStringList());
    else
        program.start(QStringLiteral("sh"), {"-c", shell + QStringLiteral("; exec \"$0\""), KESMARCONTROL_PATH});
    QVERIFY2(program.waitForStarted(E2E::WaitMs), qPrintable(program.errorString()));
}

// Starts the program and waits until it holds the store's lock, which it
// takes once it watches for signals.
void TestProgramProcess::start(QProcess &program)
{
    RUN_STEP(launch(program));
    QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), program.processId(), E2E::WaitMs);
}

qint64 TestProgramProcess::lockOwner() const
{
    qint64 pid = 0;
    QString host;
    QString app;
    QLockFile(lockFile()).getLockInfo(&pid, &host, &app);
    return pid;
}

void TestProgramProcess::signalClosesAndSaves_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestProgramProcess::signalClosesAndSaves()
{
    QFETCH(int, signalNumber);
    QProcess program;
    RUN_STEP(start(program));

    QCOMPARE(::kill(pid_t(program.processId()), signalNumber), 0);
    QVERIFY(program.waitForFinished(E2E::WaitMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    // The close saved every key, the positions renumbered without the
    // nameless one; nothing is left beyond the size.
    QSettings saved(storeFile(), QSettings::IniFormat);
    QStringList keys = saved.allKeys();
    keys.sort();
    QStringList stored;
    for (const QString &key : keys)
        stored << key + QLatin1Char('=') + saved.value(key).toString();
    QCOMPARE(stored,
             QStringList({"positions/1/name=Home", "positions/1/x=1000", "positions/1/y=2000", "positions/1/z=3000",
                          "positions/2/name=Probe", "positions/2/x=4", "positions/2/y=5", "positions/2/z=6",
                          "positions/size=2", "settings/dev=1", "settings/pcmode=false",
                          "settings/port=/nonexistent/kesmar-port", "settings/timeout=100", "settings/update=1000"}));
}

void TestProgramProcess::secondStartOnTheSameStoreEnds()
{
    QProcess first;
    RUN_STEP(start(first));

    QProcess second;
    RUN_STEP(launch(second));
    QVERIFY(second.waitForFinished(E2E::WaitMs));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
    const QString error = QString::fromLocal8Bit(second.readAllStandardError());
    QVERIFY2(error.contains(QStringLiteral("already running (process %1) with the settings in %2")
                                .arg(first.processId())
                                .arg(storeFile())),
             qPrintable(error));
    // Neither start has written the store; the first still holds the lock.
    QFile store(storeFile());
    QVERIFY(store.open(QIODevice::ReadOnly));
    QCOMPARE(store.readAll(), handEdited);
    QCOMPARE(lockOwner(), first.processId());

    // A crash leaves the lock behind; the next start takes it over.
    first.kill();
    QVERIFY(first.waitForFinished(E2E::WaitMs));
    QVERIFY(QFile::exists(lockFile()));
    QProcess third;
    RUN_STEP(start(third));
    third.terminate();
    QVERIFY(third.waitForFinished(E2E::WaitMs));
    QCOMPARE(third.exitStatus(), QProcess::NormalExit);
    QCOMPARE(third.exitCode(), 0);
}

void TestProgramProcess::badLocksNeitherHangNorLockOut_data()
{
    QTest::addColumn<QString>("inTheWay"); // what is at the lock's place
    QTest::addColumn<bool>("takenOver");
    // How stderr says why nothing is saved; {lock} and {store} stand for the paths.
    QTest::addColumn<QString>("notSaved");

    const QString prefix = QStringLiteral("settings are not saved in this run - ");
    // Left by a power cut or by a process whose number is now another program's.
    for (const char *lock : {"empty", "garbage", "unreadable", "names a running process"})
        QTest::newRow(lock) << lock << true << QString();
    QTest::newRow("folder") << "folder" << false << prefix + "{lock} is a folder where a lock file belongs";
    QTest::newRow("folder at the store's own lock")
        << "folder at the store's own lock" << false << prefix + "{store}.lock is a folder where a lock file belongs";
    QTest::newRow("pipe") << "pipe" << false << prefix + "{lock} is where a lock file belongs but is not a plain file";
    // No file can grow past 0 bytes: the lock cannot be written, as on a full disk.
    QTest::newRow("cannot be written") << "no room" << false
                                       << prefix + "cannot create the lock file {lock} (File too large)";
}

void TestProgramProcess::badLocksNeitherHangNorLockOut()
{
    QFETCH(QString, inTheWay);
    QFETCH(bool, takenOver);
    QFETCH(QString, notSaved);
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    const QMap<QString, QByteArray> lockText = {{"empty", ""},
                                                {"garbage", "\xff\xfe\x00 not a lock\n\n"},
                                                {"unreadable", "1\n"},
                                                {"names a running process", pid + "\ntst_programprocess\n\n"}};
    QString shell;
    if (lockText.contains(inTheWay)) {
        QFile lock(lockFile());
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QCOMPARE(lock.write(lockText.value(inTheWay)), qint64(lockText.value(inTheWay).size()));
        lock.close();
        if (inTheWay == "unreadable")
            QVERIFY(lock.setPermissions({}));
    } else if (inTheWay == "folder") {
        QVERIFY(QDir().mkpath(lockFile()));
    } else if (inTheWay == "folder at the store's own lock") {
        QVERIFY(QDir().mkpath(storeFile() + ".lock"));
    } else if (inTheWay == "pipe") {
        QCOMPARE(::mkfifo(QFile::encodeName(lockFile()).constData(), 0600), 0);
    } else {
        shell = QStringLiteral("trap '' XFSZ; ulimit -f 0");
    }

    QProcess program;
    RUN_STEP(launch(program, shell));
    if (takenOver) {
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), program.processId(), E2E::WaitMs);
    } else {
        QByteArray error;
        QTRY_VERIFY_WITH_TIMEOUT((error += program.readAllStandardError()).contains("not saved in this run"),
                                 E2E::WaitMs);
        notSaved.replace(QStringLiteral("{lock}"), lockFile()).replace(QStringLiteral("{store}"), storeFile());
        QVERIFY2(QString::fromLocal8Bit(error).contains(notSaved), error.constData());
    }
    QCOMPARE(::kill(pid_t(program.processId()), SIGTERM), 0);
    QVERIFY(program.waitForFinished(E2E::WaitMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    // Saved only under a lock of its own.
    QFile store(storeFile());
    QVERIFY(store.open(QIODevice::ReadOnly));
    QCOMPARE(store.readAll() == handEdited, !takenOver);
}

QTEST_GUILESS_MAIN(TestProgramProcess)
#include "tst_programprocess.moc"
