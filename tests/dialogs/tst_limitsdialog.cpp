// The Limits dialog from the main window, against the scripted library: a
// bound taken from the live reading, limits with a problem kept out, and
// the main window (and Halt) usable while the dialog is open.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "settingsstore.h"
#include "testsettings.h"
#include "testwindow.h"
#include "widgetlookup.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <memory>

class TestLimitsDialog : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void okTakesOnlyLimitsWithoutProblem_data()
    {
        QTest::addColumn<int>("zmax");
        QTest::addColumn<QString>("problem");
        QTest::newRow("the position now as the floor") << 15000 << "";
        QTest::newRow("a floor above the ceiling") << 4000 << "Z minimum 7000 is above its maximum 4000";
    }

    void okTakesOnlyLimitsWithoutProblem()
    {
        QFETCH(int, zmax);
        QFETCH(QString, problem);
        TestSettings::writeStore("[settings]\nupdate=50\n");
        Fake::script().position = {0, 1000, 2000, 7000};
        auto w = std::make_unique<TestWindow>();
        widget<QAction>(*w, "actionLimits")->trigger();
        QDialog *dialog = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top->objectName() == QLatin1String("LimitsDialog"))
                dialog = qobject_cast<QDialog *>(top);
        }
        QVERIFY(dialog && dialog->isVisible());
        // Enabled once there is a live reading to take the bound from.
        auto *here = widget<QPushButton>(*dialog, "zminHere");
        QTRY_VERIFY_WITH_TIMEOUT(here->isEnabled(), 10000);
        widget<QGroupBox>(*dialog, "envelope")->setChecked(true);
        here->click();
        widget<QSpinBox>(*dialog, "zmax")->setValue(zmax);
        // The dialog leaves the main window usable, Halt with it.
        QVERIFY(!dialog->isModal() && !QApplication::activeModalWidget());

        widget<QDialogButtonBox>(*dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(widget<QLabel>(*dialog, "problem")->text(), problem);
        QCOMPARE(dialog->isVisible(), !problem.isEmpty());
        const TravelLimits &limits = w->panel().limits();
        QCOMPARE(limits.enabled, problem.isEmpty());
        QCOMPARE(limits.min[2], problem.isEmpty() ? 7000 : 0);
        // Saved at once, read back by the next start.
        SettingsStore::waitForAllSaves();
        QCOMPARE(TravelLimits::fromGroup(SettingsStore().load().groups.value("limits")).min[2], limits.min[2]);
    }

    // Limits a script sets while the dialog is open show in it at once, and
    // its OK applies exactly what it shows.
    void showsLimitsSetElsewhere()
    {
        auto w = std::make_unique<TestWindow>();
        widget<QAction>(*w, "actionLimits")->trigger();
        QDialog *dialog = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top->objectName() == QLatin1String("LimitsDialog") && top->isVisible())
                dialog = qobject_cast<QDialog *>(top);
        }
        QVERIFY(dialog);
        TravelLimits script;
        script.enabled = true;
        script.min[2] = 4000;
        script.max[2] = 19500;
        QVERIFY(w->panel().setLimits(script).ok());
        QVERIFY(widget<QGroupBox>(*dialog, "envelope")->isChecked());
        QCOMPARE(widget<QSpinBox>(*dialog, "zmin")->value(), 4000);
        QVERIFY(!widget<QLabel>(*dialog, "problem")->text().isEmpty());
        widget<QDialogButtonBox>(*dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(w->panel().limits().toGroup(), script.toGroup());
    }
};

QTEST_MAIN(TestLimitsDialog)
#include "tst_limitsdialog.moc"
