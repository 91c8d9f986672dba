// The main window's form and life cycle: object tree, order, texts, ranges,
// the start-up sequence and the close.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "limitsdialog.h"
#include "paddialog.h"
#include "settings.h"
#include "testsettings.h"
#include "testwindow.h"
#include "ui_kesmarcontrol.h"
#include "widgetlookup.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
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
    void emptyToolBarTakesNoPlace();
    void keyboardAndScreenReaders_data();
    void keyboardAndScreenReaders();
    void nothingClippedAtTheMinimumSize_data();
    void nothingClippedAtTheMinimumSize();
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
    QCOMPARE(widgets, QStringList({"label_5",
                                   "lcdNumberX",
                                   "label_6",
                                   "lcdNumberY",
                                   "label_7",
                                   "lcdNumberZ",
                                   "sliderX",
                                   "sliderY",
                                   "sliderZ",
                                   "targetX",
                                   "targetY",
                                   "targetZ",
                                   "label_4",
                                   "stores",
                                   "storeName",
                                   "pushButtonStore",
                                   "pushButtonRestore",
                                   "pushButtonRemove",
                                   "pushButtonCopy",
                                   "label_3",
                                   "dev",
                                   "followTarget",
                                   "pushButtonGoto",
                                   "pushButtonHalt",
                                   "pushButtonRetract",
                                   "pushButtonReturn"}));

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
    QCOMPARE(layoutItems(ui.horizontalLayout_4),
             QStringList({"label_3", "dev", spacer(40, 20, Exp, Min), "followTarget", "pushButtonGoto",
                          "pushButtonHalt", "pushButtonRetract", "pushButtonReturn"}));
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
        // As wide as the letter at any font size.
        QCOMPARE(axes[i]->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
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
    // Narrower than the 175 once given, so that the window fits an 800x600 screen with its frame.
    QCOMPARE(ui.pushButtonGoto->minimumSize(), QSize(150, 0));
    QVERIFY(ui.pushButtonGoto->autoDefault());
    QVERIFY(!ui.pushButtonGoto->isDefault());

    QCOMPARE(ui.label_4->text(), QStringLiteral("&Position store"));
    QCOMPARE(ui.pushButtonStore->text(), QStringLiteral("&Store"));
    QCOMPARE(ui.pushButtonRestore->text(), QStringLiteral("&Restore"));
    QCOMPARE(ui.pushButtonRemove->text(), QStringLiteral("Re&move"));
    QCOMPARE(ui.pushButtonCopy->text(), QStringLiteral("&Copy"));
    QCOMPARE(ui.label_3->text(), QStringLiteral("Selected &device"));
    QCOMPARE(ui.followTarget->text(), QStringLiteral("Follow &Target"));
    QCOMPARE(ui.pushButtonGoto->text(), QStringLiteral("&Goto"));

    QCOMPARE(ui.pushButtonHalt->text(), QStringLiteral("&Halt"));
    QVERIFY(!ui.pushButtonHalt->autoDefault());

    // No tool tips or status tips anywhere, but the buttons that move
    // without a target say what they do; Halt's names its key.
    QVERIFY(ui.pushButtonHalt->toolTip().contains(QStringLiteral("Space")));
    for (QWidget *w : ui.centralWidget->findChildren<QWidget *>()) {
        const bool says = w == ui.pushButtonHalt || w == ui.pushButtonRetract || w == ui.pushButtonReturn;
        QVERIFY2(says || w->toolTip().isEmpty(), qPrintable(w->objectName()));
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
    // Menus named for what they hold: File, Edit, View, Window, Help.
    QStringList menus;
    for (QAction *menu : ui.menuBar->actions()) {
        QVERIFY(menu->menu());
        QCOMPARE(menu->menu()->parent(), ui.menuBar);
        QStringList entries;
        for (QAction *entry : menu->menu()->actions())
            entries << (entry->isSeparator() ? QStringLiteral("-") : entry->objectName());
        menus << menu->text() + QLatin1Char(':') + entries.join(QLatin1Char(' '));
    }
    QCOMPARE(menus,
             QStringList({"&File:actionSettings actionLimits - actionE_xit", "&Edit:actionUndo actionRedo",
                          "&View: - actionZeroHere actionClearZero - actionShowAlong actionDeviceFrame",
                          "&Window:actionPad actionJournal", "&Help:action_About"}));
    QCOMPARE(ui.menuBar->actions().first(), ui.menuMenu->menuAction());

    QCOMPARE(ui.actionPad->text(), QStringLiteral("&Pad"));
    QCOMPARE(ui.actionJournal->text(), QStringLiteral("&Journal"));
    QCOMPARE(ui.actionSettings->text(), QStringLiteral("&Settings"));
    QCOMPARE(ui.action_About->text(), QStringLiteral("&About"));
    QCOMPARE(ui.actionE_xit->text(), QStringLiteral("E&xit"));
    QVERIFY(ui.actionPad->isCheckable());
    QVERIFY(!ui.actionPad->isChecked());
    for (QAction *a : {ui.actionSettings, ui.action_About, ui.actionE_xit}) {
        QVERIFY(!a->isCheckable());
        QCOMPARE(a->parent(), &window);
    }
    QCOMPARE(ui.actionE_xit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    QCOMPARE(ui.action_About->shortcut(), QKeySequence(Qt::Key_F1));

    QCOMPARE(window.toolBarArea(ui.mainToolBar), Qt::TopToolBarArea);
    QVERIFY(ui.mainToolBar->actions().isEmpty());
    QVERIFY(ui.mainToolBar->windowTitle().isEmpty());
}

// The tool bar stays in the form, but while it holds no actions it takes no
// row and no place among the window's children that a screen reader reads.
void TestMainWindowForm::emptyToolBarTakesNoPlace()
{
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QToolBar *bar = widget<QToolBar>(window, "mainToolBar");
    QCOMPARE(window.toolBarArea(bar), Qt::TopToolBarArea);
    QAccessibleInterface *tree = QAccessible::queryAccessibleInterface(&window);
    const auto children = [&] {
        QStringList names;
        for (int i = 0; i < tree->childCount(); ++i) {
            names << tree->child(i)->object()->objectName();
            if (tree->indexOfChild(tree->child(i)) != i)
                names << QStringLiteral("(index %1 reads back wrong)").arg(i);
        }
        return names;
    };
    for (const bool withAction : {false, true, false}) {
        if (withAction)
            bar->addAction(QStringLiteral("Tool"));
        else
            bar->clear();
        QCOMPARE(bar->isVisible(), withAction);
        QCOMPARE(children().contains(QStringLiteral("mainToolBar")), withAction);
        QVERIFY(children().contains(QStringLiteral("centralWidget")));
        // Without the bar, the window's contents start right below the menu bar.
        QTRY_COMPARE(window.centralWidget()->y() == window.menuBar()->geometry().bottom() + 1, !withAction);
    }
}

void TestMainWindowForm::keyboardAndScreenReaders_data()
{
    QTest::addColumn<QString>("form");
    // Every widget that takes focus by Tab, in the order Tab reaches them.
    QTest::addColumn<QStringList>("order");

    QTest::newRow("main window") << "KesmarControl"
                                 << QStringList{"sliderX",
                                                "sliderY",
                                                "sliderZ",
                                                "targetX",
                                                "targetY",
                                                "targetZ",
                                                "stores",
                                                "storeName",
                                                "pushButtonStore",
                                                "pushButtonRestore",
                                                "pushButtonRemove",
                                                "pushButtonCopy",
                                                "dev",
                                                "followTarget",
                                                "pushButtonGoto",
                                                "pushButtonHalt",
                                                "pushButtonRetract",
                                                "pushButtonReturn",
                                                "connectionIndicator"};
    QTest::newRow("settings") << "Settings"
                              << QStringList{"port", "ports", "update", "timeout", "cuInPCmode", "buttonBox"};
    QTest::newRow("pad") << "PadDialog" << QStringList{"pushButtonYPlus",  "pushButtonZPlus",  "pushButtonAdvance",
                                                       "pushButtonXMinus", "pushButtonHalt",   "pushButtonXPlus",
                                                       "pushButtonYMinus", "pushButtonZMinus", "pushButtonWithdraw",
                                                       "comboBoxStep"};
    QTest::newRow("limits") << "LimitsDialog" << QStringList{"envelope", "xmin",     "xminHere", "xmax",     "xmaxHere",
                                                             "ymin",     "yminHere", "ymax",     "ymaxHere", "zmin",
                                                             "zminHere", "zmax",     "zmaxHere", "ordered",  "axis",
                                                             "outward",  "safe",     "approach", "buttonBox"};
}

// Tab follows each form's layout, and every input has a label for it (its
// buddy, which also gives it a mnemonic) or an accessible name.
void TestMainWindowForm::keyboardAndScreenReaders()
{
    QFETCH(QString, form);
    QFETCH(QStringList, order);

    PortSettings values;
    std::unique_ptr<QWidget> window;
    if (form == QLatin1String("KesmarControl"))
        window = std::make_unique<TestWindow>();
    else if (form == QLatin1String("Settings"))
        window = std::make_unique<Settings>(&values);
    else if (form == QLatin1String("LimitsDialog"))
        window = std::make_unique<LimitsDialog>(TravelLimits());
    else
        window = std::make_unique<PadDialog>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    // The focus chain, each widget named by itself or by the box it belongs to.
    QStringList chain;
    QWidget *w = window.get();
    do {
        w = w->nextInFocusChain();
        if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(window.get()))
            continue;
        QWidget *named = w;
        while (named->objectName().isEmpty() || named->objectName().startsWith(QLatin1String("qt_")))
            named = named->parentWidget();
        if (chain.isEmpty() || chain.last() != named->objectName())
            chain << named->objectName();
    } while (w != window.get());
    QCOMPARE(chain.join(" "), order.join(" "));

    QSet<QWidget *> labelled;
    for (const QLabel *label : window->findChildren<QLabel *>())
        labelled << label->buddy();
    for (QWidget *input : window->findChildren<QWidget *>()) {
        const bool takesInput = qobject_cast<QAbstractSpinBox *>(input) || qobject_cast<QAbstractSlider *>(input)
            || qobject_cast<QComboBox *>(input) || qobject_cast<QLineEdit *>(input);
        // The form's own inputs: those of Qt's compound widgets are unnamed or named qt_*.
        if (takesInput && !input->objectName().isEmpty() && !input->objectName().startsWith(QLatin1String("qt_")))
            QVERIFY2(labelled.contains(input) || !input->accessibleName().isEmpty(), qPrintable(input->objectName()));
    }

    // Every button, check box and checkable box has an Alt letter of its own in its window (Space is
    // Halt); the pad's arrow buttons have their keys instead, the indicator its Enter.
    QMap<QChar, QString> letters;
    const auto letterOf = [&](QWidget *owner, const QString &text) {
        const QChar letter = QKeySequence::mnemonic(text).isEmpty()
            ? QChar()
            : QKeySequence::mnemonic(text).toString().back().toUpper();
        QVERIFY2(!letter.isNull(), qPrintable(owner->objectName() + ": " + text));
        QVERIFY2(!letters.contains(letter),
                 qPrintable(
                     QStringLiteral("%1 and %2 share Alt+%3").arg(letters.value(letter), owner->objectName(), letter)));
        letters.insert(letter, owner->objectName());
    };
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        const bool hasKey = button->objectName().contains(QRegularExpression(QStringLiteral("^pushButton[XYZ]")));
        if (button->window() == window.get() && button->isVisibleTo(window.get()) && !hasKey
            && button->objectName() != QLatin1String("connectionIndicator")
            && !button->objectName().startsWith(QLatin1String("qt_")))
            letterOf(button, button->text());
    }
    for (QGroupBox *box : window->findChildren<QGroupBox *>()) {
        if (box->window() == window.get() && box->isCheckable())
            letterOf(box, box->title());
    }
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (label->window() == window.get() && label->buddy())
            letterOf(label, label->text());
    }
}

void TestMainWindowForm::nothingClippedAtTheMinimumSize_data()
{
    QTest::addColumn<qreal>("fontScale");
    QTest::newRow("fonts as set") << 1.0;
    // As where fonts follow a 192 dpi screen but the widgets are not scaled.
    QTest::newRow("fonts doubled") << 2.0;
}

// At its minimum size hint the main window still gives every widget at
// least the room its own minimum size hint asks for: no text is cut.
void TestMainWindowForm::nothingClippedAtTheMinimumSize()
{
    QFETCH(qreal, fontScale);
    TestWindow window;
    QList<QWidget *> widgets = window.findChildren<QWidget *>();
    widgets << &window;
    QList<QFont> fonts;
    for (QWidget *w : widgets)
        fonts << w->font();
    for (int i = 0; i < widgets.size(); ++i) {
        QFont font = fonts.at(i);
        font.setPointSizeF(font.pointSizeF() * fontScale);
        widgets.at(i)->setFont(font);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(window.minimumSizeHint());
    // Qt 6 may keep the height a few pixels above the hint; the width is what squeezes.
    QTRY_COMPARE(window.width(), window.minimumSizeHint().width());

    for (QWidget *w : window.centralWidget()->findChildren<QWidget *>()) {
        const QSize needed = w->minimumSizeHint();
        if (!w->isVisible() || !needed.isValid() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QVERIFY2(w->width() >= needed.width() && w->height() >= needed.height(),
                 qPrintable(QStringLiteral("%1: %2x%3, needs %4x%5")
                                .arg(w->objectName())
                                .arg(w->width())
                                .arg(w->height())
                                .arg(needed.width())
                                .arg(needed.height())));
    }
}

void TestMainWindowForm::rangesBeforeAndAfterConstruction()
{
    TestWindow window;
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
    TestWindow window;
    // Nothing is opened while the window is built: the open waits for the event loop.
    QVERIFY(Fake::calls().isEmpty());
    QCOMPARE(window.panel().link().portSettings().update, 1000);
    QCOMPARE(window.panel().link().portSettings().timeout, 100);
    QCOMPARE(window.panel().link().portSettings().pcmode, false);
    QCOMPARE(window.panel().link().portSettings().port, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(window.panel().link().device(), 1);
    QVERIFY(!window.panel().link().isPolling());
    QCOMPARE(window.panel().link().pollInterval(), 1000);

    QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
    QVERIFY2(sinceConstruction.elapsed() >= 100, "the port was opened before 100 ms had passed");
    const Fake::Call open = Fake::callsNamed("open").first();
    QCOMPARE(open.args, QVariantList({QStringLiteral("/dev/ttyUSB0"), 100}));
    QVERIFY(window.panel().link().isOpen());
    QVERIFY(window.panel().link().isPolling());
}

void TestMainWindowForm::startSelectsTheShownDeviceOnceOpen()
{
    // An empty store shows device 1 without selecting it; the selection is
    // made on the open connection, and polling starts with it.
    TestWindow window;
    QCOMPARE(widget<QSpinBox>(window, "dev")->value(), 1);
    QVERIFY(!window.panel().link().isPolling());
    QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
    QCOMPARE(Fake::callNames().mid(0, 2), QStringList({"open", "select_dev"}));
    QCOMPARE(Fake::callsNamed("select_dev").first().args, QVariantList({Fake::lastOpened(), 49}));
    // The first reading is polled at once; nothing moves.
    for (const QString &name : Fake::callNames().mid(2))
        QVERIFY2(name == "recv" || name == "get_position_ext", qPrintable(name));
    QVERIFY(window.panel().link().isPolling());
}

void TestMainWindowForm::exitClosesTheWindowAndSavesOnce()
{
    TestWindow window;
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
        TestWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(window.panel().link().isOpen(), 10000);
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
        TestWindow window;
        QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
    }
    QCOMPARE(Fake::count("close"), 0);
}

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
