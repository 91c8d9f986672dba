// A pipette change against the simulator, with the real library: Retract
// takes the unit out along Z alone; after a move sideways, Return goes over
// sideways first and then in along Z, stopping the approach distance short.
// The order of the axes is read from the program's readings. A stage the
// unit stops short of ends the plan for good: when the front panel then
// takes the unit to the stage's target, the simulator receives no move.
#include "runstep.h"
#include "simprocess.h"
#include "testsettings.h"
#include "testwindow.h"
#include "widgetlookup.h"

#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

using Xyz = DeviceLink::Xyz;

// Which axes changed between one distinct reading and the next, as runs of
// the same axes: e.g. {"Z", "XY", "Z"}.
QStringList axisRuns(const QList<Xyz> &readings)
{
    QStringList runs;
    for (int i = 1; i < readings.size(); ++i) {
        QString moved;
        for (int axis = 0; axis < 3; ++axis) {
            if (readings[i][axis] != readings[i - 1][axis])
                moved += QChar(u'X' + axis);
        }
        if (moved.isEmpty())
            continue;
        // X and Y move together; one that arrives first leaves the other
        // moving alone for a while: the same stage.
        if (moved != QLatin1String("Z"))
            moved = QStringLiteral("XY");
        if (runs.isEmpty() || runs.last() != moved)
            runs << moved;
    }
    return runs;
}

// The program against `sim`, with ordered moves out along Z, upwards, and
// the rest of the limits from `limits`; once its readings are live.
void startProgram(std::unique_ptr<TestWindow> &w, const SimProcess &sim, const QString &limits)
{
    TestSettings::writeStore(QStringLiteral("[settings]\nport=%1\ndev=1\ntimeout=100\nupdate=50\n"
                                            "[limits]\nenabled=true\nxmin=0\nxmax=20500\nymin=0\nymax=20500\n"
                                            "ordered=true\naxis=Z\noutward=up\n%2")
                                 .arg(sim.linkPath(), limits)
                                 .toUtf8());
    w = std::make_unique<TestWindow>();
    QTRY_COMPARE_WITH_TIMEOUT(w->panel().link().state(), DeviceLink::State::Reading, SimProcess::ReactionMs);
}

} // namespace

class TestRetractReturn : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSettings::isolate(); }

    void pipetteChange()
    {
        SimProcess sim(SimProcess::Waits::EventLoop);
        QVERIFY2(sim.start({QStringLiteral("--speed"), QStringLiteral("10000"), QStringLiteral("--start"),
                            QStringLiteral("12000,9000,6000")}),
                 qPrintable(sim.lastError()));
        std::unique_ptr<TestWindow> w;
        RUN_STEP(startProgram(w, sim, QStringLiteral("zmin=2000\nzmax=19000\nsafe=16000\napproach=300\n")));

        QList<Xyz> readings;
        connect(&w->panel().link(), &DeviceLink::positionRead, this, [&](int x, int y, int z) {
            if (readings.isEmpty() || readings.last() != Xyz{x, y, z})
                readings << Xyz{x, y, z};
        });
        std::optional<ActResult> ended;
        connect(&w->panel().plans(), &MovePlans::finished, this, [&](const ActResult &r) { ended = r; });
        const auto runToEnd = [&](const char *button, const Xyz &arrival) {
            readings = {*w->panel().link().liveReading()};
            ended.reset();
            widget<QPushButton>(*w, QString::fromLatin1(button))->click();
            QTRY_VERIFY_WITH_TIMEOUT(ended.has_value(), 30000);
            QVERIFY2(ended->ok(), qPrintable(ended->message));
            QCOMPARE(readings.last(), arrival);
        };

        RUN_STEP(runToEnd("pushButtonRetract", Xyz{12000, 9000, 16000}));
        QCOMPARE(axisRuns(readings), QStringList{"Z"});
        // The simulator's own account of where the unit stands.
        sim.command(QStringLiteral("status"));
        QVERIFY2(sim.lastOutput().contains(QStringLiteral("device 49 12000 9000 16000 stopped")),
                 qPrintable(sim.lastOutput().join('\n')));

        // The new pipette is put in over another place of the dish.
        QVERIFY(w->panel().gotoTargets(3000, 4000, 16000).ok());
        QTRY_COMPARE_WITH_TIMEOUT(w->panel().link().liveReading(), std::optional<Xyz>(Xyz{3000, 4000, 16000}), 30000);

        RUN_STEP(runToEnd("pushButtonReturn", Xyz{12000, 9000, 6300}));
        QCOMPARE(axisRuns(readings), (QStringList{"XY", "Z"}));
        sim.command(QStringLiteral("status"));
        QVERIFY2(sim.lastOutput().contains(QStringLiteral("device 49 12000 9000 6300 stopped")),
                 qPrintable(sim.lastOutput().join('\n')));

        // From deep in again, a Goto goes out first, over, and in.
        readings = {*w->panel().link().liveReading()};
        ended.reset();
        QVERIFY(w->panel().gotoTargets(8000, 8000, 7000).ok());
        QTRY_VERIFY_WITH_TIMEOUT(ended.has_value(), 30000);
        QVERIFY2(ended->ok(), qPrintable(ended->message));
        QCOMPARE(axisRuns(readings), (QStringList{"Z", "XY", "Z"}));
    }

    void stoppedStageStaysStopped()
    {
        SimProcess sim(SimProcess::Waits::EventLoop);
        // The simulator logs every frame it receives on its standard error.
        sim.process().setProcessChannelMode(QProcess::SeparateChannels);
        QVERIFY2(sim.start({QStringLiteral("--verbose"), QStringLiteral("--speed"), QStringLiteral("2000"),
                            QStringLiteral("--start"), QStringLiteral("3000,4000,10000")}),
                 qPrintable(sim.lastError()));
        std::unique_ptr<TestWindow> w;
        RUN_STEP(startProgram(
            w, sim, QStringLiteral("zmin=0\nzmax=20500\nsafe=18000\napproach=500\nretract1=12000 12000 10000\n")));
        std::optional<ActResult> ended;
        connect(&w->panel().plans(), &MovePlans::finished, this, [&](const ActResult &r) { ended = r; });
        const auto movesReceived = [&sim] {
            const QString log = QString::fromLocal8Bit(sim.process().readAllStandardError());
            return log.count(QStringLiteral("(store memory position)"))
                + log.count(QStringLiteral("(go to memory position)"));
        };

        // The retract stage sets off for Z 18000; the front panel stops the
        // unit on its way, at Z 14655.
        widget<QPushButton>(*w, QStringLiteral("pushButtonReturn"))->click();
        QCOMPARE(w->panel().plans().stage(), QStringLiteral("retract"));
        QCOMPARE(sim.command(QStringLiteral("move 49 3000 4000 14655")), QStringLiteral("ok move 49 3000 4000 14655"));
        QTRY_VERIFY_WITH_TIMEOUT(ended.has_value(), 30000);
        QCOMPARE(ended->message,
                 QStringLiteral("Return stopped in the retract stage at 3000 4000 14655: the unit stopped short"));
        QCOMPARE(w->panel().plans().stage(), QString());
        QVERIFY(movesReceived() > 0);

        // The front panel completes the stage; the unit stays where it took it.
        QCOMPARE(sim.command(QStringLiteral("move 49 3000 4000 18000")), QStringLiteral("ok move 49 3000 4000 18000"));
        QTRY_COMPARE_WITH_TIMEOUT(w->panel().link().liveReading(), std::optional<Xyz>(Xyz{3000, 4000, 18000}), 30000);
        int polls = 0;
        connect(&w->panel().link(), &DeviceLink::positionRead, this, [&polls] { ++polls; });
        QTRY_VERIFY_WITH_TIMEOUT(polls >= 10, SimProcess::ReactionMs);
        QCOMPARE(movesReceived(), 0);
        sim.command(QStringLiteral("status"));
        QVERIFY2(sim.lastOutput().contains(QStringLiteral("device 49 3000 4000 18000 stopped")),
                 qPrintable(sim.lastOutput().join('\n')));
    }
};

QTEST_MAIN(TestRetractReturn)
#include "tst_retractreturn.moc"
