// Scripts drive the panel: the program with the real library against the
// simulated unit, its scripting interface on a private session bus (the test
// runs under dbus-run-session), and the kesmar client as a separate process.
#include "scriptbridge.h"
#include "simfixture.h"
#include "testsettings.h"
#include "testwindow.h"

#include <QDBusConnection>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A time as kesmar watch prints it: UTC, ISO 8601, milliseconds.
const QString utcTime = QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z");

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs kesmar to its end. The event loop runs meanwhile, so the panel in this
// process answers the client's calls.
Run kesmar(const QStringList &args)
{
    QProcess client;
    QSignalSpy finished(&client, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    client.start(QStringLiteral(KESMAR_CLIENT_PATH), args);
    if (!finished.wait(60000)) {
        client.kill();
        client.waitForFinished();
        return {};
    }
    return {client.exitCode(), QString::fromUtf8(client.readAllStandardOutput()),
            QString::fromUtf8(client.readAllStandardError())};
}

QString describe(const QStringList &args, const Run &run)
{
    return QStringLiteral("kesmar %1: exit %2, out '%3', err '%4'")
        .arg(args.join(' '))
        .arg(run.exitCode)
        .arg(run.out, run.err);
}

} // namespace

// Runs the client and checks its exit status, ending the test if it differs.
#define KESMAR(run, expectedExit, ...)                                                                                 \
    const QStringList run##Args{__VA_ARGS__};                                                                          \
    const Run run = kesmar(run##Args);                                                                                 \
    QVERIFY2(run.exitCode == (expectedExit), qPrintable(describe(run##Args, run)))

class TestScripting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { TestSettings::clear(); }

    void withoutPanelTheClientSaysSo();
    void scriptsDriveThePanel();
    void aSecondPanelLeavesTheNameAlone();
    void watchMarksGapsAndOutlivesThePanel();
    void oneTimeOutAtATime_data();
    void oneTimeOutAtATime();
};

void TestScripting::initTestCase()
{
    TestSettings::isolate();
    qRegisterMetaType<QProcess::ExitStatus>();
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs a session bus of its own: run under dbus-run-session");
}

void TestScripting::withoutPanelTheClientSaysSo()
{
    KESMAR(run, 1, "position");
    QVERIFY2(run.err.contains(QStringLiteral("no panel running")), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

void TestScripting::scriptsDriveThePanel()
{
    SimProcess sim(E2E::Waits);
    QVERIFY2(sim.start({"--speed", "5000", "--start", "100,100,100"}), qPrintable(sim.lastError()));
    E2E::writeStore(sim.linkPath(), 500, 100, false);
    // A name with a line break, as only a file edited by hand can hold.
    TestSettings::writeStore(TestSettings::readStore()
                             + "[positions]\n1\\name=Site\\nA\n1\\x=1\n1\\y=1\n1\\z=1\nsize=1\n");
    E2E::Program p;
    RUN_STEP(p.start(sim.linkPath()));
    auto *bridge = new ScriptBridge(p.window().panel(), &p.window());
    QVERIFY(bridge->registerOnSessionBus());

    {
        // What comes from the bus reaches the terminal with its control characters escaped.
        KESMAR(run, 1, "goto-position", "\x1b[2Jgone");
        QVERIFY2(!run.err.contains(QChar(0x1b)) && run.err.contains("\\u001B[2Jgone"), qPrintable(run.err));
    }
    {
        KESMAR(run, 0, "goto", "1000", "2000", "3000", "--wait");
        QVERIFY(run.out.isEmpty());
    }
    QCOMPARE(sim.command(QStringLiteral("status")), QStringLiteral("ok status"));
    QVERIFY2(sim.lastOutput().contains(QStringLiteral("device 49 1000 2000 3000 stopped")),
             qPrintable(sim.lastOutput().join(" | ")));
    // The window shows what the script did.
    QCOMPARE(p.target(), (QList<int>{1000, 2000, 3000}));
    QCOMPARE(p.readout(), (QList<int>{1000, 2000, 3000}));
    {
        KESMAR(run, 0, "position");
        QCOMPARE(run.out, QStringLiteral("1000 2000 3000\n"));
    }
    {
        KESMAR(run, 0, "state");
        QCOMPARE(run.out, QStringLiteral("reading\n"));
    }

    // Refused, not clamped: nothing is sent and the targets stay.
    {
        KESMAR(run, 1, "goto", "0", "20501", "0");
        QVERIFY2(run.err.contains(QStringLiteral("20501")) && run.err.contains(QStringLiteral("0..20500")),
                 qPrintable(run.err));
    }
    QCOMPARE(p.target(), (QList<int>{1000, 2000, 3000}));

    // A named position stored and recalled by name.
    {
        KESMAR(run, 0, "store", "Slice centre");
    }
    {
        KESMAR(run, 0, "positions");
        QCOMPARE(run.out, QStringLiteral("1 1 1 Site\\u000AA\n1000 2000 3000 Slice centre\n"));
    }
    {
        KESMAR(run, 1, "goto-position", "Nowhere");
        QVERIFY2(run.err.contains(QStringLiteral("Nowhere")), qPrintable(run.err));
    }

    // Every reading while the unit moves, as CSV with a header.
    QProcess watch;
    watch.start(QStringLiteral(KESMAR_CLIENT_PATH), {QStringLiteral("watch"), QStringLiteral("--csv")});
    QTRY_VERIFY_WITH_TIMEOUT(watch.canReadLine(), E2E::WaitMs);
    QCOMPARE(watch.readLine(), QByteArray("time,x,y,z,state\n"));
    QCOMPARE(sim.command(QStringLiteral("move 49 9000 2000 3000")), QStringLiteral("ok move 49 9000 2000 3000"));
    const QRegularExpression row(QStringLiteral("^%1,(\\d+),(\\d+),(\\d+),$").arg(utcTime));
    QStringList rows;
    const auto readRows = [&] {
        while (watch.canReadLine())
            rows << QString::fromUtf8(watch.readLine()).trimmed();
        return !rows.isEmpty() && rows.last().endsWith(QStringLiteral(",9000,2000,3000,"));
    };
    QTRY_VERIFY2_WITH_TIMEOUT(readRows(), qPrintable(rows.join(" | ")), 30000);
    watch.terminate();
    QVERIFY(watch.waitForFinished(E2E::WaitMs));
    QSet<int> xsOnTheWay;
    // The state the watch began in comes first.
    QCOMPARE(rows.takeFirst().section(QLatin1Char(','), 1), QStringLiteral(",,,reading"));
    for (const QString &line : rows) {
        const QRegularExpressionMatch m = row.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        if (m.captured(1).toInt() > 1000 && m.captured(1).toInt() < 9000)
            xsOnTheWay << m.captured(1).toInt();
    }
    QVERIFY2(xsOnTheWay.size() >= 3, qPrintable(rows.join(" | ")));

    // Jogs add up as the pad's do; a halt stops the unit short of its target.
    {
        KESMAR(run, 0, "move", "-100", "0", "50");
    }
    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{8900, 2000, 3050}), E2E::WaitMs);
    {
        KESMAR(run, 0, "goto", "20000", "2000", "3050");
    }
    QTRY_VERIFY_WITH_TIMEOUT(p.readout().at(0) > 10000, E2E::WaitMs);
    {
        KESMAR(run, 0, "halt");
    }
    QTRY_VERIFY_WITH_TIMEOUT(sim.command(QStringLiteral("status")) == QStringLiteral("ok status")
                                 && sim.lastOutput().at(1).endsWith(QStringLiteral("stopped")),
                             E2E::WaitMs);
    const QStringList stopped = sim.lastOutput().at(1).split(' ');
    QVERIFY2(stopped.at(2).toInt() < 20000, qPrintable(sim.lastOutput().join(" | ")));
    QCOMPARE(p.target().at(0), stopped.at(2).toInt());

    // The panel gone, the client says so.
    delete bridge;
    KESMAR(gone, 1, "position");
    QVERIFY2(gone.err.contains(QStringLiteral("no panel running")), qPrintable(gone.err));
}

void TestScripting::aSecondPanelLeavesTheNameAlone()
{
    E2E::writeStore(QStringLiteral("/nonexistent/port"), 100, 1000, false);
    TestWindow window;
    auto *bridge = new ScriptBridge(window.panel(), &window);
    QVERIFY(bridge->registerOnSessionBus());

    // A second panel, a program of its own with a store of its own, finds the
    // name taken and runs on without it.
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    second.setProcessEnvironment(env);
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QStringLiteral(KESMARCONTROL_PATH), QStringList());
    QByteArray log;
    QTRY_VERIFY2_WITH_TIMEOUT((log += second.readAll()).contains("held by another panel"), log.constData(),
                              E2E::WaitMs);
    QCOMPARE(second.state(), QProcess::Running);
    second.terminate();
    QVERIFY(second.waitForFinished(E2E::WaitMs));

    // The first one still answers, and says why it is not connected.
    {
        KESMAR(run, 0, "device");
        QCOMPARE(run.out, QStringLiteral("1\n"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window.panel().lastFailure().isEmpty(), E2E::WaitMs);
    KESMAR(run, 0, "state");
    QVERIFY2(run.out.startsWith(QStringLiteral("not connected\nCan not open /nonexistent/port - ")),
             qPrintable(run.out));
}

void TestScripting::watchMarksGapsAndOutlivesThePanel()
{
    SimProcess sim(E2E::Waits);
    QVERIFY2(sim.start({"--start", "100,100,100"}), qPrintable(sim.lastError()));
    E2E::writeStore(sim.linkPath(), 100, 100, false);
    E2E::Program p;
    RUN_STEP(p.start(sim.linkPath()));
    auto bridge = std::make_unique<ScriptBridge>(p.window().panel());
    QVERIFY(bridge->registerOnSessionBus());

    QProcess watch;
    watch.start(QStringLiteral(KESMAR_CLIENT_PATH), {QStringLiteral("watch"), QStringLiteral("--csv")});
    QStringList states; // the state column of the rows without coordinates
    int readingsSinceState = 0;
    const QRegularExpression stateRow(QStringLiteral("^%1,,,,(.+)$").arg(utcTime));
    const QRegularExpression readingRow(QStringLiteral("^%1,\\d+,\\d+,\\d+,$").arg(utcTime));
    const auto seen = [&](const QStringList &expected, int readings) {
        while (watch.canReadLine()) {
            const QString line = QString::fromUtf8(watch.readLine()).trimmed();
            const QRegularExpressionMatch state = stateRow.match(line);
            if (state.hasMatch()) {
                states << state.captured(1);
                readingsSinceState = 0;
            } else if (readingRow.match(line).hasMatch()) {
                ++readingsSinceState;
            } else if (line != QLatin1String("time,x,y,z,state")) {
                states << QStringLiteral("unexpected line: ") + line;
            }
        }
        return states == expected && readingsSinceState >= readings;
    };
    const auto describe = [&] {
        return states.join(QLatin1Char('|')).toUtf8();
    };

    QTRY_VERIFY2_WITH_TIMEOUT(seen({"reading"}, 2), describe().constData(), E2E::WaitMs);
    // The unit falls silent: the readings stop, and the rows say why.
    QCOMPARE(sim.command(QStringLiteral("quiet on")), QStringLiteral("ok quiet on"));
    QTRY_VERIFY2_WITH_TIMEOUT(seen({"reading", "stale", "stopped"}, 0), describe().constData(), 3 * E2E::WaitMs);
    // The panel goes away and comes back; the watch goes on through it.
    bridge.reset();
    QTRY_VERIFY2_WITH_TIMEOUT(seen({"reading", "stale", "stopped", "panel closed"}, 0), describe().constData(),
                              E2E::WaitMs);
    bridge = std::make_unique<ScriptBridge>(p.window().panel());
    QVERIFY(bridge->registerOnSessionBus());
    QTRY_VERIFY2_WITH_TIMEOUT(seen({"reading", "stale", "stopped", "panel closed", "stopped"}, 0),
                              describe().constData(), E2E::WaitMs);
    QCOMPARE(sim.command(QStringLiteral("quiet off")), QStringLiteral("ok quiet off"));
    p.window().reconnect();
    QTRY_VERIFY2_WITH_TIMEOUT(seen({"reading", "stale", "stopped", "panel closed", "stopped", "waiting", "reading"}, 2),
                              describe().constData(), E2E::WaitMs);
    watch.terminate();
    QVERIFY(watch.waitForFinished(E2E::WaitMs));
}

void TestScripting::oneTimeOutAtATime_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("byClick");
    QTest::newRow("script, answers dropped") << "drop 3" << false;
    QTest::newRow("script, answers cut short") << "truncate 3" << false;
    // The click comes in while the failed poll waits, so the event loop
    // hands it over first thing after it.
    QTest::newRow("click after a failed poll, answers dropped") << "drop 3" << true;
    QTest::newRow("click after a failed poll, answers cut short") << "truncate 3" << true;
}

// Lost answers met by polling and by a script's Goto or a click on Goto: the
// event loop runs between any two library calls, so it is never held up for
// two time-outs in a row. The bound lies well above one time-out and
// scheduling noise, and below two time-outs.
void TestScripting::oneTimeOutAtATime()
{
    QFETCH(QString, fault);
    QFETCH(bool, byClick);
    constexpr int timeout = 500;
    constexpr int gotos = 9;
    SimProcess sim(E2E::Waits);
    QVERIFY2(sim.start({"--speed", "20000", "--seed", "7"}), qPrintable(sim.lastError()));
    E2E::writeStore(sim.linkPath(), timeout, 20, false);
    E2E::Program p;
    RUN_STEP(p.start(sim.linkPath()));
    ScriptBridge bridge(p.window().panel());
    QVERIFY(bridge.registerOnSessionBus());

    E2E::StallMeter stalls;
    int failedGotos = 0;
    if (byClick) {
        int clicks = 0;
        connect(&p.window().panel(), &Panel::reported, this, [&](const ActResult &result, Panel::About about) {
            failedGotos += !result.ok() && about == Panel::About::Move;
        });
        connect(&p.link(), &DeviceLink::pollFailed, this, [&] {
            const int to = 2000 + 1000 * clicks++;
            QMetaObject::invokeMethod(
                this,
                [&p, to] {
                    p.setTarget(to, to, to);
                    p.clickGoto();
                },
                Qt::QueuedConnection);
        });
        for (int i = 0; i < gotos; ++i) {
            QCOMPARE(sim.command(fault), "ok " + fault);
            const int before = clicks;
            QTRY_VERIFY_WITH_TIMEOUT(clicks > before, E2E::WaitMs);
        }
        disconnect(&p.link(), &DeviceLink::pollFailed, this, nullptr);
        // The last click has gone out.
        QTRY_VERIFY_WITH_TIMEOUT(p.link().mayCall(), E2E::WaitMs);
        disconnect(&p.window().panel(), &Panel::reported, this, nullptr);
    } else {
        for (int i = 0; i < gotos; ++i) {
            QCOMPARE(sim.command(fault), "ok " + fault);
            const QString to = QString::number(2000 + 1000 * i);
            const QStringList args{QStringLiteral("goto"), to, to, to};
            // Sent, or failed for a lost answer.
            const Run run = kesmar(args);
            QVERIFY2(run.exitCode == 0 || run.exitCode == 1, qPrintable(describe(args, run)));
            failedGotos += run.exitCode;
        }
    }
    QCOMPARE(sim.command(QStringLiteral("clear")), QStringLiteral("ok clear"));
    qInfo("%d of %d Gotos failed; longest stall %lld ms", failedGotos, gotos, stalls.longestMs());
    // The Gotos met the lost answers.
    QVERIFY(failedGotos > 0);
    QVERIFY2(stalls.longestMs() < timeout * 19 / 10, qPrintable(QString::number(stalls.longestMs())));
}

QTEST_MAIN(TestScripting)
#include "tst_scripting.moc"
