// Named positions: the Store rules, restore by selection and Remove, including
// the selection changes that adding and removing combo items run in between.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "positionview.h"
#include "testsettings.h"
#include "testwindow.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

using namespace PositionView;

namespace {

// The widgets of the main window that the position store works with.
struct ListWidgets
{
    explicit ListWidgets(KesmarControl &w)
        : w(w)
        , targets{widget<QSpinBox>(w, "targetX"), widget<QSpinBox>(w, "targetY"), widget<QSpinBox>(w, "targetZ")}
        , sliders{widget<QSlider>(w, "sliderX"), widget<QSlider>(w, "sliderY"), widget<QSlider>(w, "sliderZ")}
        , stores(widget<QComboBox>(w, "stores"))
        , storeName(widget<QLineEdit>(w, "storeName"))
        , followTarget(widget<QCheckBox>(w, "followTarget"))
        , storeButton(widget<QPushButton>(w, "pushButtonStore"))
        , removeButton(widget<QPushButton>(w, "pushButtonRemove"))
    { }

    void setTargets(int x, int y, int z)
    {
        targets[0]->setValue(x);
        targets[1]->setValue(y);
        targets[2]->setValue(z);
    }
    void store(const QStringList &records) { PositionView::store(w, records); }
    QStringList records() const { return PositionView::records(w); }
    QStringList names() const { return PositionView::names(records()); }
    QStringList items() const { return PositionView::items(w); }
    QList<int> targetValues() const { return {targets[0]->value(), targets[1]->value(), targets[2]->value()}; }
    QList<int> sliderValues() const { return {sliders[0]->value(), sliders[1]->value(), sliders[2]->value()}; }
    QString message() const { return w.statusBar()->currentMessage(); }

    KesmarControl &w;
    QSpinBox *targets[3];
    QSlider *sliders[3];
    QComboBox *stores;
    QLineEdit *storeName;
    QCheckBox *followTarget;
    QPushButton *storeButton;
    QPushButton *removeButton;
};

QStringList messages(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &args : spy) {
        if (!args.first().toString().isEmpty())
            list << args.first().toString();
    }
    return list;
}

// The coordinates that store_mem_position_ext was given, in call order.
QList<QVariantList> sentTargets()
{
    QList<QVariantList> sent;
    for (const Fake::Call &call : Fake::callsNamed(QStringLiteral("store_mem_position_ext")))
        sent << call.args.mid(2, 3);
    return sent;
}

} // namespace

class TestPositionStore : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void storeRules_data();
    void storeRules();
    void renameKeepsTheSelection();
    void firstStoreSelectsTheNewItem_data();
    void firstStoreSelectsTheNewItem();
    void generatedNameFillsTheGapARemoveLeft();
    void longNamesKeepTheWindowOnTheScreen();
    void removeRestoresTheItemThatBecomesCurrent_data();
    void removeRestoresTheItemThatBecomesCurrent();
    void removeWithNothingToRestore();
    void selectionRestoresXThenYThenZThenName();
    void positionsBelongToTheirDevice_data();
    void positionsBelongToTheirDevice();
};

void TestPositionStore::storeRules_data()
{
    QTest::addColumn<QStringList>("seed");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("after");

    const QString a = rec("a", 100, 200, 300);
    const QString b = rec("b", 400, 500, 600);

    QTest::newRow("named into empty list")
        << QStringList() << rec("lab", 1, 2, 3) << "Position lab added" << QStringList{rec("lab", 1, 2, 3)};
    QTest::newRow("same name, same place")
        << QStringList{a, b} << rec("a", 100, 200, 300) << "Position a exists already" << QStringList{a, b};
    QTest::newRow("same name, new place")
        << QStringList{a} << rec("a", 100, 200, 301) << "Position a updated" << QStringList{rec("a", 100, 200, 301)};
    QTest::newRow("update even where another record is")
        << QStringList{a, b} << rec("a", 400, 500, 600) << "Position a updated"
        << QStringList{rec("a", 400, 500, 600), b};
    QTest::newRow("update of a later record")
        << QStringList{a, b} << rec("b", 1, 2, 3) << "Position b updated" << QStringList{a, rec("b", 1, 2, 3)};
    QTest::newRow("new name at a stored place renames")
        << QStringList{a, b} << rec("c", 400, 500, 600) << "Position renamed as c"
        << QStringList{a, rec("c", 400, 500, 600)};
    QTest::newRow("a later name match wins over an earlier place match")
        << QStringList{a, b} << rec("b", 100, 200, 300) << "Position b updated"
        << QStringList{a, rec("b", 100, 200, 300)};
    QTest::newRow("empty name at a stored place")
        << QStringList{a, rec("Lab", 7, 8, 9)} << rec("", 7, 8, 9) << "Same position exists as Lab"
        << QStringList{a, rec("Lab", 7, 8, 9)};
    QTest::newRow("names are case-sensitive")
        << QStringList{rec("home", 1, 1, 1)} << rec("Home", 2, 2, 2) << "Position Home added"
        << QStringList{rec("home", 1, 1, 1), rec("Home", 2, 2, 2)};
    QTest::newRow("case-changed name at the same place")
        << QStringList{rec("home", 1, 1, 1)} << rec("Home", 1, 1, 1) << "Position renamed as Home"
        << QStringList{rec("Home", 1, 1, 1)};
    QTest::newRow("white space at the ends of a name is left out")
        << QStringList{rec("Site B", 1, 1, 1)} << rec(" Site B ", 2, 2, 2) << "Position Site B updated"
        << QStringList{rec("Site B", 2, 2, 2)};
    QTest::newRow("placeholder in a name stays")
        << QStringList{a} << rec("%1 %2", 1, 2, 3) << "Position %1 %2 added" << QStringList{a, rec("%1 %2", 1, 2, 3)};
    // A generated name takes the smallest number no record has in its name.
    QTest::newRow("empty name at a new place")
        << QStringList{a, b} << rec("", 7, 8, 9) << "Position Pos 1 added" << QStringList{a, b, rec("Pos 1", 7, 8, 9)};
    QTest::newRow("generated name skips the used numbers")
        << QStringList{rec("Pos 1", 1, 1, 1), rec("Pos 3", 3, 3, 3), rec("Pos 2", 2, 2, 2), rec("Pos 04", 4, 4, 4)}
        << rec("", 5, 5, 5) << "Position Pos 4 added"
        << QStringList{rec("Pos 1", 1, 1, 1), rec("Pos 3", 3, 3, 3), rec("Pos 2", 2, 2, 2), rec("Pos 04", 4, 4, 4),
                       rec("Pos 4", 5, 5, 5)};
}

void TestPositionStore::storeRules()
{
    QFETCH(QStringList, seed);
    QFETCH(QString, input);
    QFETCH(QString, message);
    QFETCH(QStringList, after);

    TestWindow w;
    ListWidgets p(w);
    p.store(seed);
    QCOMPARE(p.records(), seed);

    QSignalSpy shown(w.statusBar(), &QStatusBar::messageChanged);
    p.store({input});
    QCOMPARE(p.message(), message);
    QCOMPARE(p.records(), after);
    QCOMPARE(p.items(), p.names());
    // Outcomes that change nothing show their message and nothing else.
    if (after == seed)
        QCOMPARE(messages(shown), QStringList{message});
}

void TestPositionStore::renameKeepsTheSelection()
{
    TestWindow w;
    ListWidgets p(w);
    p.store({rec("a", 1, 1, 1), rec("b", 2, 2, 2), rec("c", 3, 3, 3)});
    p.stores->setCurrentIndex(1);
    QCOMPARE(p.targetValues(), QList<int>({2, 2, 2}));

    QSignalSpy shown(w.statusBar(), &QStatusBar::messageChanged);
    p.store({rec("bee", 2, 2, 2)});
    QCOMPARE(p.items(), QStringList({"a", "bee", "c"}));
    QCOMPARE(p.records(), QStringList({rec("a", 1, 1, 1), rec("bee", 2, 2, 2), rec("c", 3, 3, 3)}));
    // The item's text changes in place: no recall, the selection stays.
    QCOMPARE(messages(shown), QStringList({"Position renamed as bee"}));
    QCOMPARE(p.stores->currentIndex(), 1);
    QCOMPARE(p.targetValues(), QList<int>({2, 2, 2}));
    QCOMPARE(p.storeName->text(), QStringLiteral("bee"));
}

void TestPositionStore::firstStoreSelectsTheNewItem_data()
{
    QTest::addColumn<bool>("follow");
    QTest::newRow("follow target off") << false;
    QTest::newRow("follow target on") << true;
}

void TestPositionStore::firstStoreSelectsTheNewItem()
{
    QFETCH(bool, follow);
    TestWindow w;
    ListWidgets p(w);
    p.setTargets(10, 20, 30);
    p.followTarget->setChecked(follow);
    p.storeName->clear();
    Fake::reset();

    QSignalSpy shown(w.statusBar(), &QStatusBar::messageChanged);
    p.storeButton->click();
    QCOMPARE(p.records(), QStringList{rec("Pos 1", 10, 20, 30)});
    QCOMPARE(p.items(), QStringList{"Pos 1"});
    QCOMPARE(p.stores->currentIndex(), 0);
    QCOMPARE(p.storeName->text(), QStringLiteral("Pos 1"));
    // Store is not a move: the selection it makes sends nothing, Follow
    // Target or not.
    QVERIFY(Fake::calls().isEmpty());
    QCOMPARE(messages(shown), QStringList({"Position Pos 1 restored", "Position Pos 1 added"}));
}

void TestPositionStore::generatedNameFillsTheGapARemoveLeft()
{
    TestWindow w;
    ListWidgets p(w);
    p.store({rec("", 10, 10, 10), rec("", 20, 20, 20)});
    QCOMPARE(p.items(), QStringList({"Pos 1", "Pos 2"}));
    QCOMPARE(p.stores->currentIndex(), 0);

    p.removeButton->click();
    QCOMPARE(p.items(), QStringList{"Pos 2"});
    QCOMPARE(p.targetValues(), QList<int>({20, 20, 20}));
    QCOMPARE(p.storeName->text(), QStringLiteral("Pos 2"));

    p.store({rec("", 30, 30, 30)});
    QCOMPARE(p.message(), QStringLiteral("Position Pos 1 added"));
    QCOMPARE(p.records(), QStringList({rec("Pos 2", 20, 20, 20), rec("Pos 1", 30, 30, 30)}));
    QCOMPARE(p.items(), p.names());
}

void TestPositionStore::longNamesKeepTheWindowOnTheScreen()
{
    // The window's width without names: the form's own.
    int plainWidth = 0;
    int plainMinimum = 0;
    {
        TestWindow plain;
        plain.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plain));
        plainWidth = plain.frameGeometry().width();
        plainMinimum = plain.minimumSizeHint().width();
    }
    const QString loaded = QStringLiteral("loaded ") + QString(3000, QLatin1Char('l'));
    // Store takes names of up to 200 characters; a file edited by hand may hold longer ones.
    const QString stored = QStringLiteral("stored ") + QString(193, QLatin1Char('s'));
    TestSettings::writeStore("[positions]\n1\\name=short\n1\\x=1\n1\\y=1\n1\\z=1\n2\\name=" + loaded.toLatin1()
                             + "\n2\\x=2\n2\\y=2\n2\\z=2\nsize=2\n");
    TestWindow w;
    ListWidgets p(w);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.frameGeometry().width(), plainWidth);
    p.store({rec(stored, 3, 3, 3)});
    QCOMPARE(w.minimumSizeHint().width(), plainMinimum);
    QCOMPARE(w.frameGeometry().width(), plainWidth);
    // And all of it fits an 800x600 screen, with room for a window frame.
    QVERIFY2(
        w.minimumSizeHint().width() <= 780 && w.minimumSizeHint().height() <= 560,
        qPrintable(QStringLiteral("needs %1x%2").arg(w.minimumSizeHint().width()).arg(w.minimumSizeHint().height())));
    QVERIFY2(w.frameGeometry().width() <= 800, qPrintable(QString::number(w.frameGeometry().width())));

    // The full names are there to read: as tool tips, and in the popup,
    // which is wider than the list. The loaded entry has no device.
    QCOMPARE(p.stores->itemData(1, Qt::ToolTipRole).toString(), loaded + "\nStored before positions had a device");
    QCOMPARE(p.stores->itemData(2, Qt::ToolTipRole).toString(), stored);
    p.stores->setCurrentIndex(2);
    QCOMPARE(p.stores->toolTip(), stored);
    p.stores->showPopup();
    QVERIFY(p.stores->view()->width() > p.stores->width());
    p.stores->hidePopup();
}

void TestPositionStore::removeRestoresTheItemThatBecomesCurrent_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<int>("newCurrent");
    QTest::addColumn<QString>("restored");

    QTest::newRow("first") << 0 << QStringList({"b", "c"}) << 0 << "b";
    QTest::newRow("middle") << 1 << QStringList({"a", "c"}) << 1 << "c";
    QTest::newRow("last") << 2 << QStringList({"a", "b"}) << 1 << "b";
}

void TestPositionStore::removeRestoresTheItemThatBecomesCurrent()
{
    QFETCH(int, current);
    QFETCH(QStringList, left);
    QFETCH(int, newCurrent);
    QFETCH(QString, restored);

    TestWindow w;
    ListWidgets p(w);
    p.store({rec("a", 1, 2, 3), rec("b", 4, 5, 6), rec("c", 7, 8, 9)});
    p.stores->setCurrentIndex(current);
    p.setTargets(100, 100, 100);
    p.storeName->setText("typed");

    QSignalSpy shown(w.statusBar(), &QStatusBar::messageChanged);
    p.removeButton->click();
    QCOMPARE(p.names(), left);
    QCOMPARE(p.items(), left);
    QCOMPARE(p.stores->currentIndex(), newCurrent);
    const Position r = w.panel().positions().positions().at(newCurrent);
    QCOMPARE(r.name, restored);
    QCOMPARE(p.targetValues(), QList<int>({r.x, r.y, r.z}));
    QCOMPARE(p.sliderValues(), QList<int>({r.x, r.y, r.z}));
    QCOMPARE(p.storeName->text(), restored);
    const QString removed = QStringList({"a", "b", "c"}).at(current);
    QCOMPARE(messages(shown),
             QStringList({QStringLiteral("Position %1 restored").arg(restored),
                          QStringLiteral("Position %1 removed").arg(removed)}));
}

void TestPositionStore::removeWithNothingToRestore()
{
    TestWindow w;
    ListWidgets p(w);
    QSignalSpy shown(w.statusBar(), &QStatusBar::messageChanged);
    p.removeButton->click(); // empty list
    QCOMPARE(p.stores->count(), 0);

    // No current item: nothing is removed.
    p.store({rec("a", 1, 2, 3), rec("b", 4, 5, 6)});
    p.stores->setCurrentIndex(-1);
    shown.clear();
    p.removeButton->click();
    QCOMPARE(p.items(), QStringList({"a", "b"}));
    QCOMPARE(p.names(), QStringList({"a", "b"}));
    QVERIFY(messages(shown).isEmpty());

    // The only entry: the combo box ends empty and the fields stay as they are.
    p.stores->setCurrentIndex(0);
    p.removeButton->click();
    QCOMPARE(p.items(), QStringList{"b"});
    p.setTargets(50, 60, 70);
    p.storeName->setText("typed");
    p.followTarget->setChecked(true);
    Fake::reset();
    shown.clear();
    p.removeButton->click();
    QVERIFY(w.panel().positions().positions().isEmpty());
    QCOMPARE(p.stores->count(), 0);
    QCOMPARE(p.targetValues(), QList<int>({50, 60, 70}));
    QCOMPARE(p.storeName->text(), QStringLiteral("typed"));
    QCOMPARE(messages(shown), QStringList{"Position b removed"});
    QVERIFY(Fake::calls().isEmpty());
}

void TestPositionStore::selectionRestoresXThenYThenZThenName()
{
    TestWindow w;
    ListWidgets p(w);
    p.store({rec("a", 1, 2, 3), rec("b", 4, 5, 6)});
    p.stores->setCurrentIndex(1); // seeding left b's values in the targets
    p.stores->setCurrentIndex(0);
    QCOMPARE(p.targetValues(), QList<int>({1, 2, 3}));

    // With Follow Target on (from a live reading where the unit stands at
    // a), the entry the operator chooses with Enter is sent once, whole.
    QTRY_VERIFY(w.panel().link().isOpen());
    Fake::script().position = {0, 1, 2, 3};
    w.panel().link().resumePolling();
    w.panel().link().poll();
    p.followTarget->setChecked(true);
    w.panel().link().stopPolling();
    Fake::reset();
    QStringList atRename;
    connect(p.storeName, &QLineEdit::textChanged, this, [&](const QString &text) {
        atRename << QStringLiteral("%1 %2 %3")
                        .arg(text, QString::number(p.targets[2]->value()), QString::number(p.sliders[2]->value()));
    });
    // Browsing shows the entry; Enter chooses it.
    QTest::keyClick(p.stores, Qt::Key_Down);
    QCOMPARE(sentTargets(), QList<QVariantList>());
    QTest::keyClick(p.stores, Qt::Key_Return);
    QCOMPARE(sentTargets(), QList<QVariantList>({{4, 5, 6}}));
    QCOMPARE(atRename, QStringList{"b 6 6"}); // the name comes after Z and its slider
    QCOMPARE(p.message(), QStringLiteral("Goto command sent"));

    // Without it, nothing is sent and the restore is named.
    p.followTarget->setChecked(false);
    Fake::reset();
    p.stores->setCurrentIndex(0);
    QVERIFY(Fake::calls().isEmpty());
    QCOMPARE(p.targetValues(), QList<int>({1, 2, 3}));
    QCOMPARE(p.sliderValues(), QList<int>({1, 2, 3}));
    QCOMPARE(p.storeName->text(), QStringLiteral("a"));
    QCOMPARE(p.message(), QStringLiteral("Position a restored"));
}

void TestPositionStore::positionsBelongToTheirDevice_data()
{
    QTest::addColumn<QString>("input"); // stored on device 2; empty for no store
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("onDevice2"); // the list's items there, "*" before an entry without a device
    QTest::addColumn<QStringList>("onDevice1"); // the same after going back to device 1

    const QStringList untouched2{"*old", "two"};
    const QStringList untouched1{"*old", "one"};
    QTest::newRow("device 2's own and those without a device")
        << QString() << "Device 2 selected" << untouched2 << untouched1;
    QTest::newRow("a new name is device 2's")
        << rec("new", 4, 4, 4) << "Position new added" << QStringList{"*old", "two", "new"} << untouched1;
    QTest::newRow("device 1's name is not taken over")
        << rec("one", 4, 4, 4) << "Position one belongs to device 1: not stored, choose another name" << untouched2
        << untouched1;
    QTest::newRow("device 1's place is not renamed")
        << rec("uno", 2, 2, 2) << "Position uno added" << QStringList{"*old", "two", "uno"} << untouched1;
    QTest::newRow("an entry without a device, updated, is device 2's")
        << rec("old", 4, 4, 4) << "Position old updated" << QStringList{"old", "two"} << QStringList{"one"};
}

void TestPositionStore::positionsBelongToTheirDevice()
{
    QFETCH(QString, input);
    QFETCH(QString, message);
    QFETCH(QStringList, onDevice2);
    QFETCH(QStringList, onDevice1);
    TestSettings::writeStore("[settings]\ndev=1\n[positions]\n1\\name=old\n1\\x=1\n1\\y=1\n1\\z=1\n"
                             "2\\name=one\n2\\x=2\n2\\y=2\n2\\z=2\n2\\device=1\n"
                             "3\\name=two\n3\\x=3\n3\\y=3\n3\\z=3\n3\\device=2\nsize=3\n");
    TestWindow w;
    ListWidgets p(w);
    QTRY_VERIFY(w.panel().link().isOpen());
    const auto shown = [&p] {
        QStringList list;
        for (int i = 0; i < p.stores->count(); ++i) {
            const bool marked = p.stores->itemData(i, Qt::FontRole).value<QFont>().italic();
            list << (marked ? "*" : "") + p.stores->itemText(i);
        }
        return list;
    };
    QCOMPARE(shown(), QStringList({"*old", "one"}));
    p.stores->setCurrentIndex(1);
    QCOMPARE(p.targetValues(), QList<int>({2, 2, 2}));

    // Another device: its list, the entry shown gone with device 1's, and
    // nothing recalled.
    widget<QSpinBox>(w, "dev")->setValue(2);
    QCOMPARE(p.stores->currentIndex(), -1);
    QCOMPARE(p.targetValues(), QList<int>({2, 2, 2}));
    QCOMPARE(p.storeName->text(), QStringLiteral("one"));
    if (!input.isEmpty())
        p.store({input});
    QCOMPARE(p.message(), message);
    QCOMPARE(shown(), onDevice2);

    // Device 1's entry, chosen under Follow Target while device 2 is driven
    // (as the panel's callers may), is refused: nothing is sent and the
    // targets stay.
    w.panel().link().poll();
    p.followTarget->setChecked(true);
    QVERIFY(p.followTarget->isChecked());
    const QList<int> targets = p.targetValues();
    Fake::reset();
    const ActResult chosen = w.panel().choose(w.panel().positions().find(QStringLiteral("one")));
    QCOMPARE(int(chosen.kind), int(ActResult::Kind::Refused));
    QCOMPARE(p.message(), QStringLiteral("Position one belongs to device 1, not to device 2: nothing sent"));
    QCOMPARE(sentTargets(), QList<QVariantList>());
    QCOMPARE(p.targetValues(), targets);

    widget<QSpinBox>(w, "dev")->setValue(1);
    QCOMPARE(shown(), onDevice1);
}

QTEST_MAIN(TestPositionStore)
#include "tst_positionstore.moc"
