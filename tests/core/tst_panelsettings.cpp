// What the panel keeps, through the store and back: limits are written only
// once the store held them or they were set in this run, the position Retract
// remembered goes with them, the pad's group goes as given, and nothing is
// written before the store has been read.
#include "coordinates.h"
#include "devicelink.h"
#include "journal.h"
#include "movegate.h"
#include "moveplans.h"
#include "panelsettings.h"
#include "positionmodel.h"
#include "testsettings.h"

#include <QtTest>

class TestPanelSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSettings::isolate(); }

    void saved_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("act");
        QTest::addColumn<QStringList>("written"); // lines the file holds after the save
        QTest::addColumn<QStringList>("absent"); // lines it does not

        const QByteArray plain
            = "[settings]\nport=/dev/ttyS3\ndev=2\n[positions]\nsize=1\n1\\name=A\n1\\x=1\n1\\y=2\n1\\z=3\n";
        const QByteArray limited = plain + "[limits]\nenabled=true\nzmin=5000\nzmax=15000\n";
        QTest::newRow("limits never set stay out")
            << plain << "" << QStringList{"port=/dev/ttyS3", "dev=2", "1\\name=A"} << QStringList{"[limits]"};
        QTest::newRow("limits the store held go back")
            << limited << "" << QStringList{"[limits]", "enabled=true", "zmin=5000", "zmax=15000"} << QStringList();
        QTest::newRow("limits set in this run")
            << plain << "set limits" << QStringList{"[limits]", "enabled=true", "zmin=6000"} << QStringList();
        QTest::newRow("the remembered position alone")
            << plain << "retracted"
            << QStringList{"[limits]", "retract2=100 200 20000", "retractdevice=2", "retractz=20000"}
            << QStringList{"enabled=true", "enabled=false"};
        // Each device keeps its own; the keys of earlier versions name the
        // device driven, which they alone could hold.
        QTest::newRow("two devices remembered")
            << plain << "retracted twice"
            << QStringList{"retract2=100 200 20000", "retract5=1 2 3", "retractdevice=2", "retractz=20000"}
            << QStringList();
        const QByteArray earlier = plain + "[limits]\nretractdevice=4\nretractx=5\nretracty=6\nretractz=7\n";
        QTest::newRow("an earlier version's memory is kept")
            << earlier << "" << QStringList{"retract4=5 6 7", "retractdevice=4", "retractx=5"} << QStringList();
        QTest::newRow("a damaged memory is left out")
            << QByteArray(plain + "[limits]\nretractdevice=4\nretractx=5\nretracty=far\nretractz=7\nretract3=1 2\n")
            << "" << QStringList() << QStringList{"retract4=5 6 7"};
        QTest::newRow("the device selected since")
            << plain << "device 3" << QStringList{"dev=3"} << QStringList{"dev=2"};
        QTest::newRow("units and frames never set stay out")
            << plain << "" << QStringList() << QStringList{"[devices]", "units=steps"};
        QTest::newRow("units chosen in this run")
            << plain << "micrometres" << QStringList{"[devices]", "units=micrometres"} << QStringList();
        const QByteArray framed = plain
            + "[devices]\nunits=micrometres\n2\\scale=2 2 0.5\n2\\zero=100 200 300\n2\\angle=30\n"
              "2\\plane=yz\n2\\direction=-+\n3\\scale=0 1 1\n3\\angle=91\n";
        QTest::newRow("a frame the store held goes back")
            << framed << ""
            << QStringList{"units=micrometres", "2\\scale=2 2 0.5", "2\\zero=100 200 300", "2\\angle=30",
                           "2\\plane=yz",       "2\\direction=-+",  "3\\scale=1 1 1",      "3\\angle=0"}
            << QStringList();
        // Written empty, so that the file no longer holds the zero.
        QTest::newRow("a cleared zero") << framed << "clear zero" << QStringList{"2\\zero="}
                                        << QStringList{"2\\zero=100 200 300"};
        QTest::newRow("the pad's group as given") << plain << "" << QStringList{"[pad]", "step=100"} << QStringList();
        QTest::newRow("nothing before the store is read")
            << plain << "save first" << QStringList{"port=/dev/ttyS3"} << QStringList{"[pad]"};
    }

    void saved()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, act);
        QFETCH(QStringList, written);
        QFETCH(QStringList, absent);
        TestSettings::writeStore(stored);
        DeviceLink link;
        Journal journal;
        MoveGate gate(link, journal);
        MovePlans plans(link, gate);
        PositionModel positions;
        Coordinates coordinates;
        PanelSettings settings(link, gate, plans, positions, coordinates);
        const QVariantMap pad{{QStringLiteral("step"), 100}};
        if (act == QLatin1String("save first")) {
            QCOMPARE(int(settings.save(pad).kind), int(SaveResult::Kind::Saved));
            QCOMPARE(TestSettings::readStore(), stored);
            return;
        }
        QString standing;
        settings.load(&standing);
        QVERIFY2(standing.isEmpty(), qPrintable(standing));
        QCOMPARE(positions.rowCount(), 1);
        QCOMPARE(link.portSettings().port, QStringLiteral("/dev/ttyS3"));
        if (act == QLatin1String("set limits")) {
            TravelLimits limits;
            limits.enabled = true;
            limits.min[2] = 6000;
            QVERIFY(gate.setLimits(limits).ok());
            settings.keepLimits();
        } else if (act == QLatin1String("retracted")) {
            plans.setRetracted({{2, {100, 200, 20000}}});
        } else if (act == QLatin1String("retracted twice")) {
            plans.setRetracted({{2, {100, 200, 20000}}, {5, {1, 2, 3}}});
        } else if (act == QLatin1String("device 3")) {
            settings.setDevice(3);
        } else if (act == QLatin1String("micrometres")) {
            coordinates.setUnits(Coordinates::Units::Micrometres);
        } else if (act == QLatin1String("clear zero")) {
            DeviceFrame frame = coordinates.frame(2);
            QVERIFY(frame.zero);
            frame.zero.reset();
            coordinates.setFrame(2, frame);
        }
        QCOMPARE(int(settings.save(pad).kind), int(SaveResult::Kind::Saved));

        const QStringList lines = QString::fromUtf8(TestSettings::readStore()).split(u'\n');
        for (const QString &line : written)
            QVERIFY2(lines.contains(line), qPrintable(line));
        for (const QString &line : absent)
            QVERIFY2(!lines.contains(line), qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(TestPanelSettings)
#include "tst_panelsettings.moc"
