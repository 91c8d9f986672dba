// A device's frame: shown values from the unit's steps and back (scales that
// do not divide, values below the zero), and the step of an advance along
// the pipette at any angle, each axis rounded to the nearest whole step.
#include "deviceframe.h"

#include <QtTest>

using Units = DeviceFrame::Units;
using Xyz = DeviceFrame::Xyz;
Q_DECLARE_METATYPE(Xyz)

class TestDeviceFrame : public QObject
{
    Q_OBJECT

private slots:
    void shown_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<int>("zero"); // -1: none
        QTest::addColumn<int>("units");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("typed"); // a value typed in the units shown
        QTest::addColumn<int>("sent"); // what goes to the unit for it

        const int s = int(Units::Steps);
        const int um = int(Units::Micrometres);
        QTest::newRow("defaults: the unit's own steps") << 1.0 << -1 << s << 10250 << "10250" << 10250.0 << 10250;
        QTest::newRow("steps from a zero, below it") << 1.0 << 5000 << s << 4000 << "-1000" << -1000.0 << 4000;
        QTest::newRow("micrometres, one decimal") << 2.0 << -1 << um << 10251 << "5125.5" << 5125.5 << 10251;
        QTest::newRow("a scale that does not divide")
            << 3.0 << -1 << um << 1000 << "333.3" << 333.3 << 1000; // 999.9 steps: the nearest is 1000
        QTest::newRow("below the zero in micrometres") << 4.0 << 8000 << um << 7998 << "-0.5" << -0.6 << 7998;
        QTest::newRow("half a step rounds away from the zero") << 2.0 << 100 << um << 99 << "-0.5" << -0.25 << 99;
        QTest::newRow("no negative zero") << 40.0 << 8000 << um << 7999 << "0.0" << 0.0 << 8000;
        QTest::newRow("fewer steps than micrometres") << 0.5 << -1 << um << 20500 << "41000.0" << 40999.0 << 20500;
    }

    void shown()
    {
        QFETCH(double, scale);
        QFETCH(int, zero);
        QFETCH(int, units);
        QFETCH(int, steps);
        QFETCH(QString, text);
        QFETCH(double, typed);
        QFETCH(int, sent);
        DeviceFrame frame;
        frame.scale = {scale, scale, 1};
        if (zero >= 0)
            frame.zero = Xyz{zero, zero, zero};
        QCOMPARE(frame.text(0, steps, Units(units)), text);
        QCOMPARE(frame.steps(0, typed, Units(units)), sent);
        // What is shown of a whole step goes back to that step.
        QCOMPARE(frame.steps(0, frame.shown(0, steps, Units(units)), Units(units)), steps);
    }

    void along_data()
    {
        QTest::addColumn<double>("angle");
        QTest::addColumn<QString>("plane");
        QTest::addColumn<QString>("direction");
        QTest::addColumn<double>("distance");
        QTest::addColumn<Xyz>("step");

        QTest::newRow("horizontal") << 0.0 << "xz"
                                    << "+-" << 100.0 << Xyz{200, 0, 0};
        QTest::newRow("vertical") << 90.0 << "xz"
                                  << "+-" << 100.0 << Xyz{0, 0, -50};
        // 100 cos 30 = 86.60 um: 173.2 steps; 100 sin 30 = 50 um: 25 steps down.
        QTest::newRow("30 degrees") << 30.0 << "xz"
                                    << "+-" << 100.0 << Xyz{173, 0, -25};
        QTest::newRow("30 degrees, withdrawn") << 30.0 << "xz"
                                               << "+-" << -100.0 << Xyz{-173, 0, 25};
        QTest::newRow("another plane and way") << 45.0 << "yz"
                                               << "-+" << 10.0 << Xyz{0, -14, 4};
        QTest::newRow("less than a step") << 30.0 << "xz"
                                          << "+-" << 0.2 << Xyz{0, 0, 0};
    }

    void along()
    {
        QFETCH(double, angle);
        QFETCH(QString, plane);
        QFETCH(QString, direction);
        QFETCH(double, distance);
        QFETCH(Xyz, step);
        const DeviceFrame frame = DeviceFrame::fromGroup({{"scale", "2 2 0.5"},
                                                          {"angle", angle},
                                                          {"plane", plane},
                                                          {"direction", direction},
                                                          {"zero", "1000 1000 1000"}});
        QCOMPARE(frame.along(distance, Units::Micrometres), step);
        // The distance along the pipette from the zero comes back, within
        // what the rounding of each axis makes of it.
        Xyz at{1000 + step[0], 1000 + step[1], 1000 + step[2]};
        if (step != Xyz{0, 0, 0})
            QVERIFY2(std::abs(frame.alongDistance(at, Units::Micrometres) - distance) < 1.0,
                     qPrintable(QString::number(frame.alongDistance(at, Units::Micrometres))));
    }
};

QTEST_GUILESS_MAIN(TestDeviceFrame)
#include "tst_deviceframe.moc"
