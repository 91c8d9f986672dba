// The program with the real control library, against the simulated unit: it
// opens the port named in its settings, polls, sends the manipulator to its
// target and reads the last target back; the pad jogs by its step and
// advances along the pipette.
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

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
