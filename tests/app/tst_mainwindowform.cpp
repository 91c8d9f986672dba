// The main window's form and life cycle: object tree, order, texts, ranges,
// the start-up sequence and the close.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "kesmarcontrol.h"
#include "testsettings.h"
#include "ui_kesmarcontrol.h"
#include "widgetlookup.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

#include <memory>

class TestMainWindowForm : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void setupUiBuildsTheFormInOrder();
    void setupUiKeepsAnExistingObjectName();
    void widgetPropertiesAndTexts();
    void menuAndToolBar();
    void focusFollowsCreationOrder();
    void rangesBeforeAndAfterConstruction();
    void startOpensTheDefaultPortAfter100ms();
    void startSelectsTheShownDeviceOnceOpen();
    void exitClosesTheWindowAndSavesOnce();
    void destroyingClosesTheConnectionOnce();
    void noConnectionNoClose();
};

namespace {

QStringList childNames(const QObject *parent)
{
    QStringList names;
    for (const QObject *o : parent->children()) {
        if (!o->objectName().isEmpty() && !o->objectName().startsWith(QLatin1String("qt_")))
            names << o->objectName();
    }
    return names;
}

QStringList layoutItems(QLayout *layout)
{
    QStringList items;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget())
            items << item->widget()->objectName();
        else if (item->layout())
            items << item->layout()->objectName();
        else if (QSpacerItem *s = item->spacerItem())
            items << QStringLiteral("spacer %1x%2 %3/%4")
                         .arg(s->sizeHint().width())
                         .arg(s->sizeHint().height())
                         .arg(int(s->sizePolicy().horizontalPolicy()))
                         .arg(int(s->sizePolicy().verticalPolicy()));
    }
    return items;
}

QString spacer(int w, int h, QSizePolicy::Policy hp, QSizePolicy::Policy vp)
{
    return QStringLiteral("spacer %1x%2 %3/%4").arg(w).arg(h).arg(int(hp)).arg(int(vp));
}

} // namespace

void TestMainWindowForm::setupUiBuildsTheFormInOrder()
{
    QMainWindow window;
    Ui::KesmarControl ui;
    ui.setupUi(&window);

    QCOMPARE(window.objectName(), QStringLiteral("KesmarControl"));
    QCOMPARE(window.size(), QSize(702, 300));

    // Children of the window, in creation order.
    const QStringList windowChildren = childNames(&window);
    const QStringList expectedWindow
        = {QStringLiteral("actionSettings"), QStringLiteral("action_About"),  QStringLiteral("actionE_xit"),
           QStringLiteral("actionPad"),      QStringLiteral("centralWidget"), QStringLiteral("menuBar"),
           QStringLiteral("mainToolBar"),    QStringLiteral("statusBar")};
    QStringList filtered;
    for (const QString &n : windowChildren) {
        if (expectedWindow.contains(n))
            filtered << n;
    }
    QCOMPARE(filtered, expectedWindow);

    // Widgets of the central widget, in creation order.
    QStringList widgets;
    for (QObject *o : ui.centralWidget->children()) {
        if (o->isWidgetType())
            widgets << o->objectName();
    }
    QCOMPARE(widgets,
             QStringList(
                 {"label_5",         "lcdNumberX",        "label_6",          "lcdNumberY",     "label_7", "lcdNumberZ",
                  "targetX",         "targetY",           "targetZ",          "label_4",        "stores",  "storeName",
                  "pushButtonStore", "pushButtonRestore", "pushButtonRemove", "pushButtonCopy", "label_3", "dev",
                  "followTarget",    "pushButtonGoto",    "pushButtonHalt",   "sliderX",        "sliderY", "sliderZ"}));

    // Layout tree.
    QCOMPARE(ui.centralWidget->layout(), static_cast<QLayout *>(ui.gridLayout_2));
    QCOMPARE(ui.gridLayout_2->spacing(), 6);
    QCOMPARE(ui.gridLayout_2->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(layoutItems(ui.gridLayout_2), QStringList{"gridLayout"});
    QCOMPARE(ui.gridLayout->spacing(), 2);
    QCOMPARE(ui.gridLayout->sizeConstraint(), QLayout::SetMaximumSize);
    QCOMPARE(ui.gridLayout->columnCount(), 1);
    const QStringList rows
        = {"horizontalLayout", "horizontalLayout_6", "horizontalLayout_3", "horizontalLayout_5", "horizontalLayout_4"};
    QCOMPARE(ui.gridLayout->rowCount(), 5);
    for (int r = 0; r < 5; ++r) {
        QLayoutItem *item = ui.gridLayout->itemAtPosition(r, 0);
        QVERIFY(item && item->layout());
        QCOMPARE(item->layout()->objectName(), rows.at(r));
        QCOMPARE(item->layout()->spacing(), 6);
    }

    const auto Min = QSizePolicy::Minimum;
    const auto Exp = QSizePolicy::Expanding;
    QCOMPARE(layoutItems(ui.horizontalLayout),
             QStringList({"label_5", "lcdNumberX", spacer(1, 60, Min, Exp), "label_6", "lcdNumberY",
                          spacer(1, 60, Min, Exp), "label_7", "lcdNumberZ"}));
    QCOMPARE(
        layoutItems(ui.horizontalLayout_3),
        QStringList({spacer(20, 20, Exp, Min), "targetX", spacer(20, 40, Min, Exp), spacer(20, 20, Exp, Min), "targetY",
                     spacer(20, 40, Min, Exp), spacer(20, 20, Exp, Min), "targetZ", spacer(20, 40, Min, Exp)}));
    QCOMPARE(layoutItems(ui.horizontalLayout_5),
             QStringList({"label_4", "stores", "storeName", spacer(40, 20, Exp, Min), "pushButtonStore",
                          "pushButtonRestore", "pushButtonRemove", "pushButtonCopy"}));
    QCOMPARE(
        layoutItems(ui.horizontalLayout_4),
        QStringList({"label_3", "dev", spacer(40, 20, Exp, Min), "followTarget", "pushButtonGoto", "pushButtonHalt"}));
    QCOMPARE(layoutItems(ui.horizontalLayout_6),
             QStringList({"sliderX", spacer(20, 40, Min, Exp), "sliderY", spacer(20, 40, Min, Exp), "sliderZ"}));

    // Right after set-up: the form's own values and ranges.
    QCOMPARE(ui.targetX->value(), 0);
    QCOMPARE(ui.targetY->value(), 0);
    QCOMPARE(ui.targetZ->value(), 10000);
    for (QSpinBox *box : {ui.targetX, ui.targetY, ui.targetZ}) {
        QCOMPARE(box->minimum(), 0);
        QCOMPARE(box->maximum(), 21000);
        QCOMPARE(box->singleStep(), 1);
    }
    const QSlider plain;
    for (QSlider *slider : {ui.sliderX, ui.sliderY, ui.sliderZ}) {
        QCOMPARE(slider->minimum(), plain.minimum());
        QCOMPARE(slider->maximum(), plain.maximum());
        QCOMPARE(slider->pageStep(), plain.pageStep());
        QCOMPARE(slider->value(), 0);
    }
    QCOMPARE(ui.dev->value(), 0);
    QCOMPARE(ui.dev->minimum(), 0);
    QCOMPARE(ui.dev->maximum(), 99);
}

void TestMainWindowForm::setupUiKeepsAnExistingObjectName()
{
    QMainWindow window;
    window.setObjectName(QStringLiteral("already"));
    Ui::KesmarControl ui;
    ui.setupUi(&window);
    QCOMPARE(window.objectName(), QStringLiteral("already"));
}

void TestMainWindowForm::widgetPropertiesAndTexts()
{
    QMainWindow window;
    Ui::KesmarControl ui;
    ui.setupUi(&window);
    const QFont inherited = window.font();

    QCOMPARE(window.windowTitle(), QStringLiteral("KesmarControl"));
    QCOMPARE(ui.centralWidget->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(ui.centralWidget->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);

    const QList<QLabel *> axes = {ui.label_5, ui.label_6, ui.label_7};
    const QStringList axisTexts = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(axes[i]->text(), axisTexts[i]);
        QCOMPARE(axes[i]->maximumSize(), QSize(30, QWIDGETSIZE_MAX));
        QCOMPARE(axes[i]->font().pointSize(), 30);
        QCOMPARE(axes[i]->font().family(), inherited.family());
    }
    QCOMPARE(ui.label_5->alignment(), Qt::AlignCenter);
    const Qt::Alignment labelDefault = QLabel().alignment();
    QCOMPARE(ui.label_6->alignment(), labelDefault);
    QCOMPARE(ui.label_7->alignment(), labelDefault);

    for (QLCDNumber *lcd : {ui.lcdNumberX, ui.lcdNumberY, ui.lcdNumberZ}) {
        QCOMPARE(lcd->frameShape(), QFrame::NoFrame);
        QCOMPARE(lcd->segmentStyle(), QLCDNumber::Flat);
        QCOMPARE(lcd->digitCount(), 5);
        QCOMPARE(lcd->mode(), QLCDNumber::Dec);
        QCOMPARE(lcd->value(), 0.0);
    }
    QCOMPARE(ui.lcdNumberX->lineWidth(), 0);
    QCOMPARE(ui.lcdNumberZ->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(ui.lcdNumberZ->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    QVERIFY(ui.lcdNumberZ->font().kerning());
    QCOMPARE(ui.lcdNumberZ->font().pointSize(), inherited.pointSize());

    for (QSpinBox *box : {ui.targetX, ui.targetY, ui.targetZ}) {
        QCOMPARE(box->minimumSize(), QSize(100, 0));
        QCOMPARE(box->font().pointSize(), 18);
        QVERIFY(!box->wrapping());
        QVERIFY(box->hasFrame());
        QCOMPARE(box->alignment(), Qt::AlignCenter);
        QCOMPARE(box->buttonSymbols(), QAbstractSpinBox::PlusMinus);
        QVERIFY(!box->isAccelerated());
    }
    for (QSlider *slider : {ui.sliderX, ui.sliderY, ui.sliderZ}) {
        QCOMPARE(slider->orientation(), Qt::Horizontal);
        QCOMPARE(slider->tickPosition(), QSlider::TicksBothSides);
        QCOMPARE(slider->tickInterval(), 0);
    }
    QCOMPARE(ui.stores->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(ui.stores->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(ui.stores->count(), 0);
    QVERIFY(ui.storeName->text().isEmpty());
    QVERIFY(!ui.followTarget->isChecked());
    QCOMPARE(ui.pushButtonGoto->minimumSize(), QSize(175, 0));
    QVERIFY(ui.pushButtonGoto->autoDefault());
    QVERIFY(!ui.pushButtonGoto->isDefault());

    QCOMPARE(ui.label_4->text(), QStringLiteral("Position store"));
    QCOMPARE(ui.pushButtonStore->text(), QStringLiteral("Store"));
    QCOMPARE(ui.pushButtonRestore->text(), QStringLiteral("Restore"));
    QCOMPARE(ui.pushButtonRemove->text(), QStringLiteral("Remove"));
    QCOMPARE(ui.pushButtonCopy->text(), QStringLiteral("Copy"));
    QCOMPARE(ui.label_3->text(), QStringLiteral("Selected device"));
    QCOMPARE(ui.followTarget->text(), QStringLiteral("Follow Target"));
    QCOMPARE(ui.pushButtonGoto->text(), QStringLiteral("Goto"));
    QCOMPARE(ui.pushButtonHalt->text(), QStringLiteral("Halt"));
    QVERIFY(!ui.pushButtonHalt->autoDefault());

    // No shortcuts, tool tips or status tips anywhere, but Halt's tool tip
    // names its key.
    QVERIFY(ui.pushButtonHalt->toolTip().contains(QStringLiteral("Space")));
    for (QWidget *w : ui.centralWidget->findChildren<QWidget *>()) {
        QVERIFY2(w == ui.pushButtonHalt || w->toolTip().isEmpty(), qPrintable(w->objectName()));
        QVERIFY2(w->statusTip().isEmpty(), qPrintable(w->objectName()));
    }
}

void TestMainWindowForm::menuAndToolBar()
{
    QMainWindow window;
    Ui::KesmarControl ui;
    ui.setupUi(&window);

    QCOMPARE(window.menuBar(), ui.menuBar);
    QCOMPARE(window.statusBar(), ui.statusBar);
    QCOMPARE(window.centralWidget(), ui.centralWidget);
    QCOMPARE(ui.menuBar->geometry(), QRect(0, 0, 702, 26));
    QCOMPARE(ui.menuBar->actions().size(), 1);
    QCOMPARE(ui.menuBar->actions().first(), ui.menuMenu->menuAction());
    QCOMPARE(ui.menuMenu->title(), QStringLiteral("Menu"));
    QCOMPARE(ui.menuMenu->parent(), ui.menuBar);

    const QList<QAction *> entries = ui.menuMenu->actions();
    QCOMPARE(entries.size(), 6);
    QCOMPARE(entries[0], ui.actionPad);
    QCOMPARE(entries[1], ui.actionSettings);
    QVERIFY(entries[2]->isSeparator());
    QCOMPARE(entries[3], ui.action_About);
    QVERIFY(entries[4]->isSeparator());
    QCOMPARE(entries[5], ui.actionE_xit);

    QCOMPARE(ui.actionPad->text(), QStringLiteral("&Pad"));
    QCOMPARE(ui.actionSettings->text(), QStringLiteral("&Settings"));
    QCOMPARE(ui.action_About->text(), QStringLiteral("&About"));
    QCOMPARE(ui.actionE_xit->text(), QStringLiteral("E&xit"));
    QVERIFY(ui.actionPad->isCheckable());
    QVERIFY(!ui.actionPad->isChecked());
    for (QAction *a : {ui.actionSettings, ui.action_About, ui.actionE_xit}) {
        QVERIFY(!a->isCheckable());
        QVERIFY(a->shortcut().isEmpty());
        QCOMPARE(a->parent(), &window);
    }

    QCOMPARE(window.toolBarArea(ui.mainToolBar), Qt::TopToolBarArea);
    QVERIFY(ui.mainToolBar->actions().isEmpty());
    QVERIFY(ui.mainToolBar->windowTitle().isEmpty());
}

void TestMainWindowForm::focusFollowsCreationOrder()
{
    KesmarControl window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QStringList expected
        = {"targetX",         "targetY",           "targetZ",          "stores",         "storeName",
           "pushButtonStore", "pushButtonRestore", "pushButtonRemove", "pushButtonCopy", "dev",
           "followTarget",    "pushButtonGoto",    "sliderX",          "sliderY",        "sliderZ"};
    QWidget *first = window.findChild<QWidget *>(QStringLiteral("targetX"));
    QVERIFY(first);
    QStringList order;
    QWidget *w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus && w->isVisible())
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != first);
    QStringList filtered;
    for (const QString &n : order) {
        if (expected.contains(n))
            filtered << n;
    }
    QCOMPARE(filtered, expected);
}

void TestMainWindowForm::rangesBeforeAndAfterConstruction()
{
    KesmarControl window;
    // Each slider starts where its box stands.
    QCOMPARE(widget<QSpinBox>(window, "targetZ")->value(), 10000);
    QCOMPARE(widget<QSlider>(window, "sliderZ")->value(), 10000);
    for (const char *name : {"targetX", "targetY", "targetZ"}) {
        QSpinBox *box = widget<QSpinBox>(window, name);
        QVERIFY(box);
        QCOMPARE(box->minimum(), 0);
        QCOMPARE(box->maximum(), 20500);
        box->setValue(21000);
        QCOMPARE(box->value(), 20500);
    }
    for (const char *name : {"sliderX", "sliderY", "sliderZ"}) {
        QSlider *slider = widget<QSlider>(window, name);
        QVERIFY(slider);
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 20500);
        QCOMPARE(slider->pageStep(), 2050);
    }
}

void TestMainWindowForm::startOpensTheDefaultPortAfter100ms()
{
    QElapsedTimer sinceConstruction;
    sinceConstruction.start();
    KesmarControl window;
    // Nothing is opened while the window is built: the open waits for the event loop.
    QVERIFY(Fake::calls().isEmpty());
    QCOMPARE(window.link().portSettings().update, 1000);
    QCOMPARE(window.link().portSettings().timeout, 100);
    QCOMPARE(window.link().portSettings().pcmode, false);
    QCOMPARE(window.link().portSettings().port, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(window.link().device(), 1);
    QVERIFY(!window.link().isPolling());
    QCOMPARE(window.link().pollInterval(), 1000);

    QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
    QVERIFY2(sinceConstruction.elapsed() >= 100, "the port was opened before 100 ms had passed");
    const Fake::Call open = Fake::callsNamed("open").first();
    QCOMPARE(open.args, QVariantList({QStringLiteral("/dev/ttyUSB0"), 100}));
    QVERIFY(window.link().isOpen());
    QVERIFY(window.link().isPolling());
}

void TestMainWindowForm::startSelectsTheShownDeviceOnceOpen()
{
    // An empty store shows device 1 without selecting it; the selection is
    // made on the open connection, and polling starts with it.
    KesmarControl window;
    QCOMPARE(widget<QSpinBox>(window, "dev")->value(), 1);
    QVERIFY(!window.link().isPolling());
    QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
    QCOMPARE(Fake::callNames().mid(0, 2), QStringList({"open", "select_dev"}));
    QCOMPARE(Fake::callsNamed("select_dev").first().args, QVariantList({Fake::lastOpened(), 49}));
    // The first reading is polled at once; nothing moves.
    for (const QString &name : Fake::callNames().mid(2))
        QVERIFY2(name == "recv" || name == "get_position_ext", qPrintable(name));
    QVERIFY(window.link().isPolling());
}

void TestMainWindowForm::exitClosesTheWindowAndSavesOnce()
{
    KesmarControl window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QAction *exit = widget<QAction>(window, "actionE_xit");
    QVERIFY(exit);
    QAction *pad = widget<QAction>(window, "actionPad");
    pad->trigger(); // an open pad window does not keep the program alive
    QVERIFY(widget<PadDialog>(window, "PadDialog")->isVisible());

    // Exit from the running event loop: the loop ends with its normal code.
    QTimer::singleShot(0, exit, &QAction::trigger);
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { qApp->exit(99); });
    guard.start(20000);
    QCOMPARE(qApp->exec(), 0);
    guard.stop();
    QVERIFY(!window.isVisible());
    QVERIFY(QFile::exists(TestSettings::storeFile()));
    QSettings store(QStringLiteral("quellmark"), QStringLiteral("orvex"));
    QCOMPARE(store.value(QStringLiteral("settings/port")).toString(), QStringLiteral("/dev/ttyUSB0"));
}

void TestMainWindowForm::destroyingClosesTheConnectionOnce()
{
    QVariant handle;
    {
        KesmarControl window;
        QTRY_VERIFY_WITH_TIMEOUT(window.link().isOpen(), 10000);
        handle = Fake::lastOpened();
        window.close();
        QCOMPARE(Fake::count("close"), 0);
    }
    QCOMPARE(Fake::count("close"), 1);
    QCOMPARE(Fake::callsNamed("close").first().args, QVariantList({handle}));
    QCOMPARE(Fake::openConnections(), 0);
}

void TestMainWindowForm::noConnectionNoClose()
{
    Fake::script().openSucceeds = false;
    {
        KesmarControl window;
        QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
    }
    QCOMPARE(Fake::count("close"), 0);
}

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
