// The pad window as a hand controller: jogging by steps, the keys, Halt, and
// what it remembers.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "kesmarcontrol.h"
#include "paddialog.h"
#include "testsettings.h"
#include "widgetlookup.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLCDNumber>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

#include <memory>

using Triple = QVector<int>;

class TestPad : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void cleanup() { w.reset(); }

    void jogArithmetic_data();
    void jogArithmetic();
    void keysAndHalt_data();
    void keysAndHalt();
    void stepAndPlaceAreRemembered();
    void readoutsTellScreenReaders();

private:
    Triple boxes() { return {box("targetX"), box("targetY"), box("targetZ")}; }
    Triple sliders() { return {slider("sliderX"), slider("sliderY"), slider("sliderZ")}; }
    int box(const char *name) { return widget<QSpinBox>(*w, name)->value(); }
    int slider(const char *name) { return widget<QSlider>(*w, name)->value(); }
    QLineEdit *stepBox() { return widget<QComboBox>(*w, "comboBoxStep")->lineEdit(); }
    void run(const QString &action);

    std::unique_ptr<KesmarControl> w;
};

// One step of a row's script, as an operator or a script would do it.
void TestPad::run(const QString &action)
{
    const QStringList a = action.split(QLatin1Char(' '));
    const QString &verb = a[0];
    bool moves = true;
    if (action == "read fails") {
        Fake::script().position.result = -1;
        moves = false;
    } else if (action == "goto fails") {
        Fake::script().gotoResult = -1;
        moves = false;
    } else if (verb == "wheel") {
        // A notch up over the step box, which has not the focus.
        QComboBox *box = widget<QComboBox>(*w, "comboBoxStep");
        const QPointF at = QRectF(box->rect()).center();
        QWheelEvent wheel(at, box->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(box, &wheel);
        moves = false;
    } else if (verb == "step") {
        stepBox()->selectAll();
        QTest::keyClicks(stepBox(), a[1]);
        moves = false;
    } else if (verb.size() == 2 && (verb[1] == '+' || verb[1] == '-')) {
        const QString button = QStringLiteral("pushButton") + verb[0] + (verb[1] == '+' ? "Plus" : "Minus");
        widget<QPushButton>(*w, button)->click();
    } else if (verb == "move") {
        w->panel().jog(a[1].toInt(), a[2].toInt(), a[3].toInt());
    } else if (verb == "halt") {
        widget<QPushButton>(*w, "pushButtonHalt")->click();
    } else if (verb == "goto") {
        widget<QPushButton>(*w, "pushButtonGoto")->click();
    } else {
        moves = false;
        if (verb == "follow") {
            // Follow Target takes a live reading as the targets.
            w->panel().link().resumePolling();
            w->panel().link().poll();
            widget<QCheckBox>(*w, "followTarget")->setChecked(true);
        } else if (verb == "box")
            widget<QSpinBox>(*w, "target" + a[1])->setValue(a[2].toInt());
        else if (verb == "dev")
            widget<QSpinBox>(*w, "dev")->setValue(a[1].toInt());
        else if (verb == "pcmode") {
            PortSettings s = w->panel().link().portSettings();
            s.pcmode = true;
            w->panel().link().setPortSettings(s);
        } else
            QFAIL(qPrintable("unknown action " + action));
    }
    // Every move restarts polling; stopping it keeps polls out of the record.
    QVERIFY2(w->panel().link().isPolling() || !moves, qPrintable(action));
    w->panel().link().stopPolling();
}

void TestPad::jogArithmetic_data()
{
    QTest::addColumn<Triple>("position"); // what the device reports
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<int>("reads");
    QTest::addColumn<Triple>("targets");
    QTest::addColumn<QString>("message");

    const Triple at{1000, 2000, 3000};
    const QString ok = QStringLiteral("Goto command sent");
    const QString failed = QStringLiteral("Goto failed - fake failure");
    QTest::newRow("default step from a fresh reading")
        << at << QStringList{"X+"} << QStringList{"1100 2000 3000"} << 1 << Triple{1100, 2000, 3000} << ok;
    QTest::newRow("typed step") << at << QStringList{"step 250", "Z-"} << QStringList{"1000 2000 2750"} << 1
                                << Triple{1000, 2000, 2750} << ok;
    QTest::newRow("a wheel over the step box without the focus keeps the step")
        << at << QStringList{"wheel", "X+"} << QStringList{"1100 2000 3000"} << 1 << Triple{1100, 2000, 3000} << ok;
    QTest::newRow("an unfinished step keeps the one before")
        << at << QStringList{"step 30", "step 0", "Y+"} << QStringList{"1000 2030 3000"} << 1
        << Triple{1000, 2030, 3000} << ok;
    // Z reads 0xffff, -1 in the 16 bits the device uses.
    QTest::newRow("clamped to 0..20500") << Triple{20450, 30, 0xffff} << QStringList{"X+", "Y-"}
                                         << QStringList{"20500 30 0", "20500 0 0"} << 1 << Triple{20500, 0, 0}
                                         << QStringLiteral("Y stopped at the limit 0");
    QStringList tenPresses;
    QStringList tenSent;
    for (int i = 1; i <= 10; ++i) {
        tenPresses << "X+";
        tenSent << QStringLiteral("%1 2000 3000").arg(1000 + 10 * i);
    }
    QTest::newRow("ten quick presses add up")
        << at << QStringList{"step 10"} + tenPresses << tenSent << 1 << Triple{1100, 2000, 3000} << ok;
    QTest::newRow("the burst goes on across axes and from the scripting entry")
        << at << QStringList{"X+", "move 5 -5 5"} << QStringList{"1100 2000 3000", "1105 1995 3005"} << 1
        << Triple{1105, 1995, 3005} << ok;
    QTest::newRow("Goto ends the burst") << at << QStringList{"X+", "goto", "X+"}
                                         << QStringList{"1100 2000 3000", "1100 2000 3000", "1100 2000 3000"} << 2
                                         << Triple{1100, 2000, 3000} << ok;
    QTest::newRow("Halt stops where the device stands and ends the burst")
        << at << QStringList{"pcmode", "X+", "halt", "X+"}
        << QStringList{"1100 2000 3000", "1000 2000 3000", "1100 2000 3000"} << 3 << Triple{1100, 2000, 3000} << ok;
    QTest::newRow("a send under Follow Target ends the burst")
        << at << QStringList{"X+", "follow", "box Y 2500", "X+"}
        << QStringList{"1100 2000 3000", "1000 2500 3000", "1100 2000 3000"} << 3 << Triple{1100, 2000, 3000} << ok;
    QTest::newRow("under Follow Target a jog is sent once")
        << at << QStringList{"follow", "X+", "X+"} << QStringList{"1100 2000 3000", "1200 2000 3000"} << 2
        << Triple{1200, 2000, 3000} << ok;
    QTest::newRow("another device starts afresh")
        << at << QStringList{"X+", "dev 2", "X+"} << QStringList{"1100 2000 3000", "1100 2000 3000"} << 2
        << Triple{1100, 2000, 3000} << ok;
    // No targets: they stay as they were at start.
    QTest::newRow("failed read: nothing sent")
        << at << QStringList{"read fails", "X+"} << QStringList() << 1 << Triple() << failed;
    QTest::newRow("failed read: no halt")
        << at << QStringList{"read fails", "halt"} << QStringList() << 1 << Triple() << failed;
    QTest::newRow("failed goto: the targets keep the last jog sent")
        << at << QStringList{"X+", "goto fails", "X+"} << QStringList{"1100 2000 3000", "1200 2000 3000"} << 1
        << Triple{1100, 2000, 3000} << failed;
}

void TestPad::jogArithmetic()
{
    QFETCH(Triple, position);
    QFETCH(QStringList, actions);
    QFETCH(QStringList, sent);
    QFETCH(int, reads);
    QFETCH(Triple, targets);
    QFETCH(QString, message);

    RUN_STEP(WindowFixture::start(w, true));
    if (targets.isEmpty())
        targets = boxes();
    Fake::script().position = {0, position[0], position[1], position[2]};
    for (const QString &action : actions)
        RUN_STEP(run(action));

    QCOMPARE(WindowFixture::sentTargets(), sent);
    const QList<Fake::Call> readCalls = Fake::callsNamed("get_position_ext");
    QCOMPARE(readCalls.size(), reads);
    for (const Fake::Call &call : readCalls)
        QCOMPARE(call.args[2].toInt(), 0); // no waiting for a move to end, PC mode or not
    QCOMPARE(boxes(), targets);
    QCOMPARE(sliders(), targets);
    QCOMPARE(w->statusBar()->currentMessage(), message);
}

void TestPad::keysAndHalt_data()
{
    QTest::addColumn<QString>("receiver"); // the pad's widget that has the focus
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("step");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<bool>("shown");

    const int none = Qt::NoModifier;
    const QString pad = QStringLiteral("PadDialog");
    const QString stepBox = QStringLiteral("comboBoxStep");
    const QString button = QStringLiteral("pushButtonXPlus");
    QTest::newRow("Right") << pad << int(Qt::Key_Right) << none << 100 << QStringList{"1100 2000 3000"} << true;
    QTest::newRow("Left in the step box")
        << stepBox << int(Qt::Key_Left) << none << 100 << QStringList{"900 2000 3000"} << true;
    QTest::newRow("Shift+Up on a button")
        << button << int(Qt::Key_Up) << int(Qt::ShiftModifier) << 100 << QStringList{"1000 3000 3000"} << true;
    QTest::newRow("Ctrl+Down") << pad << int(Qt::Key_Down) << int(Qt::ControlModifier) << 100
                               << QStringList{"1000 1990 3000"} << true;
    QTest::newRow("Ctrl not below 1") << pad << int(Qt::Key_PageUp) << int(Qt::ControlModifier) << 1
                                      << QStringList{"1000 2000 3001"} << true;
    QTest::newRow("Page Down in the step box")
        << stepBox << int(Qt::Key_PageDown) << none << 100 << QStringList{"1000 2000 2900"} << true;
    QTest::newRow("halt key on a button")
        << button << int(Qt::Key_Space) << none << 100 << QStringList{"1000 2000 3000"} << true;
    QTest::newRow("halt key in the step box")
        << stepBox << int(Qt::Key_Space) << none << 100 << QStringList{"1000 2000 3000"} << true;
    QTest::newRow("Escape still closes") << stepBox << int(Qt::Key_Escape) << none << 100 << QStringList() << false;
    QTest::newRow("Alt+Right is no jog") << pad << int(Qt::Key_Right) << int(Qt::AltModifier) << 100 << QStringList()
                                         << true;
}

void TestPad::keysAndHalt()
{
    QFETCH(QString, receiver);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, step);
    QFETCH(QStringList, sent);
    QFETCH(bool, shown);

    RUN_STEP(WindowFixture::start(w, true));
    Fake::script().position = {0, 1000, 2000, 3000};
    PadDialog &pad = *widget<PadDialog>(*w, "PadDialog");
    pad.show();
    pad.setStep(step);
    QWidget *target = receiver == "PadDialog" ? &pad : pad.findChild<QWidget *>(receiver);
    QVERIFY(target);
    if (auto *combo = qobject_cast<QComboBox *>(target))
        target = combo->lineEdit();

    QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    w->panel().link().stopPolling();

    QCOMPARE(WindowFixture::sentTargets(), sent);
    QCOMPARE(pad.isVisible(), shown);
    // The key went to the pad, not to the widget: the step box kept its number.
    QCOMPARE(stepBox()->text(), QString::number(step));
    const QString haltKey = QKeySequence(Qt::Key_Space).toString(QKeySequence::NativeText);
    QVERIFY(widget<QPushButton>(*w, "pushButtonHalt")->toolTip().contains(haltKey));
}

void TestPad::stepAndPlaceAreRemembered()
{
    // Both are saved as they change, before the main window closes.
    const QRect place(120, 90, 520, 420);
    RUN_STEP(WindowFixture::start(w, true));
    PadDialog &first = *widget<PadDialog>(*w, "PadDialog");
    first.show();
    first.setGeometry(place);
    stepBox()->selectAll();
    QTest::keyClicks(stepBox(), QStringLiteral("250"));
    SettingsStore::waitForAllSaves();
    QVERIFY(TestSettings::readStore().contains("step=250"));
    first.close();
    SettingsStore::waitForAllSaves();
    QVERIFY(TestSettings::readStore().contains("geometry="));
    w.reset();

    RUN_STEP(WindowFixture::start(w, true));
    PadDialog &pad = *widget<PadDialog>(*w, "PadDialog");
    QCOMPARE(pad.step(), 250);
    pad.show();
    QCOMPARE(pad.geometry(), place);
    w.reset();

    // A damaged group gives the default step and size.
    TestSettings::writeStore("[pad]\nstep=0\ngeometry=@ByteArray(junk)\n");
    RUN_STEP(WindowFixture::start(w, true));
    QCOMPARE(widget<PadDialog>(*w, "PadDialog")->step(), 100);
    QCOMPARE(widget<PadDialog>(*w, "PadDialog")->size(), QSize(410, 343));
}

// Each readout gives its value in its name and through the value interface.
// (The change events need a platform with accessibility; offscreen has none.)
void TestPad::readoutsTellScreenReaders()
{
    RUN_STEP(WindowFixture::start(w, true));
    PadDialog &pad = *widget<PadDialog>(*w, "PadDialog");
    pad.showReading(1, 1234);
    QAccessibleInterface *readout = QAccessible::queryAccessibleInterface(widget<QLCDNumber>(pad, "Y"));
    QVERIFY(readout && readout->valueInterface());
    QCOMPARE(readout->text(QAccessible::Name), QStringLiteral("Y position 1234"));
    QCOMPARE(readout->text(QAccessible::Value), QStringLiteral("1234"));
    QCOMPARE(readout->valueInterface()->currentValue().toInt(), 1234);
    QCOMPARE(readout->role(), QAccessible::StaticText);
}

QTEST_MAIN(TestPad)
#include "tst_pad.moc"
