// The settings store: what a new window reads from it and what closing the
// window writes back.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "nextmodal.h"
#include "positionview.h"
#include "testsettings.h"
#include "testwindow.h"
#include "windowfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>

using namespace PositionView;

namespace {

// Lines of entry n of the "positions" array, as the store's file keeps them.
QByteArray entry(int n, const QByteArray &name, int x, int y, int z)
{
    const QByteArray k = QByteArray::number(n) + '\\';
    return k + "name=" + name + '\n' + k + "x=" + QByteArray::number(x) + '\n' + k + "y=" + QByteArray::number(y) + '\n'
        + k + "z=" + QByteArray::number(z) + '\n';
}

// Every key of the store with its value as text, sorted by key.
QStringList storedKeys()
{
    SettingsStore::waitForAllSaves();
    QSettings store(QStringLiteral("quellmark"), QStringLiteral("orvex"));
    store.sync();
    QStringList keys = store.allKeys();
    keys.sort();
    QStringList list;
    for (const QString &key : keys)
        list << key + QLatin1Char('=') + store.value(key).toString();
    return list;
}

// The records of the "positions" array as the store holds them, up to its size.
QStringList storedRecords()
{
    SettingsStore::waitForAllSaves();
    QSettings store(QStringLiteral("quellmark"), QStringLiteral("orvex"));
    QStringList list;
    const int size = store.beginReadArray(QStringLiteral("positions"));
    for (int i = 0; i < size; ++i) {
        store.setArrayIndex(i);
        list << rec(store.value("name").toString(), store.value("x").toInt(), store.value("y").toInt(),
                    store.value("z").toInt());
    }
    store.endArray();
    return list;
}

// The settings and records a window holds, as onDisk() lists them.
QStringList inWindow(KesmarControl &w)
{
    const PortSettings &s = w.panel().link().portSettings();
    return QStringList{"port=" + s.port, "dev=" + QString::number(w.panel().link().device()),
                       "update=" + QString::number(s.update), "timeout=" + QString::number(s.timeout),
                       s.pcmode ? "pcmode=true" : "pcmode=false"}
    + records(w);
}

// The settings and records in the store file on disk, read from a copy so
// that nothing this process holds in memory for the store is seen.
QStringList onDisk()
{
    SettingsStore::waitForAllSaves();
    QTemporaryFile copy;
    if (!copy.open() || copy.write(TestSettings::readStore()) < 0 || !copy.flush())
        return {"cannot copy the store"};
    QSettings s(copy.fileName(), QSettings::IniFormat);
    QStringList list;
    for (const char *key : {"port", "dev", "update", "timeout", "pcmode"})
        list << key + QLatin1Char('=') + s.value(QStringLiteral("settings/") + key).toString();
    const int size = s.beginReadArray(QStringLiteral("positions"));
    for (int i = 0; i < size; ++i) {
        s.setArrayIndex(i);
        list << rec(s.value("name").toString(), s.value("x").toInt(), s.value("y").toInt(), s.value("z").toInt());
    }
    s.endArray();
    return list;
}

// Runs Menu > Settings, sets the port if one is given and presses OK.
void acceptSettings(KesmarControl &w, const QString &port)
{
    onNewDialog([&] { w.findChild<QAction *>(QStringLiteral("actionSettings"))->trigger(); },
                [port](QDialog *dialog) {
                    if (!port.isEmpty())
                        dialog->findChild<QLineEdit *>(QStringLiteral("port"))->setText(port);
                    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
                });
}

} // namespace

class TestSettingsStore : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void loadsTheConnectionSettings_data();
    void loadsTheConnectionSettings();
    void loadsThePositions_data();
    void loadsThePositions();
    void firstEntryGoesIntoTheTargets_data();
    void firstEntryGoesIntoTheTargets();
    void closeWritesEveryKeyAndNothingElse();
    void emptyListWritesSizeZero();
    void nextWindowReadsWhatTheLastWrote();
    void failedOpenKeepsThePort();
    void noChangeNoCloseWritesNothing();
    void everyChangeIsSavedAtOnce_data();
    void everyChangeIsSavedAtOnce();
    void saveFailureIsShownUntilASaveSucceeds_data();
    void saveFailureIsShownUntilASaveSucceeds();
    void standingMessageReturns_data();
    void standingMessageReturns();
};

void TestSettingsStore::loadsTheConnectionSettings_data()
{
    QTest::addColumn<QByteArray>("file"); // a null text means there is no store
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("dev");
    QTest::addColumn<int>("update");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("pcmode");

    const QString usb0 = QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("no store") << QByteArray() << usb0 << 1 << 1000 << 100 << false;
    QTest::newRow("every key") << QByteArray(
        "[settings]\nport=/dev/ttyS3\ndev=4\nupdate=250\ntimeout=300\npcmode=true\n")
                               << "/dev/ttyS3" << 4 << 250 << 300 << true;
    QTest::newRow("empty port") << QByteArray("[settings]\nport=\ntimeout=50\n") << usb0 << 1 << 1000 << 50 << false;
    // The polling interval has a floor of 20 ms.
    QTest::newRow("update not a number") << QByteArray("[settings]\nupdate=often\n") << usb0 << 1 << 20 << 100 << false;
    QTest::newRow("update below the floor") << QByteArray("[settings]\nupdate=19\n") << usb0 << 1 << 20 << 100 << false;
    QTest::newRow("update negative") << QByteArray("[settings]\nupdate=-5\n") << usb0 << 1 << 20 << 100 << false;
    QTest::newRow("device 0 keeps 0") << QByteArray("[settings]\ndev=0\n") << usb0 << 0 << 1000 << 100 << false;
    QTest::newRow("keys outside the group")
        << QByteArray("[General]\nport=/dev/ttyS9\ndev=5\nupdate=7\n") << usb0 << 1 << 1000 << 100 << false;
}

void TestSettingsStore::loadsTheConnectionSettings()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, port);
    QFETCH(int, dev);
    QFETCH(int, update);
    QFETCH(int, timeout);
    QFETCH(bool, pcmode);
    if (!file.isNull())
        TestSettings::writeStore(file);

    TestWindow w;
    const PortSettings &s = w.panel().link().portSettings();
    QCOMPARE(s.port, port);
    QCOMPARE(w.panel().link().device(), dev);
    QCOMPARE(s.update, update);
    QCOMPARE(s.timeout, timeout);
    QCOMPARE(s.pcmode, pcmode);
    QCOMPARE(w.panel().link().pollInterval(), update);
    QVERIFY(w.panel().positions().positions().isEmpty());
    QVERIFY(items(w).isEmpty());
}

void TestSettingsStore::loadsThePositions_data()
{
    QTest::addColumn<QByteArray>("array");
    QTest::addColumn<QStringList>("expected");

    const QByteArray first = entry(1, "first", 10, 20, 30);
    const QByteArray third = entry(3, "third", 70, 80, 90);
    const QStringList both = {rec("first", 10, 20, 30), rec("third", 70, 80, 90)};

    QTest::newRow("second entry nameless") << first + "2\\name=\n2\\x=1\n" + third + "size=3\n" << both;
    QTest::newRow("gap in the middle") << first + third + "size=3\n" << both;
    QTest::newRow("absurd size") << first + entry(2, "second", 4, 5, 6) + "size=2000000000\n"
                                 << QStringList({rec("first", 10, 20, 30), rec("second", 4, 5, 6)});
    QTest::newRow("absurd size with a gap") << first + third + "size=2000000000\n" << both;
    QTest::newRow("size below the entries") << first + third + "size=2\n" << QStringList{rec("first", 10, 20, 30)};
    QTest::newRow("no size") << first + third << QStringList();
    QTest::newRow("negative size") << first + "size=-3\n" << QStringList();
    // Unquoted, the store reads a comma-separated value as a list, not a name.
    QTest::newRow("quoted and unquoted commas")
        << QByteArray("1\\name=a,b\n1\\x=1\n1\\y=1\n1\\z=1\n") + entry(2, "\"c,d\"", 2, 3, 4) + "size=2\n"
        << QStringList{rec("c,d", 2, 3, 4)};
}

void TestSettingsStore::loadsThePositions()
{
    QFETCH(QByteArray, array);
    QFETCH(QStringList, expected);
    TestSettings::writeStore("[positions]\n" + array);

    {
        TestWindow w;
        QCOMPARE(records(w), expected);
        QCOMPARE(items(w), names(expected));
        QCOMPARE(widget<QComboBox>(w, "stores")->currentIndex(), expected.isEmpty() ? -1 : 0);
        w.close();
    }
    // The next close writes the records as loaded, renumbered without gaps.
    QSettings store(QStringLiteral("quellmark"), QStringLiteral("orvex"));
    QCOMPARE(store.value("positions/size").toInt(), expected.size());
    QCOMPARE(storedRecords(), expected);
}

void TestSettingsStore::firstEntryGoesIntoTheTargets_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("slider");

    // The first entry is restored while the targets still have the form's
    // range 0..21000 and the sliders their default 0..99; the constructor
    // then narrows the targets to 20500, widens the sliders and sets each
    // slider to its box. An entry outside 0..20500 is skipped as damaged:
    // the second entry is the first then (target -1).
    QTest::newRow("within every range") << 42 << 42 << 42;
    QTest::newRow("above the sliders' first range") << 12000 << 12000 << 12000;
    QTest::newRow("new maximum") << 20500 << 20500 << 20500;
    QTest::newRow("form's maximum") << 21000 << -1 << -1;
    QTest::newRow("above every range") << 30000 << -1 << -1;
    QTest::newRow("negative") << -5 << -1 << -1;
}

void TestSettingsStore::firstEntryGoesIntoTheTargets()
{
    QFETCH(int, stored);
    QFETCH(int, target);
    QFETCH(int, slider);
    TestSettings::writeStore("[positions]\n" + entry(1, "first", stored, 1, stored) + entry(2, "second", 5, 6, 7)
                             + "size=2\n");

    TestWindow w;
    const bool skipped = target < 0;
    const QString second = rec("second", 5, 6, 7);
    QCOMPARE(records(w), skipped ? QStringList{second} : QStringList({rec("first", stored, 1, stored), second}));
    QCOMPARE(widget<QComboBox>(w, "stores")->currentIndex(), 0);
    const QString first = skipped ? QStringLiteral("second") : QStringLiteral("first");
    QCOMPARE(widget<QLineEdit>(w, "storeName")->text(), first);
    QCOMPARE(widget<QSpinBox>(w, "targetX")->value(), skipped ? 5 : target);
    QCOMPARE(widget<QSpinBox>(w, "targetY")->value(), skipped ? 6 : 1);
    QCOMPARE(widget<QSpinBox>(w, "targetZ")->value(), skipped ? 7 : target);
    QCOMPARE(widget<QSlider>(w, "sliderX")->value(), skipped ? 5 : slider);
    QCOMPARE(widget<QSlider>(w, "sliderY")->value(), skipped ? 6 : 1);
    QCOMPARE(widget<QSlider>(w, "sliderZ")->value(), skipped ? 7 : slider);
    // A skipped entry's warning replaces the message of the recall.
    if (!skipped)
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Position first restored"));
}

void TestSettingsStore::closeWritesEveryKeyAndNothingElse()
{
    TestWindow w;
    PortSettings s = w.panel().link().portSettings();
    s.port = QStringLiteral("/dev/ttyACM1");
    s.update = 500;
    s.timeout = 250;
    s.pcmode = true;
    w.panel().link().setPortSettings(s);
    widget<QSpinBox>(w, "dev")->setValue(7); // selection succeeds: dev becomes 7
    store(w, {rec("alpha", 11, 0, 10000), rec("beta", 22, 0, 10000)});
    widget<QCheckBox>(w, "followTarget")->setChecked(true);
    widget<QComboBox>(w, "stores")->setCurrentIndex(1);

    w.close();
    // Each entry stored remembers the device it was stored for.
    const QStringList expected
        = {"positions/1/device=7", "positions/1/name=alpha",     "positions/1/x=11",      "positions/1/y=0",
           "positions/1/z=10000",  "positions/2/device=7",       "positions/2/name=beta", "positions/2/x=22",
           "positions/2/y=0",      "positions/2/z=10000",        "positions/size=2",      "settings/dev=7",
           "settings/pcmode=true", "settings/port=/dev/ttyACM1", "settings/timeout=250",  "settings/update=500"};
    QCOMPARE(storedKeys(), expected);

    // Saving leaves the list alone, so a second close writes the same store.
    QCOMPARE(records(w), QStringList({rec("alpha", 11, 0, 10000), rec("beta", 22, 0, 10000)}));
    const QByteArray firstSave = TestSettings::readStore();
    QVERIFY(firstSave.contains("size=2"));
    w.close();
    QCOMPARE(storedKeys(), expected);
    QCOMPARE(TestSettings::readStore(), firstSave);
}

void TestSettingsStore::emptyListWritesSizeZero()
{
    TestSettings::writeStore("[positions]\n" + entry(1, "first", 1, 2, 3) + entry(2, "second", 4, 5, 6) + "size=2\n");
    {
        TestWindow w;
        QPushButton *remove = widget<QPushButton>(w, "pushButtonRemove");
        remove->click();
        remove->click();
        QVERIFY(items(w).isEmpty());
        w.close();
    }
    QSettings store(QStringLiteral("quellmark"), QStringLiteral("orvex"));
    QCOMPARE(store.value("positions/size").toString(), QStringLiteral("0"));
    // Nothing of the removed entries is left in the file.
    QCOMPARE(store.allKeys(), QStringList{"positions/size"} + store.allKeys().filter("settings/"));
    TestWindow next;
    QVERIFY(next.panel().positions().positions().isEmpty());
    QVERIFY(items(next).isEmpty());
}

void TestSettingsStore::nextWindowReadsWhatTheLastWrote()
{
    const QString port = QStringLiteral("/dev/serial/by-id/usb-Ünï,1");
    const QStringList tricky = {rec(QStringLiteral("Ünïcødé 位置 ☃"), 1, 2, 3),
                                rec("a, b: c", 4, 5, 6),
                                rec("/dev/ttyUSB0", 7, 8, 9),
                                rec("back\\slash", 10, 0, 0),
                                rec(" padded ", 11, 0, 0),
                                rec("@home", 12, 0, 0),
                                rec("x=y;#z\"q\"", 13, 0, 0),
                                rec("[section]", 14, 0, 0)};
    // The last one's name with the first one's coordinates: the name match
    // wins, so the entry of that name takes the coordinates, and no two
    // entries share a name.
    // White space at the ends of a name is left out.
    QStringList written = tricky.mid(0, 7) + QStringList{rec("[section]", 1, 2, 3)};
    written[4] = rec("padded", 11, 0, 0);
    {
        TestWindow w;
        PortSettings s = w.panel().link().portSettings();
        s.port = port;
        s.pcmode = true;
        w.panel().link().setPortSettings(s);
        store(w, tricky + QStringList{rec("[section]", 1, 2, 3)});
        QCOMPARE(records(w), written);
        w.close();
    }
    const QByteArray file = TestSettings::readStore();
    {
        TestWindow w;
        QCOMPARE(records(w), written);
        QCOMPARE(items(w), names(written));
        QCOMPARE(w.panel().link().portSettings().port, port);
        QCOMPARE(w.panel().link().portSettings().pcmode, true);
        w.close();
    }
    // Reading and writing again changes nothing.
    QCOMPARE(TestSettings::readStore(), file);
}

void TestSettingsStore::failedOpenKeepsThePort()
{
    TestSettings::writeStore("[settings]\nport=/dev/ttyS9\n");
    Fake::script().openSucceeds = false;
    {
        TestWindow w;
        QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
        QCOMPARE(Fake::callsNamed("open").first().args.first().toString(), QStringLiteral("/dev/ttyS9"));
        w.close();
    }
    QSettings store(QStringLiteral("quellmark"), QStringLiteral("orvex"));
    QCOMPARE(store.value("settings/port").toString(), QStringLiteral("/dev/ttyS9"));
}

void TestSettingsStore::noChangeNoCloseWritesNothing()
{
    // Loading shows device 1 in the box without selecting it, and the failed
    // open selects nothing: nothing is saved.
    const QByteArray golden = "[settings]\nport=/dev/ttyS2\n\n[positions]\n" + entry(1, "kept", 1, 2, 3) + "size=1\n";
    TestSettings::writeStore(golden);
    Fake::script().openSucceeds = false;
    {
        TestWindow w;
        QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
        QCOMPARE(Fake::count("select_dev"), 0);
        PortSettings s = w.panel().link().portSettings();
        s.update = 5;
        w.panel().link().setPortSettings(s);
        QCOMPARE(records(w), QStringList{rec("kept", 1, 2, 3)});
    }
    QCOMPARE(TestSettings::readStore(), golden);
}

void TestSettingsStore::everyChangeIsSavedAtOnce_data()
{
    QTest::addColumn<QString>("change");
    for (const char *change : {"add", "update", "rename", "remove", "select device", "settings OK"})
        QTest::newRow(change) << change;
}

void TestSettingsStore::everyChangeIsSavedAtOnce()
{
    QFETCH(QString, change);
    TestSettings::writeStore("[settings]\nport=/dev/ttyS2\ndev=2\n\n[positions]\n" + entry(1, "a", 1, 2, 3)
                             + entry(2, "b", 4, 5, 6) + "size=2\n");
    TestWindow w;
    const QStringList loaded = inWindow(w);
    if (change == "add")
        store(w, {rec("c", 7, 8, 9)});
    else if (change == "update")
        store(w, {rec("b", 4, 5, 7)});
    else if (change == "rename")
        store(w, {rec("c", 1, 2, 3)});
    else if (change == "remove")
        widget<QPushButton>(w, "pushButtonRemove")->click();
    else if (change == "select device")
        widget<QSpinBox>(w, "dev")->setValue(7);
    else
        acceptSettings(w, QStringLiteral("/dev/ttyS5"));

    // The file holds what the window holds, without a close.
    QVERIFY(inWindow(w) != loaded);
    QCOMPARE(onDisk(), inWindow(w));
}

void TestSettingsStore::saveFailureIsShownUntilASaveSucceeds_data()
{
    // Permission bits do not stop root, so the store is blocked by a path of
    // the wrong kind, which stops everyone.
    QTest::addColumn<QString>("blocked");
    QTest::addColumn<bool>("asFolder");
    QTest::addColumn<QString>("reason");
    const QString file = TestSettings::storeFile();
    QTest::newRow("store file is a folder") << file << true << "Filename refers to a directory";
    QTest::newRow("store folder is a file") << QFileInfo(file).path() << false << "Not a directory";
}

void TestSettingsStore::saveFailureIsShownUntilASaveSucceeds()
{
    QFETCH(QString, blocked);
    QFETCH(bool, asFolder);
    QFETCH(QString, reason);
    std::unique_ptr<KesmarControl> w;
    RUN_STEP(WindowFixture::start(w, true));
    store(*w, {rec("a", 1, 2, 3)});
    QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Position a added"));

    const auto unblock = [&] {
        SettingsStore::waitForAllSaves();
        QFile::remove(blocked);
        QDir(blocked).removeRecursively();
    };
    const auto unblockAtTheEnd = qScopeGuard(unblock);
    unblock();
    if (asFolder)
        QVERIFY(QDir().mkpath(blocked));
    else
        QVERIFY(QFile(blocked).open(QIODevice::WriteOnly));

    store(*w, {rec("b", 4, 5, 6)});
    const QString failure
        = QStringLiteral("Settings not saved - cannot write %1 (%2)").arg(TestSettings::storeFile(), reason);
    QTRY_COMPARE(w->statusBar()->currentMessage(), failure);
    WindowFixture::expectShownFor(w->statusBar(), 0);
    QTest::ignoreMessage(QtWarningMsg, qPrintable(failure));
    w->close();

    // Writable again: the next save writes everything and clears the message.
    // Polling on again, so that OK only saves and does not reconnect.
    unblock();
    w->panel().link().resumePolling();
    acceptSettings(*w, QString());
    QTRY_COMPARE(w->statusBar()->currentMessage(), QString());
    QCOMPARE(onDisk(), inWindow(*w));
    QCOMPARE(records(*w), QStringList({rec("a", 1, 2, 3), rec("b", 4, 5, 6)}));
}

void TestSettingsStore::standingMessageReturns_data()
{
    QTest::addColumn<QString>("notSavingReason");
    QTest::addColumn<QString>("standing"); // {copy} stands for the copy's path
    QTest::addColumn<QString>("afterStore");

    QTest::newRow("damaged store") << QString()
                                   << "1 stored positions could not be read; the file as it was is kept as {copy}"
                                   << "Position b added";
    QTest::newRow("saving off") << "no lock"
                                << "Settings are not saved in this run - no lock"
                                << "Settings are not saved in this run - no lock";
}

void TestSettingsStore::standingMessageReturns()
{
    QFETCH(QString, notSavingReason);
    QFETCH(QString, standing);
    QFETCH(QString, afterStore);
    const QByteArray damaged = "[positions]\n1\\name=a\n1\\x=12.5\n1\\y=1\n1\\z=1\nsize=1\n";
    const QFileInfo file(TestSettings::storeFile());
    for (const QString &copy : QDir(file.path()).entryList({file.fileName() + ".damaged-*"}, QDir::Files))
        QVERIFY(QFile::remove(file.path() + QLatin1Char('/') + copy));
    TestSettings::writeStore(damaged);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Stored position 1 \"a\" not loaded"));
    TestWindow w(notSavingReason);
    const QStringList copies = QDir(file.path()).entryList({file.fileName() + ".damaged-*"}, QDir::Files);
    QCOMPARE(copies.size(), notSavingReason.isEmpty() ? 1 : 0);
    standing.replace(QStringLiteral("{copy}"), file.path() + QLatin1Char('/') + copies.value(0));
    QCOMPARE(w.statusBar()->currentMessage(), standing);

    store(w, {rec("b", 1, 2, 3)});
    QTRY_COMPARE(w.statusBar()->currentMessage(), afterStore);
    // Once a passing message has gone, the standing one is back.
    w.statusBar()->showMessage(QStringLiteral("passing"), 10);
    QTRY_COMPARE_WITH_TIMEOUT(w.statusBar()->currentMessage(), standing, 5000);
    SettingsStore::waitForAllSaves();
    QCOMPARE(TestSettings::readStore() == damaged, !notSavingReason.isEmpty());
}

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
