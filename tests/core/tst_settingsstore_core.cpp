// The settings store on its own: the load's rules, the copy kept of a damaged
// file, and saves that fail part-way through the file, made to fail by a
// file size limit as a full disk makes them fail.
#include "settingsstore.h"
#include "testsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// "name x,y,z", with " device n" for an entry that has a device.
QString text(const Position &p)
{
    const QString device = p.device == Position::noDevice ? QString() : QStringLiteral(" device %1").arg(p.device);
    return QStringLiteral("%1 %2,%3,%4").arg(p.name).arg(p.x).arg(p.y).arg(p.z) + device;
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

QString folder()
{
    return QFileInfo(TestSettings::storeFile()).path();
}

// Every key of the store file with its value, read from a copy so that
// nothing QSettings holds in memory for the store is seen.
QStringList keysOnDisk()
{
    QTemporaryFile copy;
    if (!copy.open() || copy.write(TestSettings::readStore()) < 0 || !copy.flush())
        return {"cannot copy the store"};
    const QSettings file(copy.fileName(), QSettings::IniFormat);
    QStringList keys = file.allKeys();
    keys.sort();
    QStringList list;
    for (const QString &key : keys)
        list << key + QLatin1Char('=') + file.value(key).toString();
    return list;
}

int modeOf(const QString &path)
{
    struct stat st
    { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
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
        QDir beside(folder());
        for (const QString &name : beside.entryList(QDir::Files | QDir::System))
            beside.remove(name);
    }

    void loadRules_data();
    void loadRules();
    void damagedFileIsKeptBeforeAnySave_data();
    void damagedFileIsKeptBeforeAnySave();
    void failedSaveLeavesThePreviousStore_data();
    void failedSaveLeavesThePreviousStore();
    void savingOffWritesNothing_data();
    void savingOffWritesNothing();
    void fileHoldsWhatTheListHolds_data();
    void fileHoldsWhatTheListHolds();
    void leftoversAreRemovedAtStart_data();
    void leftoversAreRemovedAtStart();
    void savesRunInTurnOffThisThread();
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
    // Stored so by hand or an earlier version; Store would leave the spaces out.
    QTest::newRow("a name with spaces at its ends loads as it is")
        << QByteArray("[positions]\n1\\name=\" Site B \"\n1\\x=1\n1\\y=2\n1\\z=3\nsize=1\n") << 1 << usb0 << 1000
        << QStringList{" Site B  1,2,3"};
    QTest::newRow("entry past the size") << "[positions]\n" + a + "size=0\n" << 1 << usb0 << 1000 << QStringList();
    QTest::newRow("entry of device 2") << "[positions]\n" + a + "1\\device=2\nsize=1\n"
                                       << 1 << usb0 << 1000 << QStringList{"a 1,2,3 device 2"};
    QTest::newRow("entry of the unit's own manipulator") << "[positions]\n" + a + "1\\device=0\nsize=1\n"
                                                         << 1 << usb0 << 1000 << QStringList{"a 1,2,3 device 0"};
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
    // Loaded without its device, the entry would be offered to every device.
    QTest::newRow("device not a number") << QByteArray("2\\name=mid\n2\\x=1\n2\\y=1\n2\\z=1\n2\\device=two\nsize=2\n")
                                         << 1 << a
                                         << "Stored position 2 \"mid\" not loaded: device is \"two\", not one of 0..99";
    QTest::newRow("device above the range")
        << QByteArray("2\\name=mid\n2\\x=1\n2\\y=1\n2\\z=1\n2\\device=100\nsize=2\n") << 1 << a
        << "Stored position 2 \"mid\" not loaded: device is \"100\", not one of 0..99";
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
    // A pipe left behind would hang the next test's clearing of the store.
    const auto removeAtTheEnd = qScopeGuard([] { QFile::remove(TestSettings::storeFile()); });
    if (pipe) {
        QVERIFY(QDir().mkpath(QFileInfo(TestSettings::storeFile()).path()));
        QCOMPARE(::mkfifo(QFile::encodeName(TestSettings::storeFile()).constData(), 0600), 0);
    } else {
        // Neither the copy of the damaged store nor the store is written.
        TestSettings::writeStore(damaged);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Stored position 1 \"a\" not loaded"));
    }
    // Made with the pipe in place: finding the store's path opens nothing.
    SettingsStore store;
    QCOMPARE(SettingsStore::fileName(), TestSettings::storeFile());
    if (!pipe)
        store.switchSavingOff(reason);
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

void TestSettingsStoreCore::fileHoldsWhatTheListHolds_data()
{
    QTest::addColumn<QByteArray>("file"); // the store before
    QTest::addColumn<bool>("load"); // loaded before the save, or saved at once
    QTest::addColumn<int>("keep"); // entries of the list saved: the first ones loaded
    QTest::addColumn<QStringList>("after"); // every key of the file after the save
    QTest::addColumn<QByteArray>("system"); // the lab's defaults for every user, if any

    const QByteArray two = "[positions]\n1\\name=a\n1\\x=1\n1\\y=2\n1\\z=3\n2\\name=b\n2\\x=4\n2\\y=5\n2\\z=6\n";
    const QStringList own{"settings/dev=1", "settings/pcmode=false", "settings/port=" + PortSettings::defaultPort(),
                          "settings/timeout=100", "settings/update=1000"};
    const QStringList a{"positions/1/name=a", "positions/1/x=1", "positions/1/y=2", "positions/1/z=3"};
    QTest::newRow("a removed entry is gone") << two + "size=2\n"
                                             << true << 1 << a + QStringList{"positions/size=1"} + own << QByteArray();
    QTest::newRow("entries past the size are gone")
        << two + "3\\name=Secret site\n3\\x=7\n3\\y=8\n3\\z=9\nsize=2\n"
        << true << 0 << QStringList{"positions/size=0"} + own << QByteArray();
    QTest::newRow("a hand-added group, key and top key stay")
        << "top=1\n[notes]\nwho=me\n[settings]\nextra=yes\ndev=3\n" + two + "size=1\n"
        << true << 1
        << QStringList{"notes/who=me"} + a
            + QStringList{"positions/size=1",
                          "settings/dev=1",
                          "settings/extra=yes",
                          "settings/pcmode=false",
                          "settings/port=" + PortSettings::defaultPort(),
                          "settings/timeout=100",
                          "settings/update=1000",
                          "top=1"}
        << QByteArray();
    // An entry without a device is written without one, as it was read.
    QTest::newRow("an entry's device stays with it") << QByteArray(
        "[positions]\n1\\name=a\n1\\x=1\n1\\y=2\n1\\z=3\n1\\device=4\n2\\name=b\n2\\x=4\n2\\y=5\n2\\z=6\n"
        "size=2\n") << true << 2
                                                     << QStringList{"positions/1/device=4"} + a
            + QStringList{"positions/2/name=b", "positions/2/x=4", "positions/2/y=5", "positions/2/z=6",
                          "positions/size=2"}
            + own << QByteArray();
    QTest::newRow("saved without a load, a hand-added group stays")
        << "[notes]\nwho=me\n" + two + "size=2\n"
        << false << 0 << QStringList{"notes/who=me", "positions/size=0"} + own << QByteArray();
    // The defaults are read, but of the keys the program does not write only
    // the user's own are kept: written into the user's file they would hide
    // later changes of the defaults.
    QTest::newRow("the lab's defaults stay out of the file")
        << "[notes]\nwho=me\n" + two + "size=2\n"
        << true << 0
        << QStringList{"notes/who=me",
                       "positions/size=0",
                       "settings/dev=1",
                       "settings/pcmode=false",
                       "settings/port=" + PortSettings::defaultPort(),
                       "settings/timeout=250",
                       "settings/update=1000"}
        << QByteArray("[settings]\ntimeout=250\nextra=yes\n");
}

void TestSettingsStoreCore::fileHoldsWhatTheListHolds()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, load);
    QFETCH(int, keep);
    QFETCH(QStringList, after);
    QFETCH(QByteArray, system);
    QTemporaryDir defaults;
    if (!system.isEmpty()) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, defaults.path());
        QVERIFY(QDir().mkpath(defaults.path() + "/quellmark"));
        QFile lab(defaults.path() + "/quellmark/orvex.conf");
        QVERIFY(lab.open(QIODevice::WriteOnly) && lab.write(system) == system.size());
    }
    TestSettings::writeStore(file);
    // The store's permission bits stay as the user set them.
    QVERIFY(QFile::setPermissions(TestSettings::storeFile(), QFile::ReadOwner | QFile::WriteOwner));

    SettingsStore store;
    StoredSettings stored;
    if (load)
        stored = store.load();
    stored.positions = stored.positions.mid(0, keep);
    stored.device = 1;
    QCOMPARE(int(store.save(stored).kind), int(SaveResult::Kind::Saved));
    QCOMPARE(keysOnDisk(), after);
    QCOMPARE(modeOf(TestSettings::storeFile()), 0600);
    // A second save of the same list writes the same file.
    const QByteArray first = TestSettings::readStore();
    QCOMPARE(int(store.save(stored).kind), int(SaveResult::Kind::Saved));
    QCOMPARE(TestSettings::readStore(), first);
}

void TestSettingsStoreCore::leftoversAreRemovedAtStart_data()
{
    QTest::addColumn<bool>("damaged"); // the store has an entry that cannot be read
    QTest::addColumn<bool>("off"); // saving is off in this run
    QTest::addColumn<QStringList>("before"); // files beside the store
    QTest::addColumn<QStringList>("after"); // files then; {new} is the copy this start made
    QTest::addColumn<QString>("warning");

    const QStringList crashed{"orvex.conf.saving-4242-7", "orvex.conf.saving-4242-7.lock",
                              "orvex.conf.saving-4243-1.check", "orvex.conf.saving-4243-1.check.room"};
    const QString removed
        = "Removed 4 files left beside " + TestSettings::storeFile() + " by a save that was cut short";
    QTest::newRow("what a crashed save left") << false << false << crashed + QStringList{"other.conf.saving-1-1"}
                                              << QStringList{"orvex.conf", "other.conf.saving-1-1"} << removed;
    // Another program may be saving the store.
    QTest::newRow("saving off") << false << true << crashed << crashed + QStringList{"orvex.conf"} << QString();
    const QString copy = QStringLiteral("orvex.conf.damaged-2020-01-0%1T00-00-00");
    QStringList copies;
    for (const QString &name :
         {copy.arg(1), copy.arg(1) + "-2", copy.arg(1) + "-10", copy.arg(2), copy.arg(3), copy.arg(4), copy.arg(5)})
        copies << name;
    QTest::newRow("the five newest damaged copies")
        << true << false << copies << QStringList{"orvex.conf"} + copies.mid(3) + QStringList{"{new}"} << QString();
}

void TestSettingsStoreCore::leftoversAreRemovedAtStart()
{
    QFETCH(bool, damaged);
    QFETCH(bool, off);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QString, warning);
    TestSettings::writeStore(damaged ? "[positions]\n1\\name=a\n1\\x=far\nsize=1\n" : "[positions]\nsize=0\n");
    QVERIFY(QFile::setPermissions(TestSettings::storeFile(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    for (const QString &name : before) {
        QFile file(folder() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    if (damaged)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Stored position 1 \"a\" not loaded"));
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));

    SettingsStore store;
    if (off)
        store.switchSavingOff(QStringLiteral("no lock"));
    LoadReport report;
    store.load(&report);
    QStringList files = QDir(folder()).entryList(QDir::Files | QDir::System);
    if (damaged) {
        const QString made = QFileInfo(report.keptAs).fileName();
        QCOMPARE(modeOf(report.keptAs), 0640);
        files.replace(int(files.indexOf(made)), QStringLiteral("{new}"));
    }
    files.sort();
    after.sort();
    QCOMPARE(files, after);
}

void TestSettingsStoreCore::savesRunInTurnOffThisThread()
{
    SettingsStore store;
    QSignalSpy finished(&store, &SettingsStore::saveFinished);
    StoredSettings stored = store.load();
    quint64 number = 0;
    for (const int count : {3, 1, 2}) {
        stored.positions = manyPositions(count, QStringLiteral("turn"));
        number = store.saveLater(stored);
    }
    QCOMPARE(number, quint64(3));
    QCOMPARE(int(store.waitForSaves().kind), int(SaveResult::Kind::Saved));
    QCOMPARE(texts(SettingsStore().load().positions), texts(stored.positions));
    // Each save told, in turn, the last for all three; a replaced one is told by the one that replaced it.
    QTRY_VERIFY(store.isSettled());
    QVERIFY(!finished.isEmpty() && finished.size() <= 3);
    quint64 told = 0;
    for (const QList<QVariant> &signal : finished) {
        QVERIFY(signal.at(0).toULongLong() > told);
        told = signal.at(0).toULongLong();
        QCOMPARE(int(signal.at(1).value<SaveResult>().kind), int(SaveResult::Kind::Saved));
    }
    QCOMPARE(told, quint64(3));
}

QTEST_GUILESS_MAIN(TestSettingsStoreCore)
#include "tst_settingsstore_core.moc"
