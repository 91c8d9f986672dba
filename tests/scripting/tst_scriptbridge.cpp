// The scripting interface against the test double: what each call answers,
// error names included, seen over the session bus (the test runs under
// dbus-run-session).
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "journal.h"
#include "kesmarbus.h"
#include "runstep.h"
#include "scriptbridge.h"
#include "testsettings.h"
#include "testwindow.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <functional>

using Setup = std::function<void(KesmarControl &)>;

// The window with its port open and polling stopped, and the bridge on the bus.
struct BusPanel
{
    BusPanel()
    {
        QTRY_VERIFY_WITH_TIMEOUT(w.panel().link().isOpen(), 10000);
        w.panel().link().stopPolling();
        QVERIFY(bridge.registerOnSessionBus());
    }

    TestWindow w;
    ScriptBridge bridge{w.panel()};
};
Q_DECLARE_METATYPE(Setup)

// Calls the panel as a script does: over a connection of its own, through the
// bus, with the event loop running meanwhile. A call within the process
// could not be answered later, as StorePosition is once its save has ended.
QDBusMessage callAsScript(const QString &method, const QVariantList &args)
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(KesmarBus::service, KesmarBus::path, KesmarBus::interface, method);
    call.setArguments(args);
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("script"))
        .call(call, QDBus::BlockWithGui);
}

class TestScriptBridge : public FakeLibraryTest
{
    Q_OBJECT

public slots:
    // MoveJournaled as a script receives it.
    void onMoveJournaled(const QDBusMessage &message)
    {
        journaled << qdbus_cast<JournalRow>(message.arguments().value(0));
    }

private slots:
    void cleanup() { QDir(TestSettings::storeFile()).removeRecursively(); }
    void answers_data();
    void answers();
    void storeByName_data();
    void storeByName();
    void everyHaltIsSignalled_data();
    void everyHaltIsSignalled();
    void journal_data();
    void journal();
    void clientPrintsTheJournal_data();
    void clientPrintsTheJournal();

private:
    QList<JournalRow> journaled;
};

void TestScriptBridge::answers_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<QString>("error"); // empty for success
    QTest::addColumn<QString>("message"); // part of the error's text, or the answer's values
    QTest::addColumn<int>("deviceAfter");

    const Setup nothing = [](KesmarControl &) {
    };
    const Setup selectFails = [](KesmarControl &) {
        Fake::script().onSelect = [](uint8_t id) {
            return id == 50 ? -1 : 0;
        };
    };
    const Setup staleReading = [](KesmarControl &w) {
        // Polling runs, but its polls come from the test.
        w.panel().link().setPollInterval(3600 * 1000);
        w.panel().link().resumePolling();
        w.panel().link().poll();
        Fake::script().position.result = -1;
        w.panel().link().poll();
    };
    const Setup reopened = [](KesmarControl &w) {
        w.panel().link().reconnect();
        w.panel().link().stopPolling();
    };
    const Setup storeUnwritable = [](KesmarControl &) {
        QFile::remove(TestSettings::storeFile());
        QVERIFY(QDir().mkpath(TestSettings::storeFile()));
    };
    const QString failed = KesmarBus::errorFailed;
    QTest::newRow("device out of range") << nothing << "SelectDevice" << QVariantList{150} << KesmarBus::errorOutOfRange
                                         << "Device 150 is outside 0..99" << 1;
    QTest::newRow("device selected") << nothing << "SelectDevice" << QVariantList{2} << QString() << QString() << 2;
    QTest::newRow("selection fails: device 1 is driven")
        << selectFails << "SelectDevice" << QVariantList{2} << failed << "Device 2 select failed" << 1;
    QTest::newRow("position when stale") << staleReading << "Position" << QVariantList{} << KesmarBus::errorNoReading
                                         << "is stale" << 1;
    QTest::newRow("position before a reading")
        << reopened << "Position" << QVariantList{} << KesmarBus::errorNoReading << "No reading yet" << 1;
    QTest::newRow("store not saved") << storeUnwritable << "StorePosition" << QVariantList{"A"} << failed
                                     << "Settings not saved" << 1;
    QTest::newRow("store saved") << nothing << "StorePosition" << QVariantList{"A"} << QString() << QString() << 1;
    QTest::newRow("goto out of range") << nothing << "Goto" << QVariantList{0, 20501, 0} << KesmarBus::errorOutOfRange
                                       << "Y 20501 is outside 0..20500" << 1;
    QTest::newRow("unknown position") << nothing << "GotoPosition" << QVariantList{"Nowhere"}
                                      << KesmarBus::errorUnknownPosition << "Nowhere" << 1;
    // Site A is stored for device 1, and device 2 is driven.
    const Setup siteOfDevice1 = [](KesmarControl &w) {
        QVERIFY(w.panel().store(QStringLiteral("Site A"), PositionModel::StoreMatch::NameOnly).ok());
        QVERIFY(w.panel().selectDevice(2).ok());
    };
    QTest::newRow("another device's position")
        << siteOfDevice1 << "GotoPosition" << QVariantList{"Site A"} << failed
        << "Position Site A belongs to device 1, not to device 2: nothing sent" << 2;
    QTest::newRow("another device's name") << siteOfDevice1 << "StorePosition" << QVariantList{"Site A"} << failed
                                           << "Position Site A belongs to device 1: not stored" << 2;
    const Setup zCeiling = [](KesmarControl &w) {
        TravelLimits limits;
        limits.enabled = true;
        limits.max[2] = 15000;
        QVERIFY(w.panel().setLimits(limits).ok());
    };
    QTest::newRow("goto above the ceiling") << zCeiling << "Goto" << QVariantList{0, 0, 16000}
                                            << KesmarBus::errorOutOfRange << "Z 16000 is above the limit 15000" << 1;
    QTest::newRow("limits: a minimum above its maximum")
        << nothing << "SetLimits" << QVariantList{true, 0, 20500, 0, 20500, 9000, 8000} << KesmarBus::errorOutOfRange
        << "Z minimum 9000 is above its maximum 8000" << 1;
    QTest::newRow("retract without a live reading")
        << nothing << "Retract" << QVariantList{} << KesmarBus::errorNoReading << "needs a live reading" << 1;
    QTest::newRow("return before a retract")
        << nothing << "Return" << QVariantList{} << failed << "Nothing to return to" << 1;

    // A zero taken at 1000 2000 3000, the unit read since at 1100 1900 20400.
    const Setup zeroSet = [](KesmarControl &w) {
        w.panel().link().setPollInterval(3600 * 1000);
        w.panel().link().resumePolling();
        Fake::script().position = {0, 1000, 2000, 3000};
        w.panel().link().poll();
        QVERIFY(w.panel().setZero().ok());
        Fake::script().position = {0, 1100, 1900, 20400};
        w.panel().link().poll();
    };
    QTest::newRow("position from the zero")
        << zeroSet << "PositionRelative" << QVariantList{} << QString() << "100 -100 17400" << 1;
    QTest::newRow("position from no zero")
        << staleReading << "PositionRelative" << QVariantList{} << KesmarBus::errorNoReading << "is stale" << 1;
    QTest::newRow("zero without a live reading")
        << nothing << "SetZero" << QVariantList{} << KesmarBus::errorNoReading << "No live position" << 1;
    QTest::newRow("no zero to clear") << nothing << "ClearZero" << QVariantList{} << failed << "No zero set" << 1;
    // The pipette lies along X by default.
    QTest::newRow("an advance past the travel goes not at all")
        << zeroSet << "Advance" << QVariantList{19500.0} << KesmarBus::errorOutOfRange
        << "Advance by 19500 µm not sent: X 20600 is outside 0..20500" << 1;
    QTest::newRow("less than a step") << zeroSet << "Withdraw" << QVariantList{0.4} << KesmarBus::errorOutOfRange
                                      << "Withdraw by 0.4 µm is less than a step" << 1;
    QTest::newRow("a negative distance") << zeroSet << "Withdraw" << QVariantList{-5.0} << KesmarBus::errorOutOfRange
                                         << "above 0" << 1;
}

void TestScriptBridge::answers()
{
    QFETCH(Setup, setup);
    QFETCH(QString, method);
    QFETCH(QVariantList, args);
    QFETCH(QString, error);
    QFETCH(QString, message);
    QFETCH(int, deviceAfter);
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs a session bus: run under dbus-run-session");

    BusPanel panelOnBus;
    KesmarControl &w = panelOnBus.w;
    setup(w);
    const int sent = Fake::count(QStringLiteral("store_mem_position_ext"));

    QDBusInterface panel(KesmarBus::service, KesmarBus::path, KesmarBus::interface);
    const QDBusMessage reply = callAsScript(method, args);
    if (error.isEmpty()) {
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        QStringList values;
        for (const QVariant &value : reply.arguments())
            values << value.toString();
        if (!message.isEmpty())
            QCOMPARE(values.join(' '), message);
    } else {
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), error);
        QVERIFY2(reply.errorMessage().contains(message), qPrintable(reply.errorMessage()));
        // A call answered with an error sent no target.
        QCOMPARE(Fake::count(QStringLiteral("store_mem_position_ext")), sent);
    }
    const QDBusMessage device = panel.call(QStringLiteral("Device"));
    QCOMPARE(device.arguments().value(0).toInt(), deviceAfter);
    QCOMPARE(w.panel().link().device(), deviceAfter);
}

void TestScriptBridge::storeByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message"); // part of the OutOfRange error's text; empty for success

    // Home is stored at the targets; a script's store there adds.
    QTest::newRow("another name at Home's place") << "B" << QString();
    QTest::newRow("empty") << ""
                           << "1 to 200 characters";
    QTest::newRow("201 characters") << QString(201, QLatin1Char('n')) << "at most 200 characters, not 201";
    QTest::newRow("longer than the name field takes") << QString(40000, QLatin1Char('n')) << "not 40000";
    QTest::newRow("a newline") << "Site\nA"
                               << "character 5";
    QTest::newRow("a tab") << "Site\tA"
                           << "character 5";
}

void TestScriptBridge::storeByName()
{
    QFETCH(QString, name);
    QFETCH(QString, message);

    BusPanel panelOnBus;
    KesmarControl &w = panelOnBus.w;
    QVERIFY(w.panel().store(QStringLiteral("Home"), PositionModel::StoreMatch::NameOnly).ok());
    SettingsStore::waitForAllSaves();
    const QByteArray file = TestSettings::readStore();

    const QDBusMessage reply = callAsScript(QStringLiteral("StorePosition"), {name});
    QStringList names;
    for (const Position &p : w.panel().positions().positions())
        names << p.name;
    if (message.isEmpty()) {
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        QCOMPARE(names, QStringList({"Home", name}));
        return;
    }
    QCOMPARE(reply.errorName(), KesmarBus::errorOutOfRange);
    QVERIFY2(reply.errorMessage().contains(message), qPrintable(reply.errorMessage()));
    QCOMPARE(names, QStringList{"Home"});
    SettingsStore::waitForAllSaves();
    QCOMPARE(TestSettings::readStore(), file);
}

// Whoever halts, scripts waiting for arrival hear it on the bus and stop waiting.
void TestScriptBridge::everyHaltIsSignalled_data()
{
    QTest::addColumn<Setup>("halt");
    QTest::newRow("main window's Halt") << Setup([](KesmarControl &w) {
        w.centralWidget()->findChild<QPushButton *>(QStringLiteral("pushButtonHalt"))->click();
    });
    QTest::newRow("pad's Halt") << Setup([](KesmarControl &w) {
        w.findChild<QWidget *>(QStringLiteral("PadDialog"))
            ->findChild<QPushButton *>(QStringLiteral("pushButtonHalt"))
            ->click();
    });
    QTest::newRow("Halt key") << Setup([](KesmarControl &w) {
        // A key reaches a shortcut only in a window that is shown.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::keyClick(&w, Qt::Key_Space);
    });
    QTest::newRow("another script's Halt") << Setup([](KesmarControl &) {
        QDBusInterface(KesmarBus::service, KesmarBus::path, KesmarBus::interface).call(QStringLiteral("Halt"));
    });
}

void TestScriptBridge::everyHaltIsSignalled()
{
    QFETCH(Setup, halt);
    BusPanel panelOnBus;
    KesmarControl &w = panelOnBus.w;
    QDBusInterface panel(KesmarBus::service, KesmarBus::path, KesmarBus::interface);
    QSignalSpy halted(&panel, SIGNAL(Halted()));

    halt(w);

    QTRY_COMPARE_WITH_TIMEOUT(halted.count(), 1, 10000);
}

// Journal(n) gives the last n rows, oldest first; MoveJournaled tells each
// row and each settling with the same fields.
void TestScriptBridge::journal_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QList<qulonglong>>("ids");
    QTest::addColumn<QString>("error");
    QTest::newRow("none") << 0 << QList<qulonglong>{} << QString();
    QTest::newRow("the last two") << 2 << QList<qulonglong>{2, 3} << QString();
    QTest::newRow("more than kept") << 50 << QList<qulonglong>{1, 2, 3} << QString();
    QTest::newRow("negative") << -1 << QList<qulonglong>{} << KesmarBus::errorOutOfRange;
}

void TestScriptBridge::journal()
{
    QFETCH(int, n);
    QFETCH(QList<qulonglong>, ids);
    QFETCH(QString, error);
    BusPanel panelOnBus;
    Journal journal;
    panelOnBus.bridge.setJournal(&journal);
    journaled.clear();
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString signal = QStringLiteral("MoveJournaled");
    QVERIFY(bus.connect(KesmarBus::service, KesmarBus::path, KesmarBus::interface, signal, this,
                        SLOT(onMoveJournaled(QDBusMessage))));
    const auto stopListening = qScopeGuard([&] {
        bus.disconnect(KesmarBus::service, KesmarBus::path, KesmarBus::interface, signal, this,
                       SLOT(onMoveJournaled(QDBusMessage)));
    });

    JournalRow sent;
    sent.device = 2;
    sent.source = JournalRow::Source::Return;
    sent.stage = QStringLiteral("approach");
    sent.before = JournalRow::Xyz{10, 20, 30};
    sent.target = {15, 20, 25};
    JournalRow refused;
    refused.source = JournalRow::Source::Script;
    refused.target = {1, 2, 21000};
    refused.outcome = JournalRow::Outcome::Refused;
    refused.message = QStringLiteral("Z 21000, outside 0..20500");
    journal.record(sent);
    journal.record(refused);
    journal.record(sent);
    const JournalRow first = *journal.row(1);
    QVERIFY(journal.settle(1, JournalRow::End::StoppedShort, {14, 20, 26}));

    // Every field, as the panel keeps it.
    const auto same = [](const JournalRow &a, const JournalRow &b) {
        return a.csvLine() == b.csvLine();
    };
    QTRY_COMPARE_WITH_TIMEOUT(journaled.size(), 4, 10000);
    QVERIFY(same(journaled.at(0), first));
    QVERIFY(same(journaled.at(1), *journal.row(2)));
    QCOMPARE(journaled.at(3).end, JournalRow::End::StoppedShort);
    QVERIFY(same(journaled.at(3), *journal.row(1)));

    QDBusInterface panel(KesmarBus::service, KesmarBus::path, KesmarBus::interface);
    const QDBusMessage reply = panel.call(QStringLiteral("Journal"), n);
    if (!error.isEmpty()) {
        QCOMPARE(reply.errorName(), error);
        return;
    }
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    const JournalRowList rows = qdbus_cast<JournalRowList>(reply.arguments().value(0));
    QList<qulonglong> got;
    for (const JournalRow &row : rows) {
        got << row.id;
        QVERIFY(same(row, *journal.row(row.id)));
    }
    QCOMPARE(got, ids);
}

// kesmar journal against the bridge in this process: the last rows, as text
// or as the files' CSV, and with --follow the rows and ends that come after.
void TestScriptBridge::clientPrintsTheJournal_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("lines");
    const QString time = QStringLiteral("2026-12-08T11:52:01.123Z");
    const QString refused = time + " device 0 script to 1 2 21000: refused (Z 21000, outside 0..20500)";
    const QString sent = time + " device 2 Return (approach) from 10 20 30 to 15 20 25: sent";
    QTest::newRow("the last one") << QStringList{"journal", "-n", "1"} << QStringList{sent};
    QTest::newRow("all, the first ended")
        << QStringList{"journal"} << QStringList{sent + "; stopped short at 14 20 26", refused, sent};
    QTest::newRow("CSV") << QStringList{"journal", "--csv", "-n", "1"}
                         << QStringList{JournalRow::csvHeader(),
                                        "3," + time + ",2,Return,approach,10,20,30,15,20,25,5,0,-5,sent,,,,,,"};
    // The last row, then a new one and the end of the one before.
    QTest::newRow("follow") << QStringList{"journal", "--follow", "-n", "1"}
                            << QStringList{sent, refused, sent + "; halted at 1 1 1"};
}

void TestScriptBridge::clientPrintsTheJournal()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, lines);
    BusPanel panelOnBus;
    Journal journal;
    panelOnBus.bridge.setJournal(&journal);
    JournalRow sent;
    sent.timeMs = QDateTime(QDate(2026, 12, 8), QTime(11, 52, 1, 123), Qt::UTC).toMSecsSinceEpoch();
    sent.device = 2;
    sent.source = JournalRow::Source::Return;
    sent.stage = QStringLiteral("approach");
    sent.before = JournalRow::Xyz{10, 20, 30};
    sent.target = {15, 20, 25};
    JournalRow refused = sent;
    refused.device = 0;
    refused.source = JournalRow::Source::Script;
    refused.stage.clear();
    refused.before.reset();
    refused.target = {1, 2, 21000};
    refused.outcome = JournalRow::Outcome::Refused;
    refused.message = QStringLiteral("Z 21000, outside 0..20500");
    const bool follow = arguments.contains("--follow");
    if (follow) {
        journal.record(sent);
    } else {
        journal.record(sent);
        journal.record(refused);
        journal.record(sent);
        QVERIFY(journal.settle(1, JournalRow::End::StoppedShort, {14, 20, 26}));
    }

    QProcess client;
    client.start(QStringLiteral(KESMAR_CLIENT_PATH), arguments);
    QVERIFY(client.waitForStarted());
    QStringList got;
    const auto readLines = [&] {
        while (client.canReadLine())
            got << QString::fromUtf8(client.readLine()).chopped(1);
        return got.size();
    };
    if (follow) {
        // The client listens before it asks: once the last row is printed,
        // every row after reaches it.
        QTRY_COMPARE_WITH_TIMEOUT(readLines(), 1, 10000);
        journal.record(refused);
        QVERIFY(journal.settle(1, JournalRow::End::Halted, {1, 1, 1}));
        QTRY_COMPARE_WITH_TIMEOUT(readLines(), lines.size(), 10000);
        client.kill();
        QVERIFY(client.waitForFinished());
    } else {
        // Its answer needs this process's event loop: no blocking wait.
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QProcess::NotRunning, 10000);
        QCOMPARE(client.exitCode(), 0);
        readLines();
    }
    QCOMPARE(got, lines);
}

QTEST_MAIN(TestScriptBridge)
#include "tst_scriptbridge.moc"
