// Every way the main window moves the unit honours the travel envelope: a
// target outside it is refused whole with a message naming the axis, the
// value and the bound, and nothing is sent; a target on the bound, or one
// that takes an axis already outside closer, goes out; a jog stops at the
// bound; Halt is never refused. Run against the scripted library, with the
// envelope Z 5000..15000 (X and Y the whole travel) and straight moves.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "testsettings.h"
#include "testwindow.h"
#include "widgetlookup.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

#include <memory>

namespace {

QList<int> numbers(const QString &text)
{
    QList<int> n;
    for (const QString &part : text.split(' '))
        n << part.toInt();
    return n;
}

} // namespace

class TestEnvelope : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void everyPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("unit"); // where the unit stands
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("sent"); // the one target sent, or none
        QTest::addColumn<QString>("message"); // part of the status bar's message

        const QString in = QStringLiteral("10000 10000 10000");
        const QString below = QStringLiteral("10000 10000 3000");
        const QString above16 = QStringLiteral("Z 16000 is above the limit 15000");
        QTest::newRow("goto inside") << "goto" << in << "10000 10000 12000"
                                     << "10000 10000 12000"
                                     << "";
        QTest::newRow("goto on the bound") << "goto" << in << "10000 10000 15000"
                                           << "10000 10000 15000"
                                           << "";
        QTest::newRow("goto outside") << "goto" << in << "10000 10000 16000"
                                      << "" << above16;
        QTest::newRow("goto coming back in") << "goto" << below << "10000 10000 4000"
                                             << "10000 10000 4000"
                                             << "";
        QTest::newRow("goto across the envelope") << "goto" << below << "10000 10000 16000"
                                                  << "" << above16;
        QTest::newRow("follow on the bound") << "follow" << in << "10000 10000 15000"
                                             << "10000 10000 15000"
                                             << "";
        QTest::newRow("follow outside") << "follow" << in << "10000 10000 16000"
                                        << ""
                                        << "Z takes a whole number from 5000 to 15000";
        QTest::newRow("follow coming back in") << "follow" << below << "10000 10000 4000"
                                               << "10000 10000 4000"
                                               << "";
        QTest::newRow("entry under follow inside") << "recall" << in << "2000 3000 6000"
                                                   << "2000 3000 6000"
                                                   << "";
        QTest::newRow("entry under follow outside") << "recall" << in << "2000 3000 1000"
                                                    << ""
                                                    << "Z 1000 is below the limit 5000";
        // Follow Target turned on inside; the unit then stands outside.
        QTest::newRow("copy under follow outside") << "copy" << in << below << below << "copied";
        QTest::newRow("restore under follow outside") << "restore" << in << "10000 10000 16000"
                                                      << "" << above16;
        QTest::newRow("restore under follow coming back in") << "restore" << below << "10000 10000 4500"
                                                             << "10000 10000 4500"
                                                             << "";
        QTest::newRow("jog inside") << "jog" << in << "10000 10000 11000"
                                    << "10000 10000 11000"
                                    << "";
        QTest::newRow("jog past the bound") << "jog" << in << "10000 10000 17000"
                                            << "10000 10000 15000"
                                            << "Z stopped at the limit 15000";
        // Outward from outside: the unit stays, and the limit in the way is named.
        QTest::newRow("jog outward from outside")
            << "jog" << below << "10000 10000 2000" << below << "Z stopped at 3000, outside its limit 5000";
        QTest::newRow("jog past the end of the travel on X")
            << "jog" << QString("20400 10000 10000") << "20600 10000 10000"
            << "20500 10000 10000"
            << "X stopped at the limit 20500";
        QTest::newRow("halt outside") << "halt" << below << below << below << "";
        QTest::newRow("the pad's halt outside") << "pad halt" << below << below << below << "";
        QTest::newRow("script goto outside") << "script" << in << "10000 10000 16000"
                                             << "" << above16;
        QTest::newRow("script goto coming back in") << "script" << below << "10000 10000 4000"
                                                    << "10000 10000 4000"
                                                    << "";
    }

    void everyPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, unit);
        QFETCH(QString, target);
        QFETCH(QString, sent);
        QFETCH(QString, message);
        const QList<int> u = numbers(unit);
        const QList<int> t = numbers(target);

        TestSettings::writeStore(QStringLiteral("[settings]\nupdate=50\n"
                                                "[limits]\nenabled=true\nzmin=5000\nzmax=15000\nxmin=0\nxmax=20500\n"
                                                "ymin=0\nymax=20500\n"
                                                "[positions]\nsize=1\n1\\name=T\n1\\x=%1\n1\\y=%2\n1\\z=%3\n")
                                     .arg(t[0])
                                     .arg(t[1])
                                     .arg(t[2])
                                     .toUtf8());
        Fake::script().position = {0, u[0], u[1], u[2]};
        Fake::script().memPosition = {0, t[0], t[1], t[2]};
        auto w = std::make_unique<TestWindow>();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTRY_COMPARE_WITH_TIMEOUT(w->panel().link().state(), DeviceLink::State::Reading, 10000);
        auto *follow = widget<QCheckBox>(*w, "followTarget");
        auto *stores = widget<QComboBox>(*w, "stores");
        auto *targetZ = widget<QSpinBox>(*w, "targetZ");
        if (!QStringList{"goto", "jog", "halt", "pad halt", "script"}.contains(path)) {
            follow->setChecked(true);
            QVERIFY(follow->isChecked());
        }
        Fake::calls().clear();

        if (path == QLatin1String("goto")) {
            stores->setCurrentIndex(0);
            widget<QPushButton>(*w, "pushButtonGoto")->click();
        } else if (path == QLatin1String("follow")) {
            // Typed as the operator types, and sent with Enter.
            targetZ->setFocus();
            targetZ->selectAll();
            QTest::keyClicks(targetZ, QString::number(t[2]));
            QTest::keyClick(targetZ, Qt::Key_Return);
        } else if (path == QLatin1String("recall")) {
            emit stores->activated(0);
        } else if (path == QLatin1String("copy")) {
            // Pressed on the first reading there, before Follow Target turns
            // off for the unit resting away from its target.
            // Pressed once only: a second press would clear the record of the first.
            Fake::script().position = {0, t[0], t[1], t[2]};
            bool pressed = false;
            QObject context;
            connect(&w->panel().link(), &DeviceLink::positionRead, &context, [&] {
                if (pressed)
                    return;
                pressed = true;
                Fake::calls().clear();
                widget<QPushButton>(*w, "pushButtonCopy")->click();
            });
            QTRY_VERIFY(pressed);
        } else if (path == QLatin1String("restore")) {
            widget<QPushButton>(*w, "pushButtonRestore")->click();
        } else if (path == QLatin1String("jog")) {
            w->panel().jog(t[0] - u[0], t[1] - u[1], t[2] - u[2]);
        } else if (path == QLatin1String("halt")) {
            widget<QPushButton>(*w->centralWidget(), "pushButtonHalt")->click();
        } else if (path == QLatin1String("pad halt")) {
            widget<QAction>(*w, "actionPad")->trigger();
            widget<QPushButton>(*widget<QDialog>(*w, "PadDialog"), "pushButtonHalt")->click();
        } else {
            w->panel().gotoTargets(t[0], t[1], t[2]);
        }

        QCOMPARE(Fake::sentTargets(), sent.isEmpty() ? QStringList() : QStringList{sent});
        const QString shown = w->statusBar()->currentMessage();
        QVERIFY2(shown.contains(message), qPrintable(shown));
    }
};

QTEST_MAIN(TestEnvelope)
#include "tst_envelope.moc"
