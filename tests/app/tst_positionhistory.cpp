// Undo and Redo of the named positions, and the names Store refuses: what the
// list, the store file and the unit see.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "settingsstore.h"
#include "testsettings.h"
#include "testwindow.h"
#include "widgetlookup.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

#include <functional>

namespace {

// "name:x,y,z@device" for each entry, in the list's order.
QStringList records(const QList<Position> &positions)
{
    QStringList list;
    for (const Position &p : positions)
        list << QStringLiteral("%1:%2,%3,%4@%5").arg(p.name).arg(p.x).arg(p.y).arg(p.z).arg(p.device);
    return list;
}

// The entries the next start would load from the store file.
QStringList saved()
{
    SettingsStore::waitForAllSaves();
    return records(SettingsStore().load().positions);
}

// The window, live: its port open and one reading taken, polling left to the
// test, so Follow Target can be turned on.
struct ListWidgets
{
    ListWidgets()
    {
        QTRY_VERIFY_WITH_TIMEOUT(w.panel().link().isOpen(), 10000);
        w.panel().link().setPollInterval(3600 * 1000);
        w.panel().link().resumePolling();
        w.panel().link().poll();
    }

    void store(const QString &name, int x, int y, int z)
    {
        widget<QSpinBox>(w, "targetX")->setValue(x);
        widget<QSpinBox>(w, "targetY")->setValue(y);
        widget<QSpinBox>(w, "targetZ")->setValue(z);
        widget<QLineEdit>(w, "storeName")->setText(name);
        widget<QPushButton>(w, "pushButtonStore")->click();
    }
    QStringList records() const { return ::records(w.panel().positions().positions()); }
    QString message() const { return w.statusBar()->currentMessage(); }
    // An action's text as the menu shows it, without the mnemonic.
    QString text(const char *action) const { return widget<QAction>(w, action)->text().remove(QLatin1Char('&')); }

    TestWindow w;
};

int moves()
{
    return Fake::count(QStringLiteral("store_mem_position_ext")) + Fake::count(QStringLiteral("goto_mem_position_ext"));
}

using Change = std::function<void(ListWidgets &)>;

} // namespace

Q_DECLARE_METATYPE(Change)

class TestPositionHistory : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void undoAndRedo_data();
    void undoAndRedo();
    void namesRefused_data();
    void namesRefused();
};

void TestPositionHistory::undoAndRedo_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("undo"); // the change as the Edit menu names it

    QTest::newRow("add") << Change([](ListWidgets &p) { p.store("Site C", 3, 3, 3); }) << "Position Site C added"
                         << "add Site C";
    QTest::newRow("update") << Change([](ListWidgets &p) { p.store("Site A", 5, 6, 7); }) << "Position Site A updated"
                            << "update Site A";
    QTest::newRow("rename") << Change([](ListWidgets &p) { p.store("Site Z", 2, 2, 2); })
                            << "Position renamed as Site Z"
                            << "rename Site B as Site Z";
    QTest::newRow("add on device 2") << Change([](ListWidgets &p) {
        QVERIFY(p.w.panel().selectDevice(2).ok());
        p.w.panel().link().poll();
        p.store("Site E", 5, 5, 5);
    }) << "Position Site E added"
                                     << "add Site E";
    QTest::newRow("remove") << Change([](ListWidgets &p) {
        widget<QComboBox>(p.w, "stores")->setCurrentIndex(0);
        widget<QPushButton>(p.w, "pushButtonRemove")->click();
    }) << "Position Site A removed"
                            << "remove Site A";
}

void TestPositionHistory::undoAndRedo()
{
    QFETCH(Change, change);
    QFETCH(QString, message);
    QFETCH(QString, undo);

    ListWidgets p;
    p.store("Site A", 1, 1, 1);
    p.store("Site B", 2, 2, 2);
    p.store("Site D", 4, 4, 4);
    const QStringList before = p.records();
    QCOMPARE(saved(), before);

    change(p);
    QCOMPARE(p.message(), message);
    const QStringList after = p.records();
    QVERIFY(after != before);
    QCOMPARE(saved(), after);

    // Undone and redone under Follow Target, with the keys: the list and
    // the file go back and forth, and nothing moves.
    QCheckBox *follow = widget<QCheckBox>(p.w, "followTarget");
    follow->setChecked(true);
    QVERIFY(follow->isChecked());
    p.w.show();
    p.w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&p.w));
    widget<QComboBox>(p.w, "stores")->setFocus();
    Fake::reset();

    QCOMPARE(p.text("actionUndo"), "Undo " + undo);
    QTest::keyClick(&p.w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(p.records(), before);
    QCOMPARE(saved(), before);
    QCOMPARE(p.message(), "Undone: " + undo);
    QCOMPARE(p.text("actionRedo"), "Redo " + undo);

    QTest::keyClick(&p.w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(p.records(), after);
    QCOMPARE(saved(), after);
    QCOMPARE(p.text("actionUndo"), "Undo " + undo);
    QVERIFY(!widget<QAction>(p.w, "actionRedo")->isEnabled());

    QCOMPARE(moves(), 0);
    QVERIFY(follow->isChecked());
}

void TestPositionHistory::namesRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message"); // empty when the name is stored

    QTest::newRow("200 characters") << QString(200, QLatin1Char('n')) << QString();
    QTest::newRow("201 characters") << QString(201, QLatin1Char('n'))
                                    << "A position name has at most 200 characters, not 201";
    QTest::newRow("a newline") << "Site\nA"
                               << "A position name cannot hold control characters or line breaks; character 5 is one";
    QTest::newRow("a tab") << "Site\tA"
                           << "A position name cannot hold control characters or line breaks; character 5 is one";
}

void TestPositionHistory::namesRefused()
{
    QFETCH(QString, name);
    QFETCH(QString, message);

    ListWidgets p;
    p.store("Home", 1, 1, 1);
    SettingsStore::waitForAllSaves();
    const QByteArray file = TestSettings::readStore();

    p.store(name, 2, 2, 2);
    if (message.isEmpty()) {
        QCOMPARE(p.records(), QStringList({"Home:1,1,1@1", name + ":2,2,2@1"}));
        return;
    }
    QCOMPARE(p.message(), message);
    QCOMPARE(p.records(), QStringList{"Home:1,1,1@1"});
    SettingsStore::waitForAllSaves();
    QCOMPARE(TestSettings::readStore(), file);
    // The name stays in the field, whole, to be mended.
    QCOMPARE(widget<QLineEdit>(p.w, "storeName")->text(), name);
}

QTEST_MAIN(TestPositionHistory)
#include "tst_positionhistory.moc"
