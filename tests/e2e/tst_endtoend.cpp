// The program with the real control library, against the simulated unit: it
// opens the port named in its settings, polls, sends the manipulator to its
// target and reads the last target back; the pad jogs by its step and
// advances along the pipette; its journal accounts for every move on the line.
#include "journalcheck.h"
#include "simfixture.h"
#include "testsettings.h"

#include "widgetlookup.h"

#include <QAction>
#include <QComboBox>
#include <QLCDNumber>
#include <QPushButton>
#include <QtTest>

#include <cmath>

namespace {

constexpr int Timeout = 500;
constexpr int Update = 1000;

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSettings::isolate(); }
    void init() { TestSettings::clear(); }

    void gotoMovesTheManipulatorAndRestoreReadsTheTargetBack();
    void padJogAndAdvanceMoveTheUnitByTheStep();
    void theJournalAccountsForTheLine();
};

void TestEndToEnd::gotoMovesTheManipulatorAndRestoreReadsTheTargetBack()
{
    // 2500 steps/s: the move below takes over three seconds, several polling
    // intervals. Reports every 20 ms: each extra poll finds a new one.
    SimProcess sim(E2E::Waits);
    QVERIFY2(sim.start({"--speed", "2500", "--start", "1000,1000,1000", "--report-interval", "20"}),
             qPrintable(sim.lastError()));
    E2E::writeStore(sim.linkPath(), Timeout, Update, false);
    E2E::Program p;
    RUN_STEP(p.start(sim.linkPath()));

    // Polling shows where the unit stands.
    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{1000, 1000, 1000}), E2E::WaitMs);

    // The unit's memory is empty at power-up.
    p.forget();
    p.clickRestore();
    QCOMPARE(p.message(), QStringLiteral("No target position used yet"));

    E2E::PollCounter polls(p.link());
    E2E::ReadoutSampler xs(p.lcd("lcdNumberX"));
    p.setTarget(9000, 6000, 3000);
    p.forget();
    p.clickGoto();
    QCOMPARE(p.message(), QStringLiteral("Goto command sent"));
    QVERIFY(p.link().isPolling());
    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{9000, 6000, 3000}), 30000);
    QVERIFY2(!p.seen(QStringLiteral("Update failed")), qPrintable(p.messages().join(" | ")));

    // While reports come in, polls follow each other 50 ms apart besides the
    // timer: the polling timer alone could have shown at most one
    // intermediate value per tick.
    const int intermediate = xs.between(1000, 9000);
    const int ticks = polls.maxTicks();
    QVERIFY2(
        intermediate > ticks,
        qPrintable(QStringLiteral("%1 intermediate readouts in at most %2 timer ticks").arg(intermediate).arg(ticks)));

    // Restore reads the last target back from the unit.
    p.setTarget(0, 20500, 7);
    p.forget();
    p.clickRestore();
    QCOMPARE(p.target(), (QList<int>{9000, 6000, 3000}));
    QCOMPARE(p.message(), QStringLiteral("Previous target position restored"));
}

void TestEndToEnd::padJogAndAdvanceMoveTheUnitByTheStep()
{
    SimProcess sim(E2E::Waits);
    QVERIFY2(sim.start({"--start", "1000,1000,1000"}), qPrintable(sim.lastError()));
    E2E::writeStore(sim.linkPath(), Timeout, Update, false);
    // Two steps per micrometre; the pipette at 30 degrees, forward on X and down on Z.
    TestSettings::writeStore(TestSettings::readStore()
                             + "[devices]\n1\\scale=2 2 2\n1\\angle=30\n1\\plane=xz\n1\\direction=+-\n");
    E2E::Program p;
    RUN_STEP(p.start(sim.linkPath()));
    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{1000, 1000, 1000}), E2E::WaitMs);

    widget<QAction>(p.window(), QStringLiteral("actionPad"))->trigger();
    widget<QComboBox>(p.window(), QStringLiteral("comboBoxStep"))->setCurrentText(QStringLiteral("100"));
    widget<QPushButton>(p.window(), QStringLiteral("pushButtonXPlus"))->click();
    QCOMPARE(p.message(), QStringLiteral("Goto command sent"));

    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{1100, 1000, 1000}), E2E::WaitMs);
    QCOMPARE(widget<QLCDNumber>(p.window(), QStringLiteral("X"))->intValue(), 1100);

    // In micrometres the step is 100 um: along the pipette that is
    // 100 cos 30 um on X and 100 sin 30 um down on Z, each to the nearest step.
    widget<QAction>(p.window(), QStringLiteral("actionMicrometres"))->trigger();
    widget<QPushButton>(p.window(), QStringLiteral("pushButtonAdvance"))->click();
    const int x = 1100 + int(std::lround(100 * std::cos(M_PI / 6) * 2));
    const int z = 1000 - int(std::lround(100 * std::sin(M_PI / 6) * 2));
    QTRY_COMPARE_WITH_TIMEOUT(p.link().readouts(), (DeviceLink::Xyz{x, 1000, z}), E2E::WaitMs);
    QCOMPARE(widget<QLCDNumber>(p.window(), QStringLiteral("lcdNumberX"))->value(), x / 2.0);
    QCOMPARE(widget<QLCDNumber>(p.window(), QStringLiteral("Z"))->value(), z / 2.0);
}

// Gotos, pad jogs and a Halt, one failed for a lost answer and one refused:
// each move the unit received has its row in the journal, in order, and each
// row that says sent has its move.
void TestEndToEnd::theJournalAccountsForTheLine()
{
    SimProcess sim(E2E::Waits);
    QVERIFY2(sim.start({"--speed", "20000", "--start", "1000,1000,1000"}), qPrintable(sim.lastError()));
    E2E::writeStore(sim.linkPath(), Timeout, 50, false);
    E2E::Program p;
    RUN_STEP(p.start(sim.linkPath()));
    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{1000, 1000, 1000}), E2E::WaitMs);

    const auto gotoAndArrive = [&p](int x, int y, int z) {
        p.setTarget(x, y, z);
        p.clickGoto();
        QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{x, y, z}), E2E::WaitMs);
    };
    RUN_STEP(gotoAndArrive(3000, 4000, 5000));
    widget<QAction>(p.window(), QStringLiteral("actionPad"))->trigger();
    widget<QComboBox>(p.window(), QStringLiteral("comboBoxStep"))->setCurrentText(QStringLiteral("100"));
    widget<QPushButton>(p.window(), QStringLiteral("pushButtonXPlus"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{3100, 4000, 5000}), E2E::WaitMs);
    widget<QPushButton>(p.window(), QStringLiteral("pushButtonZMinus"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{3100, 4000, 4900}), E2E::WaitMs);

    // The store's answer lost: the Goto fails, and the unit never set off.
    p.link().stopPolling();
    QCOMPARE(sim.command(QStringLiteral("drop 1")), QStringLiteral("ok drop 1"));
    p.setTarget(9000, 9000, 9000);
    p.clickGoto();
    QVERIFY2(p.message().startsWith(QStringLiteral("Goto failed - ")), qPrintable(p.message()));
    // Refused by the limits: nothing is sent.
    TravelLimits narrow;
    narrow.enabled = true;
    narrow.max = {8000, 8000, 8000};
    QVERIFY(p.window().panel().setLimits(narrow).ok());
    p.clickGoto();
    QVERIFY(p.window().panel().setLimits(TravelLimits{}).ok());
    p.link().resumePolling();

    RUN_STEP(gotoAndArrive(20000, 20000, 20000));
    p.setTarget(0, 0, 0);
    p.clickGoto();
    widget<QPushButton>(p.window(), QStringLiteral("pushButtonHalt"))->click();
    RUN_STEP(gotoAndArrive(6000, 7000, 8000));

    QCOMPARE(sim.command(QStringLiteral("gotos")), QStringLiteral("ok gotos"));
    QStringList line; // as JournalCheck gives the moves: "device N: X Y Z"
    for (const QString &received : sim.lastOutput()) {
        const QStringList words = received.split(QLatin1Char(' '));
        QCOMPARE(words.size(), 5);
        line << QStringLiteral("device %1: %2 %3 %4").arg(words[1].toInt() - 48).arg(words[2], words[3], words[4]);
    }
    // Goto, two jogs, Goto, Goto, Halt, Goto.
    QCOMPARE(line.size(), 7);
    const Journal &journal = p.window().panel().journal();
    QCOMPARE(journal.size(), 9);
    const QString mismatch = JournalCheck::mismatch(journal, line);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch + " | on the line: " + line.join(" | ")));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
