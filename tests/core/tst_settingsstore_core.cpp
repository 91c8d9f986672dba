// The settings store on its own: the load's rules, the copy kept of a damaged
// file, and saves that fail part-way through the file, made to fail by a
// file size limit as a full disk makes them fail.
#include "settingsstore.h"
#include "testsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QString text(const Position &p)
{
    return QStringLiteral("%1 %2,%3,%4").arg(p.name).arg(p.x).arg(p.y).arg(p.z);
}

QStringList texts(const QList<Position> &positions)
{
    QStringList list;
    for (const Position &p : positions)
        list << text(p);
    return list;
}

// `count` positions with names long enough to make the store `count` * 80
// bytes or so.
QList<Position> manyPositions(int count, const QString &prefix)
{
    QList<Position> positions;
    for (int i = 0; i < count; ++i)
        positions << Position(QStringLiteral("%1 %2 with a name of some length").arg(prefix).arg(i), i, 2 * i, 3 * i);
    return positions;
}

QStringList damagedCopies()
{
    const QFileInfo store(TestSettings::storeFile());
    return QDir(store.path()).entryList({store.fileName() + QStringLiteral(".damaged-*")}, QDir::Files);
}

} // namespace

class TestSettingsStoreCore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSettings::isolate();
        // Past the file size limit a write fails with EFBIG instead of
        // ending the process.
        std::signal(SIGXFSZ, SIG_IGN);
    }
    void init() { TestSettings::clear(); }
    void cleanup()
    {
        for (const QString &copy : damagedCopies())
            QFile::remove(QFileInfo(TestSettings::storeFile()).path() + QLatin1Char('/') + copy);
    }

    void loadRules_data();
    void loadRules();
    void damagedFileIsKeptBeforeAnySave_data();
    void damagedFileIsKeptBeforeAnySave();
    void failedSaveLeavesThePreviousStore_data();
    void failedSaveLeavesThePreviousStore();
    void savingOffWritesNothing_data();
    void savingOffWritesNothing();
};

void TestSettingsStoreCore::loadRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("device");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("update");
    QTest::addColumn<QStringList>("positions");

    const QString usb0 = PortSettings::defaultPort();
    const QByteArray a = "1\\name=a\n1\\x=1\n1\\y=2\n1\\z=3\n";
    QTest::newRow("device above the range")
        << QByteArray("[settings]\ndev=100\n") << 1 << usb0 << 1000 << QStringList();
    QTest::newRow("device 99") << QByteArray("[settings]\ndev=99\nport=/dev/ttyS1\n") << 99 << "/dev/ttyS1" << 1000
                               << QStringList();
    QTest::newRow("device not a number") << QByteArray("[settings]\ndev=two\nport=\n") << 1 << usb0 << 1000
                                         << QStringList();
    QTest::newRow("update below the floor") << QByteArray("[settings]\nupdate=3\n") << 1 << usb0 << 20 << QStringList();
    QTest::newRow("entry 1") << "[positions]\n" + a + "size=1\n" << 1 << usb0 << 1000 << QStringList{"a 1,2,3"};
    QTest::newRow("01 is not entry 1") << QByteArray("[positions]\n01\\name=a\n01\\x=1\n01\\y=2\n01\\z=3\nsize=1\n")
                                       << 1 << usb0 << 1000 << QStringList();
    QTest::newRow("entry past the size") << "[positions]\n" + a + "size=0\n" << 1 << usb0 << 1000 << QStringList();
}

void TestSettingsStoreCore::loadRules()
{
    QFETCH(QByteArray, file);
    QFETCH(int, device);
    QFETCH(QString, port);
    QFETCH(int, update);
    QFETCH(QStringList, positions);
    TestSettings::writeStore(file);

    LoadReport report;
    const StoredSettings loaded = SettingsStore().load(&report);
    QCOMPARE(loaded.device, device);
    QCOMPARE(loaded.port.port, port);
    QCOMPARE(loaded.port.update, update);
    QCOMPARE(texts(loaded.positions), positions);
    QCOMPARE(report.unreadable, 0);
    QVERIFY(damagedCopies().isEmpty());
}

void TestSettingsStoreCore::damagedFileIsKeptBeforeAnySave_data()
{
    QTest::addColumn<QByteArray>("entries"); // the lines of the list after entry 1
    QTest::addColumn<int>("unreadable");
    QTest::addColumn<QStringList>("kept"); // the entries loaded
    QTest::addColumn<QString>("warning");

    const QStringList a{"a 1,2,3"};
    QTest::newRow("x a fraction") << QByteArray("2\\name=mid\n2\\x=12.5\n2\\y=1\n2\\z=1\nsize=2\n") << 1 << a
                                  << "Stored position 2 \"mid\" not loaded: x is \"12.5\", not a whole number";
    QTest::newRow("z missing") << QByteArray("2\\name=mid\n2\\x=1\n2\\y=1\nsize=2\n") << 1 << a
                               << "Stored position 2 \"mid\" not loaded: z is missing";
    QTest::newRow("no name") << QByteArray("2\\x=1\n2\\y=1\n2\\z=1\nsize=2\n") << 1 << a
                             << "Stored position 2 not loaded: it has no name";
    // Without a size no entry can be read; a save would overwrite them all.
    QTest::newRow("size missing") << QByteArray("2\\name=mid\n2\\x=1\n2\\y=1\n2\\z=1\n") << 2 << QStringList()
                                  << "2 stored positions not loaded: the list's size is missing or not a number";
    QTest::newRow("size not a number") << QByteArray("size=two\n") << 1 << QStringList()
                                       << "1 stored positions not loaded: the list's size is missing or not a number";
}

void TestSettingsStoreCore::damagedFileIsKeptBeforeAnySave()
{
    QFETCH(QByteArray, entries);
    QFETCH(int, unreadable);
    QFETCH(QStringList, kept);
    QFETCH(QString, warning);
    const QByteArray file = "[positions]\n1\\name=a\n1\\x=1\n1\\y=2\n1\\z=3\n" + entries;
    TestSettings::writeStore(file);

    SettingsStore store;
    LoadReport report;
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    StoredSettings loaded = store.load(&report);
    QCOMPARE(texts(loaded.positions), kept);
    QCOMPARE(report.unreadable, unreadable);
    QCOMPARE(damagedCopies().size(), 1);
    QCOMPARE(QFileInfo(report.keptAs).fileName(), damagedCopies().first());
    QCOMPARE(report.message,
             QStringLiteral("%1 stored positions could not be read; the file as it was is kept as %2")
                 .arg(unreadable)
                 .arg(report.keptAs));

    // The save drops the damaged entries; the copy still holds them.
    loaded.positions << Position(QStringLiteral("b"), 4, 5, 6);
    QCOMPARE(int(store.save(loaded).kind), int(SaveResult::Kind::Saved));
    QFile copy(report.keptAs);
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), file);
    QCOMPARE(texts(SettingsStore().load().positions), kept + QStringList{"b 4,5,6"});
}

void TestSettingsStoreCore::failedSaveLeavesThePreviousStore_data()
{
    QTest::addColumn<int>("before"); // positions in the store that was saved last
    QTest::addColumn<int>("after"); // positions in the save that fails
    QTest::addColumn<int>("limit"); // the file size limit, bytes, while it is written

    // A write buffer holds 16 KiB: stores below that are written at once
    // when the file is closed, larger ones partly before.
    QTest::newRow("small store grows past the limit") << 20 << 120 << 4096;
    QTest::newRow("large store grows past the limit") << 250 << 400 << 24 * 1024;
    QTest::newRow("limit below the previous store") << 250 << 260 << 8192;
    QTest::newRow("store shrinks, limit below both") << 250 << 200 << 8192;
}

void TestSettingsStoreCore::failedSaveLeavesThePreviousStore()
{
    QFETCH(int, before);
    QFETCH(int, after);
    QFETCH(int, limit);
    SettingsStore store;
    StoredSettings stored;
    stored.port.port = QStringLiteral("/dev/ttyS7");
    stored.positions = manyPositions(before, QStringLiteral("old"));
    QCOMPARE(int(store.save(stored).kind), int(SaveResult::Kind::Saved));
    const QByteArray previous = TestSettings::readStore();

    stored.port.port = QStringLiteral("/dev/ttyS8");
    stored.positions = manyPositions(after, QStringLiteral("new"));
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = rlim_t(limit);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const SaveResult result = store.save(stored);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &old), 0);

    QCOMPARE(int(result.kind), int(SaveResult::Kind::Failed));
    QCOMPARE(result.message,
             QStringLiteral("Settings not saved - cannot write %1 (File too large)").arg(TestSettings::storeFile()));
    QCOMPARE(TestSettings::readStore(), previous);
    const StoredSettings loaded = SettingsStore().load();
    QCOMPARE(loaded.port.port, QStringLiteral("/dev/ttyS7"));
    QCOMPARE(loaded.positions.size(), before);
    // Nothing of the attempt is left beside the store.
    QCOMPARE(QDir(QFileInfo(TestSettings::storeFile()).path()).entryList(QDir::Files), QStringList{"orvex.conf"});

    // Without the limit the same save writes the store.
    QCOMPARE(int(store.save(stored).kind), int(SaveResult::Kind::Saved));
    QCOMPARE(texts(SettingsStore().load().positions), texts(stored.positions));
}

void TestSettingsStoreCore::savingOffWritesNothing_data()
{
    QTest::addColumn<bool>("pipe"); // a pipe in the file's place, else a damaged store
    QTest::addColumn<QString>("reason"); // {file} stands for the store's path

    QTest::newRow("switched off") << false << "the lock cannot be made";
    QTest::newRow("a pipe in the file's place") << true << "{file} is not a plain file";
}

void TestSettingsStoreCore::savingOffWritesNothing()
{
    QFETCH(bool, pipe);
    QFETCH(QString, reason);
    reason.replace(QStringLiteral("{file}"), TestSettings::storeFile());
    const QByteArray damaged = "[positions]\n1\\name=a\n1\\x=far\nsize=1\n";
    SettingsStore store;
    // A pipe left behind would hang the next test's clearing of the store.
    const auto removeAtTheEnd = qScopeGuard([] { QFile::remove(TestSettings::storeFile()); });
    if (pipe) {
        QVERIFY(QDir().mkpath(QFileInfo(TestSettings::storeFile()).path()));
        QCOMPARE(::mkfifo(QFile::encodeName(TestSettings::storeFile()).constData(), 0600), 0);
    } else {
        // Neither the copy of the damaged store nor the store is written.
        TestSettings::writeStore(damaged);
        store.switchSavingOff(reason);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Stored position 1 \"a\" not loaded"));
    }
    const StoredSettings loaded = store.load();
    const SaveResult result = store.save(loaded);
    QCOMPARE(int(result.kind), int(SaveResult::Kind::Off));
    QCOMPARE(result.message, QStringLiteral("Settings are not saved in this run - ") + reason);
    if (pipe)
        QVERIFY(QFileInfo(TestSettings::storeFile()).exists() && !QFileInfo(TestSettings::storeFile()).isFile());
    else
        QCOMPARE(TestSettings::readStore(), damaged);
    QVERIFY(damagedCopies().isEmpty());
}

QTEST_GUILESS_MAIN(TestSettingsStoreCore)
#include "tst_settingsstore_core.moc"
