// The link to the manipulator: opening the port, selecting the device and
// polling its position into the readouts.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "kesmarcontrol.h"
#include "testsettings.h"
#include "widgetlookup.h"
#include "windowfixture.h"

#include <QLCDNumber>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

#include <memory>

using WindowFixture::expectShownFor;
using WindowFixture::handle;

class TestDeviceLink : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void cleanup() { w.reset(); }

    void openPort_data();
    void openPort();
    void selectedDeviceIsAddressed_data();
    void selectedDeviceIsAddressed();
    void failedSelectionFallsBackToDeviceOne_data();
    void failedSelectionFallsBackToDeviceOne();
    void pollShowsLow16BitsOfNonNegativeValues_data();
    void pollShowsLow16BitsOfNonNegativeValues();
    void pollTimeArgumentAndReceive_data();
    void pollTimeArgumentAndReceive();
    void receivedInputBringsExtraPolls_data();
    void receivedInputBringsExtraPolls();
    void failedPollsMarkTheReadoutsStale_data();
    void failedPollsMarkTheReadoutsStale();
    void indicatorReconnects_data();
    void indicatorReconnects();
    void longPortNameKeepsTheIndicatorNarrow();

private:
    QStatusBar *bar() { return w->statusBar(); }
    QLCDNumber *lcd(const char *name) { return widget<QLCDNumber>(*w, QString::fromLatin1(name)); }
    QSpinBox *devBox() { return widget<QSpinBox>(*w, QStringLiteral("dev")); }
    // A poll as the timer makes it: after a failed call, only once the event
    // loop has run.
    void poll()
    {
        QTRY_VERIFY(w->panel().link().mayCall());
        w->panel().link().poll();
    }
    // Polls come only from the test: polling runs, but not within the test.
    void pollHourly()
    {
        w->panel().link().setPollInterval(3600 * 1000);
        w->panel().link().resumePolling();
    }
    QToolButton *indicator() { return w->findChild<QToolButton *>(QStringLiteral("connectionIndicator")); }
    // The state word at the end of the indicator's text.
    QString stateWord() { return indicator()->text().section(QStringLiteral(": "), -1); }
    // Polls with the results given as '+' (read) and '-' (failed).
    void pollWith(const QString &results);

    std::unique_ptr<KesmarControl> w;
};

void TestDeviceLink::openPort_data()
{
    QTest::addColumn<QString>("configured");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<bool>("nullText");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("duration");

    const QString usb = QStringLiteral("/dev/ttyUSB0");
    const QString s1 = QStringLiteral("/dev/ttyS1");
    const QString com3 = QStringLiteral("COM3");
    const QString none;
    QTest::newRow("configured port") << s1 << true << false << s1 << s1 + " opened" << 1000;
    QTest::newRow("nothing configured: the default port") << none << true << false << usb << usb + " opened" << 1000;
    // A failed open keeps the configured port: the unit may only be off.
    QTest::newRow("COM3 fails") << com3 << false << false << com3 << "Can not open " + com3 + " - fake failure" << 0;
    QTest::newRow("null error text") << s1 << false << true << s1 << "Can not open " + s1 + " - " << 0;
    QTest::newRow("nothing configured fails")
        << none << false << false << usb << "Can not open " + usb + " - fake failure" << 0;
}

void TestDeviceLink::openPort()
{
    QFETCH(QString, configured);
    QFETCH(bool, succeeds);
    QFETCH(bool, nullText);
    QFETCH(QString, opened);
    QFETCH(QString, message);
    QFETCH(int, duration);

    RUN_STEP(WindowFixture::start(w, true));
    PortSettings ps = w->panel().link().portSettings();
    ps.port = configured;
    ps.timeout = 250;
    w->panel().link().setPortSettings(ps);
    Fake::script().openSucceeds = succeeds;
    Fake::script().errorTextIsNull = nullText;
    if (succeeds)
        w->panel().link().stopPolling();
    else
        w->panel().link().resumePolling();

    // Reopen the way the Settings action does.
    w->reconnect();

    QCOMPARE(Fake::callsNamed("open").size(), 1);
    QCOMPARE(Fake::callsNamed("open").first().args, QVariantList({opened, 250}));
    QCOMPARE(w->panel().link().isOpen(), succeeds);
    // An open connection selects the device the box shows; a failed open asks
    // for the reason with the null handle it got.
    QCOMPARE(Fake::callNames(),
             succeeds ? QStringList({"close", "open", "select_dev"}) : QStringList({"close", "open", "last_errorstr"}));
    if (!succeeds)
        QCOMPARE(Fake::callsNamed("last_errorstr").first().args, QVariantList({quintptr(0)}));
    QCOMPARE(bar()->currentMessage(), message);
    QCOMPARE(w->panel().link().portSettings().port, opened);
    QCOMPARE(w->panel().link().isPolling(), succeeds);
    w->panel().link().stopPolling();
    expectShownFor(bar(), duration);
}

void TestDeviceLink::selectedDeviceIsAddressed_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("id");

    QTest::newRow("0, connected: the connection's own id") << true << 0 << int('A');
    QTest::newRow("0, no connection") << false << 0 << 48;
    QTest::newRow("5") << true << 5 << 53;
    QTest::newRow("9, no connection") << false << 9 << 57;
    QTest::newRow("42") << true << 42 << 90;
}

void TestDeviceLink::selectedDeviceIsAddressed()
{
    QFETCH(bool, connected);
    QFETCH(int, number);
    QFETCH(int, id);

    RUN_STEP(WindowFixture::start(w, connected));
    devBox()->setValue(number);

    QCOMPARE(Fake::callNames(), QStringList{"select_dev"});
    QCOMPARE(Fake::calls().first().args, QVariantList({handle(*w), id}));
    QCOMPARE(w->panel().link().device(), number);
    QVERIFY(w->panel().link().isPolling());
    w->panel().link().stopPolling();
    QCOMPARE(bar()->currentMessage(), QStringLiteral("Device %1 selected").arg(number));
    expectShownFor(bar(), 1000);

    // Polling addresses the same device.
    poll();
    const QList<Fake::Call> polls = Fake::callsNamed("get_position_ext");
    QCOMPARE(polls.size(), 1);
    QCOMPARE(polls.first().args.at(1).toInt(), id);
}

void TestDeviceLink::failedSelectionFallsBackToDeviceOne_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("failing"); // device ids the library refuses
    QTest::addColumn<QVariantList>("selected"); // ids asked for, in order
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("devAfter");

    // Device 1 is driven from then on, whether its selection (once the event
    // loop has run) succeeds or not; the message is the failed selection's.
    QTest::newRow("3 fails, 1 selected again") << 1 << 3 << QString("3") << QVariantList({51, 49})
                                               << QStringList({"Device 3 select failed - after select 3"}) << 1;
    QTest::newRow("3 fails, 1 fails again") << 2 << 3 << QString("31") << QVariantList({51, 49})
                                            << QStringList({"Device 3 select failed - after select 3"}) << 1;
    QTest::newRow("1 fails, box already at 1") << 2 << 1 << QString("1") << QVariantList({49})
                                               << QStringList({"Device 1 select failed - after select 1"}) << 1;
}

void TestDeviceLink::failedSelectionFallsBackToDeviceOne()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, failing);
    QFETCH(QVariantList, selected);
    QFETCH(QStringList, messages);
    QFETCH(int, devAfter);

    RUN_STEP(WindowFixture::start(w, true));
    devBox()->setValue(from);
    QCOMPARE(w->panel().link().device(), from);
    Fake::reset();
    Fake::script().onSelect = [failing](uint8_t id) {
        Fake::script().errorText = QByteArray("after select ") + char(id);
        return failing.contains(QLatin1Char(char(id))) ? -1 : 0;
    };
    w->panel().link().resumePolling();
    QSignalSpy changes(bar(), &QStatusBar::messageChanged);

    devBox()->setValue(to);

    const auto asked = [] {
        QVariantList ids;
        for (const Fake::Call &call : Fake::callsNamed("select_dev"))
            ids << call.args.at(1);
        return ids;
    };
    QTRY_COMPARE(asked(), selected);
    QVERIFY(Fake::callNames().contains(QStringLiteral("last_errorstr")));
    QStringList shown;
    for (const QList<QVariant> &change : changes)
        shown << change.first().toString();
    QCOMPARE(shown, messages);
    QCOMPARE(devBox()->value(), 1);
    QCOMPARE(w->panel().link().device(), devAfter);
    QVERIFY(!w->panel().link().isPolling());
    expectShownFor(bar(), 0);
}

void TestDeviceLink::pollShowsLow16BitsOfNonNegativeValues_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("nullText");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("z");
    QTest::addColumn<QVector<int>>("shown"); // the readouts start at 7, 8, 9

    QTest::newRow("in range") << 0 << false << 20500 << 0 << 1 << QVector<int>{20500, 0, 1};
    QTest::newRow("high bits dropped") << 0 << false << 0x10005 << 0x2ffff << -65436 << QVector<int>{5, 8, 100};
    QTest::newRow("bit 15 set reads negative") << 0 << false << 0x8000 << 0xffff << 0x7fff << QVector<int>{7, 8, 32767};
    QTest::newRow("untouched outputs") << 0 << false << -1 << -1 << -1 << QVector<int>{7, 8, 9};
    QTest::newRow("failed, outputs left at -1") << -1 << false << -1 << -1 << -1 << QVector<int>{7, 8, 9};
    // On failure the outputs are used as left, without the 16-bit step.
    QTest::newRow("failed, outputs partly set") << -2 << false << 150 << -1 << 70000 << QVector<int>{150, 8, 70000};
    QTest::newRow("failed, null error text") << -1 << true << -1 << -1 << -1 << QVector<int>{7, 8, 9};
}

void TestDeviceLink::pollShowsLow16BitsOfNonNegativeValues()
{
    QFETCH(int, result);
    QFETCH(bool, nullText);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, z);
    QFETCH(QVector<int>, shown);

    RUN_STEP(WindowFixture::start(w, true));
    lcd("lcdNumberX")->display(7);
    lcd("lcdNumberY")->display(8);
    lcd("lcdNumberZ")->display(9);
    Fake::script().position = Fake::Position{result, x, y, z};
    Fake::script().errorTextIsNull = nullText;
    w->panel().link().resumePolling();

    poll();

    // One failed poll does not stop polling.
    QVERIFY(w->panel().link().isPolling());
    w->panel().link().stopPolling();
    QCOMPARE(lcd("lcdNumberX")->value(), double(shown[0]));
    QCOMPARE(lcd("lcdNumberY")->value(), double(shown[1]));
    QCOMPARE(lcd("lcdNumberZ")->value(), double(shown[2]));
    // The outputs are pre-set to -1 before the call.
    const QList<Fake::Call> polls = Fake::callsNamed("get_position_ext");
    QCOMPARE(polls.size(), 1);
    QCOMPARE(polls.first().args, QVariantList({handle(*w), 49, 0, -1, -1, -1}));
    if (result >= 0) {
        QVERIFY(bar()->currentMessage().isEmpty());
        QCOMPARE(Fake::count("last_errorstr"), 0);
    } else {
        QCOMPARE(bar()->currentMessage(),
                 nullText ? QStringLiteral("Update failed - ") : QStringLiteral("Update failed - fake failure"));
        expectShownFor(bar(), 0);
    }
}

void TestDeviceLink::pollTimeArgumentAndReceive_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("pcmode");
    QTest::addColumn<int>("time");
    QTest::addColumn<QStringList>("calls");

    const QStringList pollOnly{"get_position_ext"};
    // The interval minus 10, at most 50 ms, so a Halt is never held up long.
    QTest::newRow("PC mode") << true << true << 50 << pollOnly;
    QTest::newRow("PC mode, no connection") << false << true << 50 << pollOnly;
    QTest::newRow("receive first") << true << false << 0 << QStringList({"recv", "get_position_ext"});
    QTest::newRow("no receive without a connection") << false << false << 0 << pollOnly;
}

void TestDeviceLink::pollTimeArgumentAndReceive()
{
    QFETCH(bool, connected);
    QFETCH(bool, pcmode);
    QFETCH(int, time);
    QFETCH(QStringList, calls);

    RUN_STEP(WindowFixture::start(w, connected));
    PortSettings s = w->panel().link().portSettings();
    s.pcmode = pcmode;
    // The time argument follows the poll interval, not a changed setting.
    s.update = 300;
    w->panel().link().setPortSettings(s);

    poll();

    QCOMPARE(Fake::callNames(), calls);
    const Fake::Call get = Fake::callsNamed("get_position_ext").first();
    QCOMPARE(get.args.at(0), handle(*w));
    QCOMPARE(get.args.at(2).toInt(), time);
    if (calls.contains(QStringLiteral("recv")))
        QCOMPARE(Fake::callsNamed("recv").first().args, QVariantList({handle(*w)}));
}

void TestDeviceLink::receivedInputBringsExtraPolls_data()
{
    QTest::addColumn<bool>("regular");
    QTest::newRow("after a poll of its own") << false;
    QTest::newRow("after a regular poll") << true;
}

void TestDeviceLink::receivedInputBringsExtraPolls()
{
    QFETCH(bool, regular);
    RUN_STEP(WindowFixture::start(w, true));
    QVERIFY(!w->panel().link().isPolling());
    // Input arrives for two receives, then the line is quiet.
    auto pending = std::make_shared<int>(2);
    Fake::script().onRecv = [pending] {
        return (*pending)-- > 0 ? 1 : 0;
    };

    constexpr int interval = 3000;
    if (regular) {
        w->panel().link().setPollInterval(interval);
        w->panel().link().resumePolling();
        QTRY_COMPARE_WITH_TIMEOUT(Fake::count("get_position_ext"), 1, 10000);
    } else {
        poll();
        QCOMPARE(Fake::count("get_position_ext"), 1);
    }
    // The extra polls run although the timer is stopped or far off.
    QTRY_COMPARE_WITH_TIMEOUT(Fake::count("get_position_ext"), 3, 10000);
    // Nothing schedules a fourth; allow its 50 ms to pass several times over.
    QTest::qWait(300);
    QCOMPARE(Fake::count("get_position_ext"), 3);
    QCOMPARE(Fake::callNames(),
             QStringList({"recv", "get_position_ext", "recv", "get_position_ext", "recv", "get_position_ext"}));
    const QList<Fake::Call> polls = Fake::callsNamed("get_position_ext");
    for (int i = 1; i < polls.size(); ++i)
        QVERIFY2(polls[i].atMs - polls[i - 1].atMs >= 45, "an extra poll came before 50 ms had passed");
    if (regular)
        QVERIFY2(polls[2].atMs - polls[0].atMs < interval, "the extra polls waited for the regular one");
}

void TestDeviceLink::pollWith(const QString &results)
{
    auto left = std::make_shared<QString>(results);
    Fake::script().onPosition = [left](uint8_t, int) {
        const bool read = left->startsWith(QLatin1Char('+'));
        left->remove(0, 1);
        return Fake::Position{read ? 0 : -1, read ? 300 : -1, read ? 200 : -1, read ? 100 : -1};
    };
}

void TestDeviceLink::failedPollsMarkTheReadoutsStale_data()
{
    QTest::addColumn<bool>("gotoFails"); // a Goto fails before the polls
    QTest::addColumn<QString>("polls"); // '+' read, '-' failed
    QTest::addColumn<QStringList>("states"); // the indicator's word after each poll
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("polling");

    const QString failed = QStringLiteral("Update failed - fake failure");
    QTest::newRow("a failed poll, then a good one")
        << false << "-+" << QStringList{"stale", "reading"} << QString() << true;
    QTest::newRow("three failed polls in a row stop polling")
        << false << "---" << QStringList{"stale", "stale", "stopped"} << failed << false;
    QTest::newRow("failures apart keep polling")
        << false << "--+--" << QStringList{"stale", "stale", "reading", "stale", "stale"} << failed << true;
    QTest::newRow("a failed Goto's message stays")
        << true << "--" << QStringList{"stale", "stale"} << QStringLiteral("Goto failed - fake failure") << true;
}

void TestDeviceLink::failedPollsMarkTheReadoutsStale()
{
    QFETCH(bool, gotoFails);
    QFETCH(QString, polls);
    QFETCH(QStringList, states);
    QFETCH(QString, message);
    QFETCH(bool, polling);

    RUN_STEP(WindowFixture::start(w, true));
    if (gotoFails) {
        Fake::script().gotoResult = -1;
        w->findChild<QPushButton *>(QStringLiteral("pushButtonGoto"))->click();
    }
    pollHourly();
    // The first reading after the open may have come at once, or not yet.
    const std::optional<DeviceLink::Xyz> before = w->panel().link().lastReading();
    QSignalSpy changes(&w->panel().link(), &DeviceLink::stateChanged);
    QSignalSpy reads(&w->panel().link(), &DeviceLink::positionRead);
    pollWith(polls);

    QStringList seen;
    for (int i = 0; i < polls.size(); ++i) {
        poll();
        seen << stateWord();
        const bool live = seen.last() == QLatin1String("reading");
        QCOMPARE(lcd("lcdNumberX")->isEnabled(), live);
        QCOMPARE(lcd("lcdNumberZ")->isEnabled(), live);
        QCOMPARE(lcd("Y")->isEnabled(), live); // the pad's readouts go stale with them
        QCOMPARE(w->panel().link().state() == DeviceLink::State::Reading, live);
    }
    QCOMPARE(seen, states);
    QCOMPARE(bar()->currentMessage(), message);
    QCOMPARE(w->panel().link().isPolling(), polling);
    // The state changes are signalled once each, and so is every good poll.
    int switches = 0;
    for (int i = 0; i < states.size(); ++i)
        switches += states[i] != (i ? states[i - 1] : QStringLiteral("reading"));
    QCOMPARE(changes.size(), switches);
    QCOMPARE(reads.size(), polls.count(QLatin1Char('+')));
    QVERIFY(w->panel().link().lastReading()
            == (reads.isEmpty() ? before : std::optional<DeviceLink::Xyz>({300, 200, 100})));
    // Messages too long for the window are readable whole.
    QCOMPARE(bar()->toolTip(), message);
    if (polls.endsWith(QLatin1Char('-')))
        QVERIFY2(indicator()->toolTip().contains(QStringLiteral("Update failed - fake failure")),
                 qPrintable(indicator()->toolTip()));
    w->panel().link().stopPolling();
}

void TestDeviceLink::indicatorReconnects_data()
{
    QTest::addColumn<bool>("opens"); // the first open succeeds
    QTest::addColumn<QString>("polls"); // then polls with these results
    QTest::addColumn<bool>("selectFails"); // and a selection of device 2 fails, falling back to 1
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("reconnects");
    QTest::addColumn<int>("device"); // the box

    QTest::newRow("not connected") << false << "" << false << "not connected" << true << 3;
    QTest::newRow("stopped after failed polls") << true << "---" << false << "stopped" << true << 3;
    QTest::newRow("stopped after a failed selection") << true << "" << true << "stopped" << true << 1;
    QTest::newRow("stale") << true << "-" << false << "stale" << true << 3;
    QTest::newRow("reading: nothing to do") << true << "+" << false << "reading" << false << 3;
}

void TestDeviceLink::indicatorReconnects()
{
    QFETCH(bool, opens);
    QFETCH(QString, polls);
    QFETCH(bool, selectFails);
    QFETCH(QString, before);
    QFETCH(bool, reconnects);
    QFETCH(int, device);

    TestSettings::writeStore("[settings]\nport=/dev/ttyS4\ntimeout=250\ndev=3\n");
    RUN_STEP(WindowFixture::start(w, opens));
    pollHourly();
    pollWith(polls);
    for (int i = 0; i < polls.size(); ++i)
        poll();
    if (selectFails) {
        Fake::script().onSelect = [](uint8_t id) {
            return id == 50 ? -1 : 0;
        };
        WindowFixture::untilLinkFree(*w);
        devBox()->setValue(2);
    }
    // The port configured now (a failed open may have changed it).
    const QString port = w->panel().link().portSettings().port;
    QCOMPARE(indicator()->text(), QStringLiteral("%1, device %2: %3").arg(port).arg(device).arg(before));
    WindowFixture::untilLinkFree(*w);
    Fake::reset();

    QTest::mouseClick(indicator(), Qt::LeftButton);

    if (!reconnects) {
        QVERIFY(Fake::calls().isEmpty());
        return;
    }
    // Close (only a port that is open), open the configured port, select
    // the device the box shows; nothing is sent. The readouts wait for the
    // first reading, which is polled at once.
    const QStringList reopened{"open", "select_dev"};
    QCOMPARE(Fake::callNames(), opens ? QStringList{"close"} + reopened : reopened);
    QCOMPARE(Fake::callsNamed("open").first().args, QVariantList({port, 250}));
    QCOMPARE(Fake::callsNamed("select_dev").first().args, QVariantList({handle(*w), 48 + device}));
    QCOMPARE(stateWord(), QStringLiteral("waiting"));
    QVERIFY(!lcd("lcdNumberY")->isEnabled());
    QTRY_COMPARE(stateWord(), QStringLiteral("reading"));
    QVERIFY(w->panel().link().isPolling());
    QVERIFY(lcd("lcdNumberY")->isEnabled());
}

void TestDeviceLink::longPortNameKeepsTheIndicatorNarrow()
{
    const QByteArray port = "/dev/serial/by-id/" + QByteArray(3000, 'p') + "-port7";
    TestSettings::writeStore("[settings]\nport=" + port + "\n");
    RUN_STEP(WindowFixture::start(w, true));
    w->panel().link().resumePolling();
    poll();
    QVERIFY2(indicator()->sizeHint().width() < 600, qPrintable(QString::number(indicator()->sizeHint().width())));
    QVERIFY(indicator()->text().endsWith(QStringLiteral("-port7, device 1: reading")));
    QVERIFY(indicator()->toolTip().startsWith(QString::fromLatin1(port)));
}

QTEST_MAIN(TestDeviceLink)
#include "tst_devicelink.moc"
