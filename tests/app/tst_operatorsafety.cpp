// Only the operator's explicit acts move the manipulator, once per act, and
// the device box shows the device that is driven.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "journalcheck.h"
#include "positionview.h"
#include "testsettings.h"
#include "testwindow.h"
#include "windowfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QLineEdit>
#include <QSlider>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

#include <functional>

using namespace PositionView;

using Act = std::function<void(KesmarControl &)>;
Q_DECLARE_METATYPE(Act)

class TestOperatorSafety : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void onlyExplicitActsMove_data();
    void onlyExplicitActsMove();

    // One group per rule of operator safety: a row is a list of acts, the
    // targets sent and what the window shows after them (see play()).
    void followMovesOnlyWhatChanges_data();
    void followMovesOnlyWhatChanges() { play(); }
    void jogStartsWhereTheUnitIs_data();
    void jogStartsWhereTheUnitIs() { play(); }
    void heldKeyStopsWithTheHand_data();
    void heldKeyStopsWithTheHand() { play(); }
    void haltAlwaysAtHand_data();
    void haltAlwaysAtHand() { play(); }
    void wheelWithoutFocusMovesNothing_data();
    void wheelWithoutFocusMovesNothing() { play(); }
    void typedValues_data();
    void typedValues() { play(); }
    void sliderAgreesWithItsBox_data();
    void sliderAgreesWithItsBox() { play(); }
    void theList_data();
    void theList() { play(); }
    void readoutsWaitAndFollow_data();
    void readoutsWaitAndFollow() { play(); }
    void coordinates_data();
    void coordinates() { play(); }

private:
    void columns();
    void play();
    void act(const QString &act);
    void expect(const QString &probe);

    std::unique_ptr<KesmarControl> w;
};

namespace {

void click(KesmarControl &w, const char *button)
{
    widget<QPushButton>(w, button)->click();
}

// The library calls made so far, as "open" and "select <id>", the latter
// marked when made without a connection.
QStringList startCalls()
{
    QStringList out;
    for (const Fake::Call &call : Fake::calls()) {
        if (call.name == QLatin1String("open"))
            out << call.name;
        else if (call.name == QLatin1String("select_dev"))
            out << QStringLiteral("select %1%2")
                       .arg(call.args[1].toInt())
                       .arg(call.args[0].toULongLong() ? "" : " offline");
    }
    return out;
}

// The targets sent, "id: x y z" per store call directly followed by its goto.
QStringList sent()
{
    QStringList out;
    const QList<Fake::Call> calls = Fake::calls();
    for (int i = 0; i < calls.size(); ++i) {
        const QVariantList a = calls[i].args;
        if (calls[i].name != QLatin1String("store_mem_position_ext"))
            continue;
        const bool goes = i + 1 < calls.size() && calls[i + 1].name == QLatin1String("goto_mem_position_ext");
        out << QStringLiteral("%1: %2 %3 %4%5")
                   .arg(a[1].toInt())
                   .arg(a[2].toInt())
                   .arg(a[3].toInt())
                   .arg(a[4].toInt())
                   .arg(goes ? "" : " (no goto)");
    }
    return out;
}

QVector<int> values(KesmarControl &w, const char *prefix)
{
    QVector<int> v;
    for (const char axis : {'X', 'Y', 'Z'}) {
        const QString name = QLatin1String(prefix) + QLatin1Char(axis);
        const QObject *o = w.findChild<QObject *>(name);
        v << o->property("value").toInt();
    }
    return v;
}

} // namespace

void TestOperatorSafety::onlyExplicitActsMove_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<int>("refused"); // a device id whose selection fails; none without a connection succeeds
    QTest::addColumn<int>("chosen"); // entry chosen before Follow Target is set, -1 none
    QTest::addColumn<bool>("follow");
    QTest::addColumn<Act>("act");
    QTest::addColumn<QStringList>("start");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QVector<int>>("targets");
    QTest::addColumn<int>("device"); // the box
    QTest::addColumn<int>("index"); // the list's current entry

    const QByteArray entries = "[positions]\n1\\name=a\n1\\x=1\n1\\y=1\n1\\z=1\n2\\name=b\n2\\x=2\n2\\y=2\n2\\z=2\n"
                               "3\\name=c\n3\\x=3\n3\\y=3\n3\\z=3\nsize=3\n";
    const Act pressGoto = [](KesmarControl &w) {
        click(w, "pushButtonGoto");
    };
    const Act show567 = [](KesmarControl &w) {
        widget<QLCDNumber>(w, "lcdNumberX")->display(5);
        widget<QLCDNumber>(w, "lcdNumberY")->display(6);
        widget<QLCDNumber>(w, "lcdNumberZ")->display(7);
        click(w, "pushButtonCopy");
    };
    const Act copy567 = [](KesmarControl &w) {
        // Polling on and a good poll make the reading live.
        Fake::script().position = {0, 5, 6, 7};
        w.panel().link().resumePolling();
        w.panel().link().poll();
        click(w, "pushButtonCopy");
    };
    const QStringList open1{"open", "select 49"};
    // The targets take the unit's first reading (the test double's 0 0 0);
    // without one they keep 0 0 10000.
    const QVector<int> start{0, 0, 0};

    QTest::newRow("stored device 2 is shown and driven")
        << QByteArray("[settings]\ndev=2\n") << 0 << -1 << false << pressGoto << QStringList{"open", "select 50"}
        << QStringList{"50: 0 0 0"} << start << 2 << -1;
    QTest::newRow("stored device out of range starts as 1")
        << QByteArray("[settings]\ndev=150\n") << 0 << -1 << false << pressGoto << open1 << QStringList{"49: 0 0 0"}
        << start << 1 << -1;
    QTest::newRow("stored device not a number starts as 1")
        << QByteArray("[settings]\ndev=two\n") << 0 << -1 << false << pressGoto << open1 << QStringList{"49: 0 0 0"}
        << start << 1 << -1;
    QTest::newRow("refused after the open: falls back to 1 and drives 1")
        << QByteArray("[settings]\ndev=2\n") << 50 << -1 << false << pressGoto
        << QStringList{"open", "select 50", "select 49"} << QStringList{"49: 0 0 10000"} << QVector<int>{0, 0, 10000}
        << 1 << -1;
    QTest::newRow("rename keeps the selection and sends nothing")
        << entries << 0 << 1 << true << Act([](KesmarControl &w) { store(w, {rec("bee", 2, 2, 2)}); }) << open1
        << QStringList() << QVector<int>{2, 2, 2} << 1 << 1;
    QTest::newRow("remove under Follow Target sends nothing")
        << entries << 0 << 1 << true << Act([](KesmarControl &w) { click(w, "pushButtonRemove"); }) << open1
        << QStringList() << QVector<int>{2, 2, 2} << 1 << 1;
    QTest::newRow("a typed value is sent once, when committed")
        << QByteArray() << 0 << -1 << true << Act([](KesmarControl &w) {
               QSpinBox *x = widget<QSpinBox>(w, "targetX");
               x->selectAll();
               QTest::keyClicks(x, QStringLiteral("19000"));
               QTest::keyClick(x, Qt::Key_Enter);
           })
        << open1 << QStringList{"49: 19000 0 0"} << QVector<int>{19000, 0, 0} << 1 << -1;
    QTest::newRow("Copy sends the whole target once") << QByteArray() << 0 << -1 << true << copy567 << open1
                                                      << QStringList{"49: 5 6 7"} << QVector<int>{5, 6, 7} << 1 << -1;
    QTest::newRow("Copy without a live reading sends nothing")
        << QByteArray() << 0 << -1 << true << show567 << open1 << QStringList() << start << 1 << -1;
}

void TestOperatorSafety::onlyExplicitActsMove()
{
    QFETCH(QByteArray, store);
    QFETCH(int, refused);
    QFETCH(int, chosen);
    QFETCH(bool, follow);
    QFETCH(Act, act);
    QFETCH(QStringList, start);
    QFETCH(QStringList, sent);
    QFETCH(QVector<int>, targets);
    QFETCH(int, device);
    QFETCH(int, index);

    if (!store.isEmpty())
        TestSettings::writeStore(store);
    // Like the real library, nothing can be selected without a connection.
    const auto selection = [refused](uint8_t id) {
        return Fake::calls().last().args[0].toULongLong() && id != refused ? 0 : -1;
    };
    Fake::script().onSelect = selection;
    TestWindow w;
    QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
    const QStringList started = startCalls();
    w.panel().link().stopPolling();
    if (chosen >= 0)
        widget<QComboBox>(w, "stores")->setCurrentIndex(chosen);
    // Follow Target from a live reading where the unit stands at the targets.
    if (follow) {
        const QVector<int> at = values(w, "target");
        WindowFixture::followFrom(w, at[0], at[1], at[2]);
    }
    Fake::reset();
    Fake::script().onSelect = selection;

    act(w);

    QCOMPARE(::sent(), sent);
    QCOMPARE(values(w, "target"), targets);
    QCOMPARE(values(w, "slider"), targets);
    QCOMPARE(widget<QSpinBox>(w, "dev")->value(), device);
    QCOMPARE(widget<QComboBox>(w, "stores")->currentIndex(), index);
    QCOMPARE(started, start);
    w.panel().link().stopPolling();
}

// ---------------------------------------------------------------------------
// Operator acts on the window against the test double. Acts:
//   at X Y Z         the unit reports X Y Z from now on (fail: reads fail)
//   poll             a poll with polling on, so a good read is live
//   follow, unfollow a click on Follow Target
//   X+, Z-           a click on the pad's button; key K, repeat K: a pad key
//                    (Right, Left, ...) pressed, or auto-repeated; hold X+,
//                    lift X+: the mouse pressed on the button, let go; held:
//                    held down until the button repeats a jog
//   halt, pad halt, space   the main window's Halt, the pad's, the Halt key
//   settings, about  Menu > Settings or About (left open)
//   arrow X          one click on the up arrow of target X
//   focus W          gives W the keyboard focus
//   type X 123, enter X     typed into target X; Enter on it
//   wheel W          one notch up over widget W (by object name)
//   groove X         a click in slider X's groove, right of its handle
//   dev N, reconnect the device box; a click on the connection indicator
//   goto, store NAME, choose N   Goto; Store under NAME; the operator
//                    chooses entry N (also the one shown)
// Probes, "name=value": follow (0/1), targets ("x y z", the sliders alike),
// message (a part of the status bar's text), state (the indicator's word),
// readouts (0/1: enabled), dev, index, names ("a,b"), timeout, pcwait (the
// time argument of the last poll), polled (a poll follows the last send or
// selection before the regular one, which is an hour away).

void TestOperatorSafety::columns()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QStringList>("acts");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QStringList>("probes");
}

void TestOperatorSafety::play()
{
    QFETCH(QByteArray, store);
    QFETCH(QStringList, acts);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, probes);
    if (!store.isEmpty())
        TestSettings::writeStore(store);
    RUN_STEP(WindowFixture::start(w, true));
    w->panel().link().setPollInterval(3600 * 1000);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    for (const QString &a : acts)
        RUN_STEP(act(a));
    QCOMPARE(WindowFixture::sentTargets(), sent);
    // Every target the library was given has its row in the journal, in
    // order, and every row that says sent was given.
    const QString unjournaled = JournalCheck::mismatch(w->panel().journal());
    QVERIFY2(unjournaled.isEmpty(), qPrintable(unjournaled));
    for (const QString &p : probes)
        RUN_STEP(expect(p));
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window != w.get() && qobject_cast<QDialog *>(window) && window->isVisible())
            window->close();
    }
    w.reset();
}

namespace {

QSpinBox *target(KesmarControl &w, const QString &axis)
{
    return widget<QSpinBox>(w, "target" + axis);
}

PadDialog &pad(KesmarControl &w)
{
    return *widget<PadDialog>(w, "PadDialog");
}

// The pad's button for "X+", "Z-" and so on.
QPushButton *padButton(KesmarControl &w, const QString &jog)
{
    return widget<QPushButton>(pad(w), QStringLiteral("pushButton") + jog[0] + (jog[1] == '+' ? "Plus" : "Minus"));
}

int padKey(const QString &name)
{
    static const QMap<QString, int> keys{{"Right", Qt::Key_Right}, {"Left", Qt::Key_Left}, {"Up", Qt::Key_Up},
                                         {"Down", Qt::Key_Down},   {"Plus", Qt::Key_Plus}, {"Minus", Qt::Key_Minus}};
    return keys.value(name);
}

} // namespace

void TestOperatorSafety::act(const QString &act)
{
    const QStringList a = act.split(' ');
    const QString &verb = a[0];
    auto *follow = widget<QCheckBox>(*w, "followTarget");
    WindowFixture::untilLinkFree(*w);
    if (verb == "at") {
        Fake::script().position = {0, a[1].toInt(), a[2].toInt(), a[3].toInt()};
    } else if (verb == "fail") {
        Fake::script().position.result = -1;
    } else if (verb == "poll") {
        w->panel().link().resumePolling();
        w->panel().link().poll();
    } else if (verb == "follow" || verb == "unfollow") {
        QTest::mouseClick(follow, Qt::LeftButton, {}, QPoint(5, follow->height() / 2));
    } else if (verb.size() == 2 && (verb[1] == '+' || verb[1] == '-')) {
        padButton(*w, verb)->click();
    } else if (verb == "hold") {
        QTest::mousePress(padButton(*w, a[1]), Qt::LeftButton);
    } else if (verb == "lift") {
        QTest::mouseRelease(padButton(*w, a[1]), Qt::LeftButton);
    } else if (verb == "held") {
        // Held on until the button repeats its jog.
        const int sent = int(WindowFixture::sentTargets().size());
        QTRY_VERIFY_WITH_TIMEOUT(WindowFixture::sentTargets().size() > sent, 10000);
    } else if (verb == "key" || verb == "repeat") {
        QKeyEvent press(QEvent::KeyPress, padKey(a[1]), Qt::NoModifier, QString(), verb == "repeat");
        QApplication::sendEvent(&pad(*w), &press);
    } else if (verb == "release" || verb == "flicker") {
        // A release that stays, or one a press follows at once, unflagged, as
        // some platforms send for a held key.
        QSignalSpy released(&pad(*w), &PadDialog::jogReleased);
        QKeyEvent release(QEvent::KeyRelease, padKey(a[1]), Qt::NoModifier);
        QApplication::sendEvent(&pad(*w), &release);
        if (verb == "release") {
            QVERIFY(released.wait(5000));
        } else {
            QKeyEvent press(QEvent::KeyPress, padKey(a[1]), Qt::NoModifier);
            QApplication::sendEvent(&pad(*w), &press);
            QVERIFY(!released.wait(200));
        }
    } else if (verb == "escape") {
        // As the platform delivers it: to the window, then its focus widget.
        QWidget *window = w.get();
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (a[1] == "settings" && top->objectName() == "Settings" && top->isVisible())
                window = top;
        }
        if (a.size() > 2) {
            QWidget *field = window->findChild<QWidget *>(a[2]);
            QVERIFY(field);
            field->activateWindow();
            field->setFocus();
        }
        // The press alone: a dialog it closes goes before a release could reach it.
        QTest::keyPress(window->windowHandle(), Qt::Key_Escape);
    } else if (verb == "browse") {
        QTest::keyClick(widget<QComboBox>(*w, "stores"), a[1] == "Down" ? Qt::Key_Down : Qt::Key_Up);
    } else if (act == "enter list") {
        QTest::keyClick(widget<QComboBox>(*w, "stores"), Qt::Key_Return);
    } else if (verb == "halt") {
        w->centralWidget()->findChild<QPushButton *>("pushButtonHalt")->click();
    } else if (act == "pad halt") {
        widget<QPushButton>(pad(*w), "pushButtonHalt")->click();
    } else if (verb == "space") {
        QWidget *focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : w.get(), Qt::Key_Space);
    } else if (verb == "settings" || verb == "about") {
        widget<QAction>(*w, verb == "settings" ? "actionSettings" : "action_About")->trigger();
        QWidget *dialog = QApplication::activeModalWidget();
        QVERIFY2(!dialog, "a modal dialog blocks the other windows");
    } else if (verb == "arrow") {
        target(*w, a[1])->stepUp();
    } else if (verb == "focus") {
        QWidget *widget = w->findChild<QWidget *>(a[1]);
        widget->setFocus();
        QTRY_VERIFY(widget->hasFocus());
    } else if (verb == "type") {
        QSpinBox *box = target(*w, a[1]);
        box->setFocus();
        box->findChild<QLineEdit *>()->selectAll();
        QTest::keyClicks(box, a[2]);
    } else if (verb == "enter") {
        QTest::keyClick(target(*w, a[1]), Qt::Key_Enter);
    } else if (verb == "wheel") {
        QWidget *widget = w->findChild<QWidget *>(a[1]);
        const QPointF at = QRectF(widget->rect()).center();
        QWheelEvent wheel(at, widget->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(widget, &wheel);
    } else if (verb == "groove") {
        QSlider *slider = widget<QSlider>(*w, "slider" + a[1]);
        QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() - 3, slider->height() / 2));
    } else if (verb == "dev") {
        widget<QSpinBox>(*w, "dev")->setValue(a[1].toInt());
    } else if (verb == "reconnect") {
        auto *indicator = w->findChild<QToolButton *>("connectionIndicator");
        if (a.size() > 1) // from the keyboard, as the indicator has the focus
            QTest::keyClick(indicator, a[1] == "return" ? Qt::Key_Return : Qt::Key_Enter);
        else
            QTest::mouseClick(indicator, Qt::LeftButton);
    } else if (verb == "goto") {
        widget<QPushButton>(*w, "pushButtonGoto")->click();
    } else if (verb == "zero" || verb == "clearzero" || verb == "micrometres" || verb == "steps") {
        const char *action = verb == "zero" ? "actionZeroHere"
            : verb == "clearzero"           ? "actionClearZero"
            : verb == "steps"               ? "actionSteps"
                                            : "actionMicrometres";
        widget<QAction>(*w, action)->trigger();
    } else if (verb == "frame") {
        // Device coordinates: the pipette's angle and plane (as listed), OK.
        widget<QAction>(*w, "actionDeviceFrame")->trigger();
        QWidget *dialog = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "DeviceFrameDialog" && top->isVisible())
                dialog = top;
        }
        QVERIFY(dialog);
        widget<QDoubleSpinBox>(*dialog, "angle")->setValue(a[1].toDouble());
        widget<QComboBox>(*dialog, "plane")->setCurrentIndex(a[2].toInt());
        widget<QDialogButtonBox>(*dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    } else if (verb == "step") {
        pad(*w).setStep(a[1].toInt());
    } else if (verb == "advance" || verb == "withdraw") {
        widget<QPushButton>(pad(*w), verb == "advance" ? "pushButtonAdvance" : "pushButtonWithdraw")->click();
    } else if (verb == "store") {
        widget<QLineEdit>(*w, "storeName")->setText(a[1]);
        widget<QPushButton>(*w, "pushButtonStore")->click();
    } else if (verb == "choose") {
        auto *list = widget<QComboBox>(*w, "stores");
        list->setCurrentIndex(a[1].toInt());
        emit list->activated(a[1].toInt());
    } else {
        QFAIL(qPrintable("unknown act " + act));
    }
}

void TestOperatorSafety::expect(const QString &probe)
{
    const QString name = probe.section('=', 0, 0);
    const QString value = probe.section('=', 1);
    const auto xyz = [this](const char *prefix) {
        const QVector<int> v = values(*w, prefix);
        return QStringLiteral("%1 %2 %3").arg(v[0]).arg(v[1]).arg(v[2]);
    };
    if (name == "follow") {
        QCOMPARE(widget<QCheckBox>(*w, "followTarget")->isChecked(), value == "1");
    } else if (name == "targets") {
        QCOMPARE(xyz("target"), value);
        QCOMPARE(xyz("slider"), value);
    } else if (name == "message") {
        QVERIFY2(w->statusBar()->currentMessage().contains(value), qPrintable(w->statusBar()->currentMessage()));
    } else if (name == "state") {
        QCOMPARE(QString::fromLatin1(DeviceLink::stateWord(w->panel().link().state())), value);
        QVERIFY(w->findChild<QToolButton *>("connectionIndicator")->text().endsWith(value));
    } else if (name == "sources") {
        QStringList sources;
        for (const JournalRow &row : w->panel().journal().last(100))
            sources << JournalRow::sourceName(row.source);
        QCOMPARE(sources.join(','), value);
    } else if (name == "digits") {
        QCOMPARE(widget<QLCDNumber>(*w, "lcdNumberX")->digitCount(), value.toInt());
    } else if (name == "tip") {
        QCOMPARE(widget<QSlider>(*w, "sliderX")->toolTip(), value);
    } else if (name == "shown") {
        QStringList shown;
        for (const char *readout : {"lcdNumberX", "lcdNumberY", "lcdNumberZ"})
            shown << QString::number(widget<QLCDNumber>(*w, readout)->value());
        QCOMPARE(shown.join(' '), value);
    } else if (name == "boxes") {
        QCOMPARE(QStringList({target(*w, "X")->text(), target(*w, "Y")->text(), target(*w, "Z")->text()}).join(' '),
                 value);
    } else if (name == "indicator") {
        const QString text = w->findChild<QToolButton *>("connectionIndicator")->text();
        QVERIFY2(value.startsWith('-') ? !text.contains(value.mid(1)) : text.contains(value), qPrintable(text));
    } else if (name == "readouts") {
        QCOMPARE(widget<QLCDNumber>(*w, "lcdNumberX")->isEnabled(), value == "1");
    } else if (name == "dev") {
        QCOMPARE(widget<QSpinBox>(*w, "dev")->value(), value.toInt());
        QCOMPARE(w->panel().link().device(), value.toInt());
    } else if (name == "index") {
        QCOMPARE(widget<QComboBox>(*w, "stores")->currentIndex(), value.toInt());
    } else if (name == "names") {
        QStringList names;
        for (const Position &p : w->panel().positions().positions())
            names << p.name;
        QCOMPARE(names.join(','), value);
    } else if (name == "timeout") {
        QCOMPARE(w->panel().link().portSettings().timeout, value.toInt());
    } else if (name == "pcwait") {
        QCOMPARE(Fake::callsNamed("get_position_ext").last().args.at(2).toInt(), value.toInt());
    } else if (name == "polled") {
        const auto pollAfterSend = [] {
            const QStringList names = Fake::callNames();
            return names.lastIndexOf("get_position_ext")
                > std::max(names.lastIndexOf("goto_mem_position_ext"), names.lastIndexOf("select_dev"));
        };
        QTRY_VERIFY_WITH_TIMEOUT(pollAfterSend(), 10000);
    } else {
        QFAIL(qPrintable("unknown probe " + probe));
    }
}

void TestOperatorSafety::followMovesOnlyWhatChanges_data()
{
    columns();
    const QString at = QStringLiteral("at 1000 2000 3000");
    QTest::newRow("on: the targets are the live position, nothing sent")
        << QByteArray() << QStringList{at, "poll", "follow", "arrow X"} << QStringList{"1001 2000 3000"}
        << QStringList{"follow=1", "targets=1001 2000 3000"};
    QTest::newRow("no live reading: stays off and says why")
        << QByteArray() << QStringList{"follow", "arrow X"} << QStringList()
        << QStringList{"follow=0", "message=needs a live reading"};
    QTest::newRow("a device change turns it off")
        << QByteArray() << QStringList{at, "poll", "follow", "dev 2", "arrow X"} << QStringList()
        << QStringList{"follow=0", "dev=2"};
    QTest::newRow("a reconnect turns it off")
        << QByteArray() << QStringList{at, "poll", "follow", "fail", "poll", "reconnect", "arrow X"} << QStringList()
        << QStringList{"follow=0"};
    QTest::newRow("a front-panel move under way turns it off before any send")
        << QByteArray() << QStringList{at, "poll", "follow", "at 1000 2500 3500", "poll", "arrow X"} << QStringList()
        << QStringList{"follow=0", "message=moving at 1000 2500 3500"};
    QTest::newRow("ticked after a front-panel move, it stays on")
        << QByteArray() << QStringList{"at 5000 5000 5000", "poll", at, "poll", "follow", "poll", "poll", "arrow X"}
        << QStringList{"1001 2000 3000"} << QStringList{"follow=1"};
    QTest::newRow("the unit at rest elsewhere turns it off")
        << QByteArray() << QStringList{at, "poll", "follow", "at 5000 5000 5000", "poll", "poll", "arrow X"}
        << QStringList() << QStringList{"follow=0", "message=came to rest at 5000 5000 5000"};
}

void TestOperatorSafety::jogStartsWhereTheUnitIs_data()
{
    columns();
    const QString at = QStringLiteral("at 1000 2000 3000");
    QTest::newRow("after a front-panel move, from the fresh reading")
        << QByteArray() << QStringList{at, "X+", "at 5000 5000 5000", "poll", "X+"}
        << QStringList{"1100 2000 3000", "5100 5000 5000"} << QStringList();
    QTest::newRow("after another device and back, from the fresh reading")
        << QByteArray() << QStringList{at, "X+", "dev 2", "dev 1", "at 1050 2000 3000", "X+"}
        << QStringList{"1100 2000 3000", "1150 2000 3000"} << QStringList{"dev=1"};
    QTest::newRow("five quick presses make +500 exactly")
        << QByteArray() << QStringList{at, "X+", "poll", "X+", "X+", "at 1200 2000 3000", "poll", "X+", "X+"}
        << QStringList{"1100 2000 3000", "1200 2000 3000", "1300 2000 3000", "1400 2000 3000", "1500 2000 3000"}
        << QStringList{"targets=1500 2000 3000"};
    QTest::newRow("a script's retract after the unit was moved elsewhere")
        << QByteArray() << QStringList{at, "Z+", "at 5000 5000 5000", "poll", "poll", "Z-"}
        << QStringList{"1000 2000 3100", "5000 5000 4900"} << QStringList();
}

void TestOperatorSafety::heldKeyStopsWithTheHand_data()
{
    columns();
    const QString at = QStringLiteral("at 1000 2000 3000");
    QTest::newRow("repeats before arrival add nothing")
        << QByteArray() << QStringList{at, "key Right", "repeat Right", "repeat Right"} << QStringList{"1100 2000 3000"}
        << QStringList();
    QTest::newRow("a repeat after arrival adds one step")
        << QByteArray()
        << QStringList{at, "key Right", "repeat Right", "at 1100 2000 3000", "poll", "repeat Right", "repeat Right"}
        << QStringList{"1100 2000 3000", "1200 2000 3000"} << QStringList();
    QTest::newRow("a release while on its way halts")
        << QByteArray() << QStringList{at, "key Right", "release Right"}
        << QStringList{"1100 2000 3000", "1000 2000 3000"} << QStringList{"sources=key,Halt"};
    QTest::newRow("a release after arrival sends nothing")
        << QByteArray() << QStringList{at, "key Right", "at 1100 2000 3000", "poll", "release Right"}
        << QStringList{"1100 2000 3000"} << QStringList();
    QTest::newRow("an unflagged repeat is a repeat, not a release")
        << QByteArray() << QStringList{at, "key Right", "flicker Right", "flicker Right"}
        << QStringList{"1100 2000 3000"} << QStringList();
    QTest::newRow("a pad button held repeats after arrival, and let go on the way halts")
        << QByteArray() << QStringList{at, "hold X+", "at 1100 2000 3000", "poll", "held", "lift X+"}
        << QStringList{"1100 2000 3000", "1200 2000 3000", "1100 2000 3000"} << QStringList{"sources=pad,pad,Halt"};
    QTest::newRow("a fresh press still adds up") << QByteArray() << QStringList{at, "key Up", "key Up"}
                                                 << QStringList{"1000 2100 3000", "1000 2200 3000"} << QStringList();
}

void TestOperatorSafety::haltAlwaysAtHand_data()
{
    columns();
    const QString at = QStringLiteral("at 1234 2000 3000");
    QTest::newRow("the main window's Halt") << QByteArray() << QStringList{at, "halt"} << QStringList{"1234 2000 3000"}
                                            << QStringList{"targets=1234 2000 3000"};
    QTest::newRow("main window's Halt and key while Settings is open")
        << QByteArray() << QStringList{at, "settings", "halt", "space"}
        << QStringList{"1234 2000 3000", "1234 2000 3000"} << QStringList();
    QTest::newRow("pad's Halt and key while About is open")
        << QByteArray() << QStringList{at, "about", "pad halt", "space"}
        << QStringList{"1234 2000 3000", "1234 2000 3000"} << QStringList();
    QTest::newRow("Escape in the name field")
        << QByteArray() << QStringList{at, "escape main storeName"} << QStringList{"1234 2000 3000"} << QStringList();
    QTest::newRow("Escape in Settings' Port field, closing Settings")
        << QByteArray() << QStringList{at, "settings", "escape settings port"} << QStringList{"1234 2000 3000"}
        << QStringList();
    QTest::newRow("a stored time-out of 10000 is taken as 1000")
        << QByteArray("[settings]\ntimeout=10000\n") << QStringList() << QStringList() << QStringList{"timeout=1000"};
    QTest::newRow("PC mode: the unit waits at most 50 ms")
        << QByteArray("[settings]\npcmode=true\nupdate=2000\n") << QStringList{"poll"} << QStringList()
        << QStringList{"pcwait=50"};
}

void TestOperatorSafety::wheelWithoutFocusMovesNothing_data()
{
    columns();
    const QByteArray entries = "[positions]\n1\\name=a\n1\\x=1\n1\\y=1\n1\\z=1\n2\\name=b\n2\\x=2\n2\\y=2\n2\\z=2\n"
                               "size=2\n";
    const QStringList following{"at 1 1 1", "poll", "follow"};
    QTest::newRow("over the list") << entries << following + QStringList{"wheel stores", "wheel stores"}
                                   << QStringList() << QStringList{"index=0", "targets=1 1 1"};
    QTest::newRow("over the device box") << QByteArray() << QStringList{"wheel dev"} << QStringList()
                                         << QStringList{"dev=1"};
    QTest::newRow("over a target box") << entries << following + QStringList{"wheel targetX"} << QStringList()
                                       << QStringList{"targets=1 1 1"};
    QTest::newRow("over a slider") << entries << following + QStringList{"wheel sliderY"} << QStringList()
                                   << QStringList{"targets=1 1 1"};
    QTest::newRow("a target box with focus acts")
        << entries << following + QStringList{"focus targetX", "wheel targetX"} << QStringList{"2 1 1"}
        << QStringList{"targets=2 1 1"};
}

void TestOperatorSafety::typedValues_data()
{
    columns();
    const QStringList following{"at 0 0 10000", "poll", "follow"};
    QTest::newRow("25000 refused, the value in force stays")
        << QByteArray() << following + QStringList{"type X 25000", "enter X"} << QStringList()
        << QStringList{"targets=0 0 10000", "message=X takes a whole number from 0 to 20500"};
    QTest::newRow("under Follow Target only Enter sends")
        << QByteArray() << following + QStringList{"type X 19000", "enter X"} << QStringList{"19000 0 10000"}
        << QStringList{"targets=19000 0 10000"};
    QTest::newRow("unticking Follow Target drops what was not entered")
        << QByteArray() << following + QStringList{"type X 19000", "unfollow", "goto"} << QStringList{"0 0 10000"}
        << QStringList{"follow=0", "targets=0 0 10000"};
}

void TestOperatorSafety::sliderAgreesWithItsBox_data()
{
    columns();
    QTest::newRow("a click in the groove moves the box by a page")
        << QByteArray() << QStringList{"groove X"} << QStringList() << QStringList{"targets=2050 0 0"};
    QTest::newRow("and is sent under Follow Target")
        << QByteArray() << QStringList{"at 0 0 10000", "poll", "follow", "groove X"} << QStringList{"2050 0 10000"}
        << QStringList{"targets=2050 0 10000"};
    QTest::newRow("the wheel with focus moves both") << QByteArray() << QStringList{"focus sliderY", "wheel sliderY"}
                                                     << QStringList() << QStringList{"targets=0 3 0"};
}

void TestOperatorSafety::theList_data()
{
    columns();
    const QByteArray entries = "[positions]\n1\\name=a\n1\\x=1\n1\\y=1\n1\\z=1\n2\\name=b\n2\\x=2\n2\\y=2\n2\\z=2\n"
                               "3\\name=c\n3\\x=99999\n3\\y=3\n3\\z=3\nsize=3\n";
    QTest::newRow("choosing the entry shown recalls it")
        << entries << QStringList{"arrow X", "arrow Y", "choose 0", "goto"} << QStringList{"1 1 1"}
        << QStringList{"targets=1 1 1"};
    QTest::newRow("and sends it under Follow Target")
        << entries << QStringList{"at 5 5 5", "poll", "follow", "choose 0"} << QStringList{"1 1 1"}
        << QStringList{"targets=1 1 1"};
    QTest::newRow("under Follow Target a chosen entry tells of its send")
        << entries << QStringList{"at 5 5 5", "poll", "follow", "choose 1"} << QStringList{"2 2 2"}
        << QStringList{"targets=2 2 2", "message=Goto command sent"};
    QTest::newRow("browsing under Follow Target only shows the entries")
        << entries << QStringList{"at 5 5 5", "poll", "follow", "browse Down", "browse Up", "browse Down"}
        << QStringList() << QStringList{"index=1", "targets=5 5 5", "follow=1"};
    QTest::newRow("Enter chooses the entry shown")
        << entries << QStringList{"at 5 5 5", "poll", "follow", "browse Down", "enter list"} << QStringList{"2 2 2"}
        << QStringList{"index=1", "targets=2 2 2"};
    QTest::newRow("without Follow Target browsing recalls")
        << entries << QStringList{"browse Down"} << QStringList() << QStringList{"index=1", "targets=2 2 2"};
    QTest::newRow("a name match wins over a coordinate match")
        << entries << QStringList{"choose 1", "store a"} << QStringList() << QStringList{"names=a,b", "targets=2 2 2"};
    QTest::newRow("an entry outside the travel is not loaded")
        << entries << QStringList() << QStringList() << QStringList{"names=a,b"};
}

void TestOperatorSafety::readoutsWaitAndFollow_data()
{
    columns();
    QTest::newRow("after a device change: waiting, the first reading at once")
        << QByteArray() << QStringList{"at 7 8 9", "poll", "dev 2"} << QStringList()
        << QStringList{"state=waiting", "readouts=0", "polled"};
    QTest::newRow("after a reconnect") << QByteArray() << QStringList{"fail", "poll", "reconnect"} << QStringList()
                                       << QStringList{"state=waiting", "readouts=0"};
    QTest::newRow("after a reconnect by Enter") << QByteArray() << QStringList{"fail", "poll", "reconnect enter"}
                                                << QStringList() << QStringList{"state=waiting", "readouts=0"};
    QTest::newRow("after a reconnect by Return") << QByteArray() << QStringList{"fail", "poll", "reconnect return"}
                                                 << QStringList() << QStringList{"state=waiting", "readouts=0"};
    QTest::newRow("a poll follows Goto") << QByteArray() << QStringList{"goto"} << QStringList{"0 0 0"}
                                         << QStringList{"polled"};
    QTest::newRow("a poll follows a jog")
        << QByteArray() << QStringList{"X+"} << QStringList{"100 0 0"} << QStringList{"polled"};
    QTest::newRow("a poll follows a Halt")
        << QByteArray() << QStringList{"halt"} << QStringList{"0 0 0"} << QStringList{"polled"};
}

// Micrometres, a zero of one's own and the pipette's axis change what is
// shown and typed; what is sent is the nearest whole step, and a move along
// the pipette goes whole or not at all.
void TestOperatorSafety::coordinates_data()
{
    columns();
    const QString at = QStringLiteral("at 1000 2000 3000");
    // Two steps per micrometre (three on X where it says so); the pipette at
    // 30 degrees, forward on X and down on Z.
    const QByteArray framed = "[devices]\nunits=micrometres\n1\\scale=2 2 2\n1\\angle=30\n";
    const QByteArray thirds = "[devices]\nunits=micrometres\n1\\scale=3 2 2\n";
    QTest::newRow("from a zero in micrometres, below it negative")
        << framed << QStringList{at, "poll", "zero", "at 1201 2000 2990", "poll"} << QStringList()
        << QStringList{"shown=100.5 0 -5", "indicator=zero set", "message=Zero set at 1000 2000 3000",
                       "tip=X: no limits set, -500.0..9750.0 µm"};
    // "-4500.0" at the unit's 0: seven cells, or the minus sign is lost.
    QTest::newRow("far below the zero the readouts keep their sign")
        << framed << QStringList{"at 9000 10000 12000", "poll", "zero", "at 6960 7960 9960", "poll"} << QStringList()
        << QStringList{"shown=-1020 -1020 -1020", "digits=7"};
    QTest::newRow("a zero cleared: the unit's own again")
        << framed << QStringList{at, "poll", "zero", "clearzero"} << QStringList()
        << QStringList{"shown=500 1000 1500", "indicator=-zero set"};
    QTest::newRow("steps chosen again, with a zero")
        << framed << QStringList{at, "poll", "zero", "at 1201 2000 2990", "poll", "micrometres", "steps"}
        << QStringList() << QStringList{"shown=201 0 -10"};
    QTest::newRow("a typed value goes as the nearest whole step")
        << thirds << QStringList{at, "poll", "follow", "type X 12.3", "enter X"} << QStringList{"37 2000 3000"}
        << QStringList{"boxes=12.3 1000.0 1500.0"};
    QTest::newRow("a typed value below the zero")
        << thirds << QStringList{at, "poll", "zero", "follow", "type X -100", "enter X"} << QStringList{"700 2000 3000"}
        << QStringList{"boxes=-100.0 0.0 0.0"};
    // 100 cos 30 um = 173.2 steps on X, 100 sin 30 um = 100 steps down on Z.
    QTest::newRow("an advance at 30 degrees, both axes in one target")
        << framed << QStringList{at, "poll", "step 100", "advance"} << QStringList{"1173 2000 2900"}
        << QStringList{"message=Advance by 100 µm along the pipette"};
    QTest::newRow("a held + advances once, repeats flagged or not")
        << framed << QStringList{at, "poll", "step 10", "key Plus", "repeat Plus", "flicker Plus"}
        << QStringList{"1017 2000 2990"} << QStringList();
    QTest::newRow("a withdraw by its key")
        << framed << QStringList{at, "poll", "step 10", "key Minus"} << QStringList{"983 2000 3010"} << QStringList();
    QTest::newRow("an advance past the limits goes not at all")
        << QByteArray(framed + "[limits]\nenabled=true\nzmin=2950\nzmax=20500\n")
        << QStringList{at, "poll", "step 100", "advance"} << QStringList()
        << QStringList{"message=Advance by 100 µm not sent: Z 2900 is below"};
    // Set in its dialog, the pipette straight down in the Y and Z plane;
    // the zero set before stays.
    QTest::newRow("the pipette set in Device coordinates")
        << framed << QStringList{at, "poll", "zero", "frame 90 1", "step 10", "advance"}
        << QStringList{"1000 2000 2980"} << QStringList{"indicator=zero set"};
    QTest::newRow("a step shorter than the unit's sends nothing")
        << QByteArray("[devices]\nunits=micrometres\n1\\scale=0.4 1 1\n") << QStringList{at, "poll", "step 1", "X+"}
        << QStringList() << QStringList{"message=less than one of the unit's"};
}

QTEST_MAIN(TestOperatorSafety)
#include "tst_operatorsafety.moc"
