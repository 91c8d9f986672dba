// The program with the real control library, against the simulated unit: it
// opens the port named in its settings, polls, sends the manipulator to its
// target and reads the last target back.
#include "simfixture.h"
#include "testsettings.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLCDNumber>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

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
    void padJogMovesTheUnitByTheStep();
};

void TestEndToEnd::gotoMovesTheManipulatorAndRestoreReadsTheTargetBack()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // 2500 steps/s: the move below takes over three seconds, several polling
    // intervals. Reports every 20 ms: each extra poll finds a new one.
    E2E::Simulator sim(dir.filePath(QStringLiteral("unit")));
    QVERIFY2(sim.start({"--speed", "2500", "--start", "1000,1000,1000", "--report-interval", "20"}),
             qPrintable(sim.lastError()));
    E2E::writeStore(sim.link(), Timeout, Update, false);
    E2E::Program p;
    E2E_DO(p.start(sim.link()));

    // Polling shows where the unit stands.
    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{1000, 1000, 1000}), E2E::WaitMs);

    // The unit's memory is empty at power-up.
    p.forget();
    p.clickRestore();
    QCOMPARE(p.message(), QStringLiteral("No target position used yet"));

    E2E::TickCounter ticks(p.timer());
    E2E::ReadoutSampler xs(p.lcd("lcdNumberX"));
    p.setTarget(9000, 6000, 3000);
    p.forget();
    p.clickGoto();
    QCOMPARE(p.message(), QStringLiteral("Goto command sent"));
    QVERIFY(p.timer().isActive());
    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{9000, 6000, 3000}), 30000);
    QVERIFY2(!p.seen(QStringLiteral("Update failed")), qPrintable(p.messages().join(" | ")));

    // While reports come in, polls follow each other 50 ms apart besides the
    // timer: the polling timer alone could have shown at most one
    // intermediate value per tick.
    const int intermediate = xs.between(1000, 9000);
    QVERIFY2(
        intermediate > ticks.count(),
        qPrintable(QStringLiteral("%1 intermediate readouts in %2 timer ticks").arg(intermediate).arg(ticks.count())));

    // Restore reads the last target back from the unit.
    p.setTarget(0, 20500, 7);
    p.forget();
    p.clickRestore();
    QCOMPARE(p.target(), (QList<int>{9000, 6000, 3000}));
    QCOMPARE(p.message(), QStringLiteral("Previous target position restored"));
}

void TestEndToEnd::padJogMovesTheUnitByTheStep()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    E2E::Simulator sim(dir.filePath(QStringLiteral("unit")));
    QVERIFY2(sim.start({"--start", "1000,1000,1000"}), qPrintable(sim.lastError()));
    E2E::writeStore(sim.link(), Timeout, Update, false);
    E2E::Program p;
    E2E_DO(p.start(sim.link()));
    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{1000, 1000, 1000}), E2E::WaitMs);

    p.window().findChild<QAction *>(QStringLiteral("actionPad"))->trigger();
    auto *pad = p.window().findChild<QDialog *>(QStringLiteral("PadDialog"));
    pad->findChild<QComboBox *>(QStringLiteral("comboBoxStep"))->setCurrentText(QStringLiteral("100"));
    pad->findChild<QPushButton *>(QStringLiteral("pushButtonXPlus"))->click();
    QCOMPARE(p.message(), QStringLiteral("Goto command sent"));

    QTRY_COMPARE_WITH_TIMEOUT(p.readout(), (QList<int>{1100, 1000, 1000}), E2E::WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(pad->findChild<QLCDNumber *>(QStringLiteral("X"))->intValue(), 1100, E2E::WaitMs);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
