// The limits as the settings group "limits" holds them: values as the file
// gives them (text), missing or damaged bounds leaving their axis the full
// travel, and what is written read back the same.
#include "travellimits.h"

#include <QtTest>

class TestTravelLimits : public QObject
{
    Q_OBJECT

private slots:
    void fromGroup_data()
    {
        QTest::addColumn<QVariantMap>("group");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QList<int>>("bounds"); // xmin xmax ymin ymax zmin zmax

        const QVariantMap whole{{"enabled", "true"}, {"xmin", "100"},  {"xmax", "200"},  {"ymin", "0"},
                                {"ymax", "20500"},   {"zmin", "5000"}, {"zmax", "15000"}};
        const QList<int> full{0, 20500, 0, 20500, 0, 20500};
        QTest::newRow("as written") << whole << true << QList<int>{100, 200, 0, 20500, 5000, 15000};
        QTest::newRow("nothing stored") << QVariantMap() << false << full;
        QVariantMap damaged = whole;
        damaged["xmax"] = "2oo";
        damaged["zmin"] = "-1";
        damaged["enabled"] = "yes";
        QTest::newRow("damaged: those axes whole, off") << damaged << false << QList<int>{0, 20500, 0, 20500, 0, 20500};
        QVariantMap reversed = whole;
        reversed["zmin"] = "16000";
        QTest::newRow("a minimum above its maximum") << reversed << true << QList<int>{100, 200, 0, 20500, 0, 20500};
        QVariantMap half = whole;
        half.remove("ymax");
        half["ymin"] = "300";
        QTest::newRow("a bound without its pair") << half << true << QList<int>{100, 200, 0, 20500, 5000, 15000};
        // An axis held in place is a band of one step, which the dialog and scripts may set.
        QVariantMap pinned = whole;
        pinned["xmin"] = "7000";
        pinned["xmax"] = "7000";
        QTest::newRow("a minimum equal to its maximum")
            << pinned << true << QList<int>{7000, 7000, 0, 20500, 5000, 15000};
    }

    void fromGroup()
    {
        QFETCH(QVariantMap, group);
        QFETCH(bool, enabled);
        QFETCH(QList<int>, bounds);
        const TravelLimits limits = TravelLimits::fromGroup(group);
        QCOMPARE(limits.enabled, enabled);
        QCOMPARE((QList<int>{limits.min[0], limits.max[0], limits.min[1], limits.max[1], limits.min[2], limits.max[2]}),
                 bounds);
        QCOMPARE(limits.problem(), QString());
    }

    // What is written, as the file gives it back (text), reads the same.
    void roundTrip()
    {
        TravelLimits limits;
        limits.enabled = true;
        limits.min = {1, 2, 3000};
        limits.max = {10, 20, 19000};
        limits.ordered = true;
        limits.axis = 1;
        limits.outwardUp = false;
        limits.safe = 7;
        limits.approach = 250;
        QVariantMap group = limits.toGroup();
        for (QVariant &value : group)
            value = value.toString();
        const TravelLimits back = TravelLimits::fromGroup(group);
        QCOMPARE(back.toGroup(), limits.toGroup());
    }
};

QTEST_GUILESS_MAIN(TestTravelLimits)
#include "tst_travellimits.moc"
