// Ordered moves through the panel's public interface, against the scripted
// library: each stage is sent only once the readings show the one before
// arrived; a stage that does not arrive within its bound, or a halt, ends the
// plan and nothing more is sent. Retract remembers per device.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "panel.h"

#include <QtTest>

#include <optional>

class TestOrderedMoves : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void sequence_data()
    {
        QTest::addColumn<QString>("unit"); // how the unit answers the sends
        QTest::addColumn<QString>("from");
        QTest::addColumn<QStringList>("stages");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<bool>("arrived");
        QTest::addColumn<QString>("message");

        QTest::newRow("arrives: out, sideways, in")
            << "follows"
            << "1000 2000 4000" << QStringList{"retract", "lateral", "approach", ""}
            << QStringList{"1000 2000 18000", "9000 7000 18000", "9000 7000 6000"} << true
            << "Arrived at 9000 7000 6000";
        QTest::newRow("further out than safe: no retract stage")
            << "follows"
            << "1000 2000 19000" << QStringList{"lateral", "approach", ""}
            << QStringList{"9000 7000 19000", "9000 7000 6000"} << true << "Arrived at 9000 7000 6000";
        QTest::newRow("never starts: nothing more sent")
            << "stays"
            << "1000 2000 17990" << QStringList{"retract", ""} << QStringList{"1000 2000 18000"} << false
            << "Goto stopped in the retract stage at 1000 2000 17990: the unit stopped short";
        // Then the front panel takes the unit to the stage's target: the plan
        // has ended, nothing goes out.
        QTest::newRow("stops short, then completed by hand: nothing more sent")
            << "stops halfway"
            << "1000 2000 4000" << QStringList{"retract", ""} << QStringList{"1000 2000 18000"} << false
            << "Goto stopped in the retract stage at 1000 2000 11000: the unit stopped short";
        QTest::newRow("moved off its way: nothing more sent")
            << "moves elsewhere"
            << "1000 2000 4000" << QStringList{"retract", ""} << QStringList{"1000 2000 18000"} << false
            << "Goto stopped in the retract stage at 1500 2000 4000: the unit moved off its way";
        QTest::newRow("halted on the way")
            << "first stage only"
            << "1000 2000 4000" << QStringList{"retract", "lateral", ""}
            << QStringList{"1000 2000 18000", "9000 7000 18000", "1000 2000 18000"} << false << "Halted";
        QTest::newRow("limits changed on the way: says where")
            << "first stage only"
            << "1000 2000 4000" << QStringList{"retract", "lateral", ""}
            << QStringList{"1000 2000 18000", "9000 7000 18000"} << false
            << "Goto stopped in the lateral stage at 1000 2000 18000: the limits changed";
    }

    void sequence()
    {
        QFETCH(QString, unit);
        QFETCH(QString, from);
        QFETCH(QStringList, stages);
        QFETCH(QStringList, sent);
        QFETCH(bool, arrived);
        QFETCH(QString, message);

        const QStringList start = from.split(' ');
        DeviceLink::Xyz at{start[0].toInt(), start[1].toInt(), start[2].toInt()};
        int sends = 0;
        // The unit reports `at`; it goes to each target sent as told by `unit`.
        Fake::script().onPosition = [&](uint8_t, int) {
            const QStringList targets = Fake::sentTargets();
            const bool moves = unit == QLatin1String("follows")
                || (unit == QLatin1String("first stage only") && targets.size() == 1);
            if (moves && targets.size() > sends) {
                sends = targets.size();
                const QStringList t = targets.last().split(' ');
                at = {t[0].toInt(), t[1].toInt(), t[2].toInt()};
            } else if (unit == QLatin1String("stops halfway") && targets.size() > sends) {
                sends = targets.size();
                at[2] = 11000;
            } else if (unit == QLatin1String("moves elsewhere") && targets.size() > sends) {
                sends = targets.size();
                at[0] = 1500;
            }
            return Fake::Position{0, at[0], at[1], at[2]};
        };

        Panel panel;
        panel.link().setPollInterval(20);
        // A stage's time is long; the unit is at rest once two readings agree.
        panel.setPlanTiming({60000, 100, 0});
        TravelLimits limits;
        limits.ordered = true;
        limits.safe = 18000;
        QVERIFY(panel.setLimits(limits).ok());
        QVERIFY(panel.open().ok());
        QTRY_VERIFY(panel.link().liveReading().has_value());
        Fake::calls().clear();

        QStringList seen;
        connect(&panel.plans(), &MovePlans::stageChanged, this, [&](const QString &stage) {
            seen << stage;
            // Halted, or the limits changed, while the unit is on its way sideways.
            if (unit == QLatin1String("first stage only") && stage == QLatin1String("lateral")) {
                QTimer::singleShot(0, &panel, [&panel, &limits, &message] {
                    if (message == QLatin1String("Halted")) {
                        panel.halt();
                    } else {
                        limits.safe = 19000;
                        panel.setLimits(limits);
                    }
                });
            }
        });
        std::optional<ActResult> result;
        connect(&panel.plans(), &MovePlans::finished, this, [&](const ActResult &r) { result = r; });
        QVERIFY(panel.gotoTargets(9000, 7000, 6000).ok());
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);
        QCOMPARE(result->ok(), arrived);
        QVERIFY2(result->message.startsWith(message), qPrintable(result->message));
        QCOMPARE(seen, stages);
        QCOMPARE(panel.plans().stage(), QString());
        // Nothing more goes out once the sequence has ended, poll after poll,
        // also where the unit is then taken to the stage's target by hand.
        if (unit == QLatin1String("stops halfway"))
            at[2] = 18000;
        const int polls = Fake::count(QStringLiteral("get_position_ext"));
        QTRY_VERIFY(Fake::count(QStringLiteral("get_position_ext")) >= polls + 5);
        QCOMPARE(Fake::sentTargets(), sent);
    }

    // What Retract remembers, and where Return then goes: the place a device
    // was first taken out from, whatever is retracted after it.
    void retractMemory_data()
    {
        QTest::addColumn<QStringList>("acts"); // "retract", "device N", "arrive"
        QTest::addColumn<int>("device"); // whose memory is read
        QTest::addColumn<QString>("remembered");

        QTest::newRow("one retract") << QStringList{"retract"} << 1 << "1000 2000 4000";
        QTest::newRow("a second retract on the way out keeps the first")
            << QStringList{"retract", "retract"} << 1 << "1000 2000 4000";
        QTest::newRow("a second retract once out keeps the first")
            << QStringList{"retract", "arrive", "retract"} << 1 << "1000 2000 4000";
        QTest::newRow("another device's retract keeps this one's")
            << QStringList{"retract", "device 2", "retract"} << 1 << "1000 2000 4000";
        QTest::newRow("the other device has its own")
            << QStringList{"retract", "device 2", "retract"} << 2 << "3000 3000 3000";
    }

    void retractMemory()
    {
        QFETCH(QStringList, acts);
        QFETCH(int, device);
        QFETCH(QString, remembered);

        Fake::script().position = {0, 1000, 2000, 4000};
        Panel panel;
        TravelLimits limits;
        limits.safe = 18000;
        QVERIFY(panel.setLimits(limits).ok());
        QVERIFY(panel.open().ok());
        panel.link().poll();
        for (const QString &act : acts) {
            if (act == QLatin1String("retract")) {
                QVERIFY(panel.retract().ok());
            } else if (act == QLatin1String("arrive")) {
                Fake::script().position = {0, 1000, 2000, 18000};
                panel.link().poll();
            } else {
                QVERIFY(panel.selectDevice(act.split(' ').last().toInt()).ok());
                Fake::script().position = {0, 3000, 3000, 3000};
                panel.link().poll();
            }
        }
        const MovePlans::Xyz at = panel.plans().retracted().value(device);
        QCOMPARE(QStringLiteral("%1 %2 %3").arg(at[0]).arg(at[1]).arg(at[2]), remembered);
    }
};

QTEST_GUILESS_MAIN(TestOrderedMoves)
#include "tst_orderedmoves.moc"
