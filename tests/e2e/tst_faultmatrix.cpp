// Faults on the line and at the port, with the program and the real control
// library against the simulated unit. For each fault: nothing crashes, no
// call holds the event loop much past the time-out, the failure reaches the
// operator as the program's message, and the program recovers without moving
// the unit: polling goes on through a failed answer with the readouts greyed
// until the next good one, and once polling has stopped one click on the
// connection indicator, or OK in the Settings dialog, reopens the port.
#include "simfixture.h"
#include "testsettings.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLCDNumber>
#include <QLineEdit>
#include <QSpinBox>
#include <QtTest>

#include <memory>

namespace {

constexpr int Timeout = 500;
constexpr int Update = 250;
// Longest stall of the event loop allowed: one library call that waits its
// whole time-out, plus a generous margin for a loaded machine.
constexpr int StallBound = Timeout + 2000;
constexpr int Dev1 = 49; // the program's default device 1
using State = DeviceLink::State;

// How much the program's memory may grow while the line floods it: the
// library keeps a bounded amount of unread input, whatever the line sends.
constexpr qint64 FloodGrowthBound = 32 * 1024 * 1024;
constexpr int FloodMs = 4000;
#ifdef __SANITIZE_ADDRESS__
constexpr bool MemoryIsQuarantined = true;
#else
constexpr bool MemoryIsQuarantined = false;
#endif

// This process's resident memory in bytes, from /proc.
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * 4096 : -1;
}

const QStringList FastUnit{"--speed", "20000", "--seed", "7"};

enum class Loss
{
    Kill, // the simulator dies without clean-up: its link is left dangling
    Stop, // it stops cleanly and removes its link: the port is gone
    Reopen, // it replaces its terminal: the link follows, the old one hangs up
};

} // namespace

Q_DECLARE_METATYPE(Loss)

class TestFaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSettings::isolate(); }
    void init();
    void cleanup();

    void lineFault_data();
    void lineFault();
    void pcModeMismatch_data();
    void pcModeMismatch();
    void portLost_data();
    void portLost();
    void hangupDuringGoto();
    void flood_data();
    void flood();

private:
    void startBoth(const QStringList &simArguments, bool pcmode = false);
    void expectPollingWorks();
    void expectGotoWorks(int x, int y, int z);
    void expectUpdateFailed(const QString &start);
    void reopenBySettings(const QString &port = {});
    void reconnectUntilReading();

    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<E2E::Program> p;
    int moves = 0;
};

void TestFaultMatrix::init()
{
    TestSettings::clear();
    sim = std::make_unique<SimProcess>(E2E::Waits);
    p = std::make_unique<E2E::Program>();
}

void TestFaultMatrix::cleanup()
{
    p.reset();
    sim.reset();
}

void TestFaultMatrix::startBoth(const QStringList &simArguments, bool pcmode)
{
    QVERIFY2(sim->start(simArguments), qPrintable(sim->lastError()));
    E2E::writeStore(sim->linkPath(), Timeout, Update, pcmode);
    RUN_STEP(p->start(sim->linkPath()));
    QTRY_COMPARE_WITH_TIMEOUT(p->readout(), (QList<int>{10250, 10250, 10250}), E2E::WaitMs);
}

// A move from the unit's front panel shows in the readouts: polling runs and
// its answers are read right.
void TestFaultMatrix::expectPollingWorks()
{
    ++moves;
    const QList<int> there{1000 + 100 * moves, 2000 + 100 * moves, 3000 + 100 * moves};
    const QString move = QStringLiteral("move %1 %2 %3 %4").arg(Dev1).arg(there[0]).arg(there[1]).arg(there[2]);
    QCOMPARE(sim->command(move), "ok " + move);
    QTRY_COMPARE_WITH_TIMEOUT(p->readout(), there, E2E::WaitMs);
}

void TestFaultMatrix::expectGotoWorks(int x, int y, int z)
{
    p->setTarget(x, y, z);
    p->forget();
    p->clickGoto();
    QCOMPARE(p->message(), QStringLiteral("Goto command sent"));
    QVERIFY(p->link().isPolling());
    QTRY_COMPARE_WITH_TIMEOUT(p->readout(), (QList<int>{x, y, z}), E2E::WaitMs);
}

void TestFaultMatrix::expectUpdateFailed(const QString &start)
{
    // The message may go with the next good poll: it is caught as it is shown.
    QString text;
    QTRY_VERIFY2_WITH_TIMEOUT(p->seen(QStringLiteral("Update failed - "), &text), qPrintable(p->messages().join(" | ")),
                              E2E::WaitMs);
    QVERIFY2(text.startsWith(start), qPrintable(text));
}

// OK in the Settings dialog with a changed port, or else a changed time-out:
// either makes the action close the port and open it again.
void TestFaultMatrix::reopenBySettings(const QString &port)
{
    p->forget();
    RUN_STEP(p->acceptSettings([port](QDialog *dialog) {
        if (!port.isEmpty()) {
            auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("port"));
            QVERIFY(edit);
            QVERIFY(edit->text() != port);
            edit->setText(port);
            return;
        }
        auto *timeout = dialog->findChild<QSpinBox *>(QStringLiteral("timeout"));
        QVERIFY(timeout);
        timeout->setValue(timeout->value() == Timeout ? Timeout + 50 : Timeout);
    }));
}

// Answers still on their way make the first reconnects fail; the operator
// tries again until one goes through: by the indicator, or by naming the port
// in Settings where a failed open has replaced it.
void TestFaultMatrix::reconnectUntilReading()
{
    const QString link = sim->linkPath();
    QElapsedTimer trying;
    trying.start();
    while (p->state() != State::Reading && trying.elapsed() < E2E::WaitMs) {
        if (p->state() == State::Stopped) {
            p->clickIndicator();
        } else if (p->state() == State::NotConnected) {
            RUN_STEP(p->acceptSettings([link](QDialog *dialog) {
                auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("port"));
                QVERIFY(edit);
                edit->setText(link);
            }));
        }
        // Stale: polling goes on by itself; waiting: the first reading comes by itself.
        QTRY_VERIFY_WITH_TIMEOUT(p->state() != State::Stale && p->state() != State::Waiting, E2E::WaitMs);
    }
    QVERIFY2(p->state() == State::Reading, qPrintable(p->messages().join(" | ")));
}

void TestFaultMatrix::lineFault_data()
{
    QTest::addColumn<QString>("fault");
    // The "Update failed - " message, or its start where the decoder may or
    // may not have seen damage; empty: the fault is absorbed.
    QTest::addColumn<QString>("failure");
    // Whether a late answer may still be on its way when polling resumes.
    QTest::addColumn<bool>("lateAnswer");

    const QString noAnswer = QStringLiteral("Update failed - no answer from device 1 within %1 ms").arg(Timeout);
    QTest::newRow("answer corrupted") << "corrupt 1" << noAnswer << false;
    QTest::newRow("answer cut short") << "truncate 1" << noAnswer << false;
    QTest::newRow("answer dropped") << "drop 1" << noAnswer << false;
    QTest::newRow("answer from another device") << "wrong-id 1" << noAnswer + " (device 0 answered instead)" << false;
    QTest::newRow("answer delayed past the time-out") << "delay 2000" << noAnswer << true;
    QTest::newRow("garbage on the line") << "garbage 4000"
                                         << "" << false;
    QTest::newRow("noise before every answer") << "noise 40"
                                               << "" << false;
    QTest::newRow("answers delayed within the time-out") << "delay 100"
                                                         << "" << false;
}

void TestFaultMatrix::lineFault()
{
    QFETCH(QString, fault);
    QFETCH(QString, failure);
    QFETCH(bool, lateAnswer);
    RUN_STEP(startBoth(FastUnit));

    E2E::StallMeter stalls;
    E2E::PollCounter polls(p->link());
    E2E::StateRecorder states(p->window());
    p->forget();
    // Only polls run now, so the fault meets a position query.
    QCOMPARE(sim->command(fault), "ok " + fault);

    if (failure.isEmpty()) {
        // Absorbed: polling goes on through the fault, and so does Goto.
        QTRY_VERIFY_WITH_TIMEOUT(polls.count() >= 4, E2E::WaitMs);
        RUN_STEP(expectPollingWorks());
        RUN_STEP(expectGotoWorks(12000, 13000, 14000));
        QVERIFY2(!p->seen(QStringLiteral("Update failed")), qPrintable(p->messages().join(" | ")));
        QCOMPARE(states.changes(), QStringList());
    } else {
        RUN_STEP(expectUpdateFailed(failure));
        // A failed poll leaves the readouts' values alone.
        QCOMPARE(p->readout(), (QList<int>{10250, 10250, 10250}));
        if (lateAnswer) {
            // Answers held back past the time-out fail poll after poll until
            // polling stops; once the line is clean, the indicator reconnects.
            QTRY_COMPARE_WITH_TIMEOUT(p->state(), State::Stopped, E2E::WaitMs);
            QCOMPARE(states.changes(), QStringList({"Stale greyed", "Stopped greyed"}));
            QCOMPARE(sim->command("clear"), QString("ok clear"));
            RUN_STEP(reconnectUntilReading());
        } else {
            // Polling goes on: the readouts are greyed until the next good
            // poll, then live again and the failure message gone, with no
            // operator action.
            QTRY_COMPARE_WITH_TIMEOUT(states.changes(), QStringList({"Stale greyed", "Reading live"}), E2E::WaitMs);
            QVERIFY2(!p->message().startsWith(QStringLiteral("Update failed")), qPrintable(p->message()));
            QCOMPARE(sim->command("clear"), QString("ok clear"));
        }
        QVERIFY(p->link().isPolling());
        RUN_STEP(expectPollingWorks());
        RUN_STEP(expectGotoWorks(12000, 13000, 14000));
    }
    QVERIFY2(stalls.longestMs() < StallBound, qPrintable(QString::number(stalls.longestMs())));
}

void TestFaultMatrix::pcModeMismatch_data()
{
    QTest::addColumn<bool>("programPcMode");
    QTest::addColumn<bool>("unitPcMode");
    // Extra polls come from reports taken outside PC mode, and in every mode
    // from readings that change: the readouts follow a move from its start.
    QTest::addColumn<bool>("extraPolls");

    QTest::newRow("both outside PC mode") << false << false << true;
    QTest::newRow("program in PC mode, unit not") << true << false << true;
    QTest::newRow("unit in PC mode, program not") << false << true << true;
    QTest::newRow("both in PC mode") << true << true << true;
}

void TestFaultMatrix::pcModeMismatch()
{
    QFETCH(bool, programPcMode);
    QFETCH(bool, unitPcMode);
    QFETCH(bool, extraPolls);
    // A move of 8000 steps at 4000 steps/s spans several polling intervals;
    // outside PC mode the unit reports every 20 ms while it moves.
    RUN_STEP(startBoth({"--speed", "4000", "--report-interval", "20"}, programPcMode));
    const QString mode = unitPcMode ? QStringLiteral("pcmode on") : QStringLiteral("pcmode off");
    QCOMPARE(sim->command(mode), "ok " + mode);

    E2E::StallMeter stalls;
    E2E::ReadoutSampler xs(p->lcd("lcdNumberX"));
    E2E::PollCounter polls(p->link());
    RUN_STEP(expectGotoWorks(2250, 10250, 10250));
    QVERIFY2(!p->seen(QStringLiteral("Update failed")), qPrintable(p->messages().join(" | ")));

    // Each readout comes from one poll. Without extra polls there are no
    // more polls, and so no more intermediate readouts, than timer ticks.
    const int intermediate = xs.between(10250, 2250);
    const int ticks = polls.maxTicks();
    const QString figures = QStringLiteral("%1 intermediate readouts, %2 polls in at most %3 ticks")
                                .arg(intermediate)
                                .arg(polls.count())
                                .arg(ticks);
    if (extraPolls)
        QVERIFY2(intermediate > ticks, qPrintable(figures));
    else
        QVERIFY2(polls.count() <= ticks, qPrintable(figures));
    QVERIFY2(stalls.longestMs() < StallBound, qPrintable(QString::number(stalls.longestMs())));
}

void TestFaultMatrix::portLost_data()
{
    QTest::addColumn<Loss>("loss");
    QTest::newRow("simulator killed while polling") << Loss::Kill;
    QTest::newRow("port removed, then created again") << Loss::Stop;
    QTest::newRow("terminal replaced") << Loss::Reopen;
}

void TestFaultMatrix::portLost()
{
    QFETCH(Loss, loss);
    // A slow move keeps polls going at the timer and in between.
    RUN_STEP(startBoth({"--speed", "4000"}));
    QCOMPARE(sim->command("move 49 0 0 0"), QString("ok move 49 0 0 0"));
    QTRY_VERIFY_WITH_TIMEOUT(p->readout().value(0) < 9000, E2E::WaitMs);
    const QString link = sim->linkPath();

    E2E::StallMeter stalls;
    p->forget();
    switch (loss) {
    case Loss::Kill:
        QVERIFY(sim->kill());
        break;
    case Loss::Stop:
        QVERIFY(sim->stop());
        QVERIFY(!QFileInfo(link).isSymLink());
        break;
    case Loss::Reopen: {
        const QString answer = sim->command("reopen");
        QVERIFY2(answer.startsWith("ok reopen /"), qPrintable(answer));
        break;
    }
    }
    const QString gone = "Update failed - " + link + " went away; reconnect";
    RUN_STEP(expectUpdateFailed(gone));
    // Polls fail until polling stops; the readouts stay greyed.
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), State::Stopped, E2E::WaitMs);
    QVERIFY(!p->lcd("lcdNumberX")->isEnabled());
    const QList<int> frozen = p->readout();

    // The connection stays lost: Goto reports it and starts polling, which
    // fails again and stops; the Goto failure stays in view.
    p->forget();
    p->clickGoto();
    const QString gotoFailed = p->message();
    QCOMPARE(gotoFailed, "Goto failed - " + link + " went away; reconnect");
    QVERIFY(p->link().isPolling());
    QTRY_VERIFY_WITH_TIMEOUT(!p->link().isPolling(), E2E::WaitMs);
    QCOMPARE(p->message(), gotoFailed);
    QCOMPARE(p->readout(), frozen);

    switch (loss) {
    case Loss::Kill:
        // The unit is back under the same port: OK in Settings with nothing
        // changed opens it again.
        QVERIFY2(sim->start(FastUnit), qPrintable(sim->lastError()));
        p->forget();
        RUN_STEP(p->acceptSettings([](QDialog *) {}));
        break;
    case Loss::Stop: {
        // Reopening while the port is missing fails and keeps the port name;
        // once the port is back, the next reopen opens it.
        RUN_STEP(reopenBySettings());
        const QString text = p->message();
        QCOMPARE(text, "Can not open " + link + " - no such port");
        QVERIFY(!p->link().isPolling());
        QCOMPARE(p->link().portSettings().port, link);
        QVERIFY2(sim->start(FastUnit), qPrintable(sim->lastError()));
        RUN_STEP(reopenBySettings());
        break;
    }
    case Loss::Reopen:
        // Unplugged and plugged in again: one click on the indicator.
        p->forget();
        p->clickIndicator();
        break;
    }
    QCOMPARE(p->message(), link + " opened");
    QVERIFY(p->link().isPolling());
    // A restarted unit stands at its start position again; the replaced
    // terminal leads to the same unit, which went on with its move.
    QTRY_COMPARE_WITH_TIMEOUT(
        p->readout(), loss == Loss::Reopen ? (QList<int>{0, 0, 0}) : (QList<int>{10250, 10250, 10250}), E2E::WaitMs);
    RUN_STEP(expectPollingWorks());
    RUN_STEP(expectGotoWorks(4000, 5000, 6000));
    QVERIFY2(stalls.longestMs() < StallBound, qPrintable(QString::number(stalls.longestMs())));
}

void TestFaultMatrix::hangupDuringGoto()
{
    RUN_STEP(startBoth(FastUnit));
    // Polling is stopped so that the goto's request is the next one the unit
    // gets; the unit is at rest, so no extra poll is pending either.
    p->link().stopPolling();
    QCOMPARE(sim->command("hangup-next"), QString("ok hangup-next"));

    E2E::StallMeter stalls;
    p->setTarget(3000, 4000, 5000);
    p->forget();
    p->clickGoto();
    const QString gotoFailed = p->message();
    QVERIFY2(gotoFailed.startsWith("Goto failed - "), qPrintable(gotoFailed));
    QVERIFY(p->link().isPolling());
    QVERIFY(sim->waitForExit());
    // The polls that follow fail until polling stops, and none of them
    // replaces the Goto failure.
    QTRY_COMPARE_WITH_TIMEOUT(p->state(), State::Stopped, E2E::WaitMs);
    QCOMPARE(p->message(), gotoFailed);
    QVERIFY2(!p->seen(QStringLiteral("Update failed")), qPrintable(p->messages().join(" | ")));
    QCOMPARE(p->readout(), (QList<int>{10250, 10250, 10250}));
    // A failed read-back shows only that there is nothing to restore.
    p->forget();
    p->clickRestore();
    QCOMPARE(p->message(), QStringLiteral("No target position used yet"));
    QCOMPARE(p->target(), (QList<int>{3000, 4000, 5000}));

    // Plugged in again: one click on the indicator.
    QVERIFY2(sim->start(FastUnit), qPrintable(sim->lastError()));
    p->forget();
    p->clickIndicator();
    QCOMPARE(p->message(), sim->linkPath() + " opened");
    RUN_STEP(expectPollingWorks());
    RUN_STEP(expectGotoWorks(3000, 4000, 5000));
    QVERIFY2(stalls.longestMs() < StallBound, qPrintable(QString::number(stalls.longestMs())));
}

void TestFaultMatrix::flood_data()
{
    QTest::addColumn<bool>("polling");
    QTest::newRow("flood while polling") << true;
    QTest::newRow("flood while polling is stopped") << false;
}

// The line saturated with reports: no call holds the event loop past its
// bound, the program's memory stays flat, and once the flood ends polling and
// Goto work as before.
void TestFaultMatrix::flood()
{
    QFETCH(bool, polling);
    RUN_STEP(startBoth(FastUnit));
    if (!polling)
        p->link().stopPolling();

    const qint64 before = residentBytes();
    QVERIFY(before > 0);
    E2E::StallMeter stalls;
    QCOMPARE(sim->command("flood on"), QString("ok flood on"));
    QElapsedTimer flooding;
    flooding.start();
    QTRY_VERIFY_WITH_TIMEOUT(flooding.elapsed() >= FloodMs, FloodMs * 3);
    const qint64 growth = residentBytes() - before;
    QCOMPARE(sim->command("flood off"), QString("ok flood off"));

    // AddressSanitizer holds freed memory back for a while, so the churn of
    // polls under a flood raises its resident size without any leak.
    if (!polling || !MemoryIsQuarantined)
        QVERIFY2(growth < FloodGrowthBound, qPrintable(QString::number(growth)));
    QVERIFY2(stalls.longestMs() < StallBound, qPrintable(QString::number(stalls.longestMs())));
    if (polling)
        QVERIFY2(p->state() != State::NotConnected, qPrintable(p->messages().join(" | ")));
    else
        p->link().resumePolling();
    // The reports still in the terminal are read away, and polling resumes
    // by itself or through the indicator.
    RUN_STEP(reconnectUntilReading());
    RUN_STEP(expectPollingWorks());
    RUN_STEP(expectGotoWorks(12000, 13000, 14000));
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
