// Sending the manipulator to its target: Goto, the coupling of the target
// boxes and sliders with Follow Target, Copy and Restore.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "kesmarcontrol.h"
#include "testsettings.h"
#include "widgetlookup.h"
#include "windowfixture.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

#include <memory>

using WindowFixture::expectShownFor;
using WindowFixture::handle;

using Triple = QVector<int>;

class TestTargetMotion : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void cleanup() { w.reset(); }

    void gotoStoresThenMoves_data();
    void gotoStoresThenMoves();
    void boxAndSliderKeepInStep_data();
    void boxAndSliderKeepInStep();
    void sliderKeysSetTheBox_data();
    void sliderKeysSetTheBox();
    void copyTakesTheLiveReading_data();
    void copyTakesTheLiveReading();
    void restoreBringsBackTheLastTarget_data();
    void restoreBringsBackTheLastTarget();

private:
    QSpinBox *box(int axis) { return widget<QSpinBox>(*w, QStringLiteral("target") + "XYZ"[axis]); }
    QSlider *slider(int axis) { return widget<QSlider>(*w, QStringLiteral("slider") + "XYZ"[axis]); }
    Triple boxes() { return {box(0)->value(), box(1)->value(), box(2)->value()}; }
    Triple sliders() { return {slider(0)->value(), slider(1)->value(), slider(2)->value()}; }
    // Follow Target from the unit standing at the targets.
    void follow(bool on)
    {
        if (on)
            WindowFixture::followFrom(*w, box(0)->value(), box(1)->value(), box(2)->value());
    }
    // The window against a unit at 0 0 10000, which its first reading puts
    // into the targets.
    void start()
    {
        Fake::script().position = {0, 0, 0, 10000};
        WindowFixture::start(w, true);
    }
    void pressGoto() { widget<QPushButton>(*w, QStringLiteral("pushButtonGoto"))->click(); }
    QStringList sent() { return WindowFixture::sentTargets(); }

    std::unique_ptr<KesmarControl> w;
};

void TestTargetMotion::gotoStoresThenMoves_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("device");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("storeResult");
    QTest::addColumn<int>("gotoResult");
    QTest::addColumn<bool>("nullText");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("duration");

    const QStringList both{"store_mem_position_ext", "goto_mem_position_ext"};
    const QString sentText = QStringLiteral("Goto command sent");
    QTest::newRow("sent") << true << 1 << 49 << 0 << 0 << false << both << sentText << 1000;
    QTest::newRow("device 0: own id") << true << 0 << int('A') << 0 << 0 << false << both << sentText << 1000;
    QTest::newRow("no connection") << false << 1 << 49 << 0 << 0 << false << both << sentText << 1000;
    QTest::newRow("store fails: no goto")
        << true << 1 << 49 << -1 << 0 << false << QStringList({"store_mem_position_ext", "last_errorstr"})
        << QStringLiteral("Goto failed - fake failure") << 0;
    QTest::newRow("goto fails") << true << 1 << 49 << 0 << -3 << false << both + QStringList{"last_errorstr"}
                                << QStringLiteral("Goto failed - fake failure") << 0;
    QTest::newRow("goto fails, null text") << true << 1 << 49 << 0 << -1 << true << both + QStringList{"last_errorstr"}
                                           << QStringLiteral("Goto failed - ") << 0;
}

void TestTargetMotion::gotoStoresThenMoves()
{
    QFETCH(bool, connected);
    QFETCH(int, device);
    QFETCH(int, id);
    QFETCH(int, storeResult);
    QFETCH(int, gotoResult);
    QFETCH(bool, nullText);
    QFETCH(QStringList, calls);
    QFETCH(QString, message);
    QFETCH(int, duration);

    RUN_STEP(WindowFixture::start(w, connected));
    widget<QSpinBox>(*w, QStringLiteral("dev"))->setValue(device);
    box(0)->setValue(123);
    box(1)->setValue(4567);
    box(2)->setValue(20500);
    w->panel().link().stopPolling();
    Fake::reset();
    Fake::script().storeResult = storeResult;
    Fake::script().gotoResult = gotoResult;
    Fake::script().errorTextIsNull = nullText;

    pressGoto();

    QCOMPARE(Fake::callNames(), calls);
    QCOMPARE(Fake::calls()[0].args, QVariantList({handle(*w), id, 123, 4567, 20500, 0}));
    if (calls[1] == QLatin1String("goto_mem_position_ext"))
        QCOMPARE(Fake::calls()[1].args, QVariantList({handle(*w), id, 0}));
    // Polling resumes whatever the outcome.
    QVERIFY(w->panel().link().isPolling());
    w->panel().link().stopPolling();
    QCOMPARE(w->statusBar()->currentMessage(), message);
    expectShownFor(w->statusBar(), duration);
}

void TestTargetMotion::boxAndSliderKeepInStep_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<bool>("drag"); // drag the slider, else set the box
    QTest::addColumn<bool>("following");
    QTest::addColumn<QVector<int>>("steps");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<int>("sliderAfter");

    // The targets start at 0, 0, 10000, each slider with its box.
    QTest::newRow("box") << 0 << false << false << QVector<int>{777} << QStringList() << 777;
    QTest::newRow("box, following") << 1 << false << true << QVector<int>{300, 301}
                                    << QStringList{"0 300 10000", "0 301 10000"} << 301;
    // No change, no notification, nothing sent.
    QTest::newRow("box set to its own value") << 2 << false << true << QVector<int>{10000} << QStringList() << 10000;
    QTest::newRow("drag") << 1 << true << false << QVector<int>{40} << QStringList() << 40;
    // Each step sets the box, whose change sends it: one send per step.
    QTest::newRow("drag, following") << 0 << true << true << QVector<int>{100, 200}
                                     << QStringList{"100 0 10000", "200 0 10000"} << 200;
    QTest::newRow("drag away and back") << 2 << true << true << QVector<int>{9000, 10000}
                                        << QStringList{"0 0 9000", "0 0 10000"} << 10000;
}

void TestTargetMotion::boxAndSliderKeepInStep()
{
    QFETCH(int, axis);
    QFETCH(bool, drag);
    QFETCH(bool, following);
    QFETCH(QVector<int>, steps);
    QFETCH(QStringList, sent);
    QFETCH(int, sliderAfter);

    RUN_STEP(start());
    follow(following);
    Triple targets = boxes();
    Triple slid = sliders();

    slider(axis)->setSliderDown(drag);
    for (int v : steps) {
        if (drag)
            slider(axis)->setSliderPosition(v);
        else
            box(axis)->setValue(v);
    }
    slider(axis)->setSliderDown(false);

    QCOMPARE(this->sent(), sent);
    targets[axis] = steps.last();
    slid[axis] = sliderAfter;
    QCOMPARE(boxes(), targets);
    QCOMPARE(sliders(), slid);
}

void TestTargetMotion::sliderKeysSetTheBox_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("position");

    QTest::newRow("arrow") << int(Qt::Key_Right) << 1;
    QTest::newRow("page") << int(Qt::Key_PageUp) << 2050;
    QTest::newRow("end") << int(Qt::Key_End) << 20500;
}

void TestTargetMotion::sliderKeysSetTheBox()
{
    QFETCH(int, key);
    QFETCH(int, position);

    RUN_STEP(start());
    follow(true);
    slider(0)->setFocus();
    QTest::keyClick(slider(0), Qt::Key(key));

    // The box follows its slider, and under Follow Target the step is sent.
    QCOMPARE(slider(0)->value(), position);
    QCOMPARE(box(0)->value(), position);
    const QString target = QStringLiteral("%1 0 10000").arg(position);
    QCOMPARE(sent(), QStringList{target});
    // Goto sends the box's value.
    pressGoto();
    w->panel().link().stopPolling();
    QCOMPARE(sent(), QStringList({target, target}));
}

void TestTargetMotion::copyTakesTheLiveReading_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("z");
    QTest::addColumn<QStringList>("sent");

    // The copied target is sent once, whole.
    QTest::newRow("all axes") << 5 << 6 << 7 << QStringList{"5 6 7"};
    QTest::newRow("only X changes") << 12 << 0 << 10000 << QStringList{"12 0 10000"};
    QTest::newRow("already equal") << 0 << 0 << 10000 << QStringList();
}

void TestTargetMotion::copyTakesTheLiveReading()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, z);
    QFETCH(QStringList, sent);

    RUN_STEP(start());
    follow(true);
    // Polling on and a good poll make the reading live.
    Fake::script().position = {0, x, y, z};
    w->panel().link().resumePolling();
    w->panel().link().poll();

    widget<QPushButton>(*w, QStringLiteral("pushButtonCopy"))->click();

    QCOMPARE(this->sent(), sent);
    const Triple expected{x, y, z};
    QCOMPARE(boxes(), expected);
    QCOMPARE(sliders(), expected);
    QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Current position copied into target values"));
    expectShownFor(w->statusBar(), 1000);
}

void TestTargetMotion::restoreBringsBackTheLastTarget_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<Triple>("memory");
    QTest::addColumn<Triple>("targets");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("message");

    // Before: targets 11, 66, 10000 (Y set by its slider).
    const QString restored = QStringLiteral("Previous target position restored");
    QTest::newRow("nothing stored yet") << -1 << Triple{1, 2, 3} << Triple{11, 66, 10000} << QStringList()
                                        << QStringLiteral("No target position used yet");
    QTest::newRow("Y left at -1, Z above range")
        << 0 << Triple{100, -1, 30000} << Triple{100, 66, 20500} << QStringList{"100 66 20500"} << restored;
    QTest::newRow("no axis returned") << 0 << Triple{-1, -1, -1} << Triple{11, 66, 10000} << QStringList() << restored;
    QTest::newRow("same as the target") << 0 << Triple{11, 66, 10000} << Triple{11, 66, 10000} << QStringList()
                                        << restored;
}

void TestTargetMotion::restoreBringsBackTheLastTarget()
{
    QFETCH(int, result);
    QFETCH(Triple, memory);
    QFETCH(Triple, targets);
    QFETCH(QStringList, sent);
    QFETCH(QString, message);

    RUN_STEP(start());
    box(0)->setValue(11);
    box(1)->setValue(55);
    slider(1)->setValue(66);
    follow(true);
    Fake::script().memPosition = Fake::Position{result, memory[0], memory[1], memory[2]};

    widget<QPushButton>(*w, QStringLiteral("pushButtonRestore"))->click();

    QCOMPARE(Fake::callsNamed("get_mem_position_ext").size(), 1);
    QCOMPARE(Fake::calls().first().args, QVariantList({handle(*w), 49, -1, -1, -1, 0}));
    QCOMPARE(this->sent(), sent);
    QCOMPARE(Fake::count("last_errorstr"), 0);
    QCOMPARE(boxes(), targets);
    QCOMPARE(sliders(), targets);
    QCOMPARE(w->statusBar()->currentMessage(), message);
    // Nothing to restore is a refusal: it stays until the next act replaces it.
    expectShownFor(w->statusBar(), result < 0 ? 0 : 1000);
}

QTEST_MAIN(TestTargetMotion)
#include "tst_targetmotion.moc"
