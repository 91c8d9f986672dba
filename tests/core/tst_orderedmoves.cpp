// Ordered moves through the device link's public interface, against the
// scripted library: each stage is sent only once the readings show the one
// before arrived; a stage that does not arrive within its bound, or a halt,
// ends the sequence and nothing more is sent.
#include "devicelink.h"
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"

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
        // A short first stage, so its bound (3 s and the distance) passes soon.
        QTest::newRow("stalls: nothing more sent")
            << "stays"
            << "1000 2000 17990" << QStringList{"retract", ""} << QStringList{"1000 2000 18000"} << false
            << "The retract stage did not reach 1000 2000 18000";
        QTest::newRow("halted on the way")
            << "first stage only"
            << "1000 2000 4000" << QStringList{"retract", "lateral", ""}
            << QStringList{"1000 2000 18000", "9000 7000 18000", "1000 2000 18000"} << false << "Halted";
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
            }
            return Fake::Position{0, at[0], at[1], at[2]};
        };

        DeviceLink link;
        link.setPollInterval(20);
        TravelLimits limits;
        limits.ordered = true;
        limits.safe = 18000;
        QVERIFY(link.setLimits(limits).ok());
        QVERIFY(link.open().ok());
        QTRY_VERIFY(link.liveReading().has_value());
        Fake::calls().clear();

        QStringList seen;
        connect(&link, &DeviceLink::stageChanged, this, [&](const QString &stage) {
            seen << stage;
            // Halted while the unit is on its way sideways.
            if (unit == QLatin1String("first stage only") && stage == QLatin1String("lateral"))
                QTimer::singleShot(0, &link, [&link] { link.halt(); });
        });
        std::optional<ActResult> result;
        connect(&link, &DeviceLink::sequenceFinished, this, [&](const ActResult &r) { result = r; });
        QVERIFY(link.go({9000, 7000, 6000}).ok());
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);
        QCOMPARE(result->ok(), arrived);
        QVERIFY2(result->message.startsWith(message), qPrintable(result->message));
        QCOMPARE(seen, stages);
        QCOMPARE(link.stage(), QString());
        // Nothing more goes out once the sequence has ended, poll after poll.
        const int polls = Fake::count(QStringLiteral("get_position_ext"));
        QTRY_VERIFY(Fake::count(QStringLiteral("get_position_ext")) >= polls + 5);
        QCOMPARE(Fake::sentTargets(), sent);
    }
};

QTEST_GUILESS_MAIN(TestOrderedMoves)
#include "tst_orderedmoves.moc"
