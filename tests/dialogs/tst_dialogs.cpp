// The port settings dialog and its action, the about box and the pad window.
// Modal dialogs are driven from inside their own event loop: a zero single-shot
// armed before the action finds the active modal dialog and works it.
#include "about.h"
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "nextmodal.h"
#include "paddialog.h"
#include "settings.h"
#include "testsettings.h"
#include "testwindow.h"
#include "ui_settings.h"
#include "widgetlookup.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSpinBox>
#include <QTextBrowser>
#include <QtTest>

#include <functional>
#include <memory>

#ifndef KESMAR_PROJECT_VERSION
#error "the build passes the project version to this test"
#endif

// Receives the URLs the about box hands to the desktop instead of a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestDialogs : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void settingsFormAndFill();
    void settingsAction_data();
    void settingsAction();
    void aboutFormAndText();
    void aboutLinkThenEitherButton_data();
    void aboutLinkThenEitherButton();
    void padForm();
    void padFollowsTheActionNotItsOwnClose_data();
    void padFollowsTheActionNotItsOwnClose();
};

namespace {

// A shown main window whose start-up open has been made (and succeeded or
// not); false if the open never came.
bool startWindow(std::unique_ptr<KesmarControl> &w, bool openSucceeds)
{
    Fake::script().openSucceeds = openSucceeds;
    w = std::make_unique<TestWindow>();
    w->show();
    return QTest::qWaitFor([] { return Fake::count("open") == 1; }, 10000);
}

// The date the way the compiler writes __DATE__: "Mmm dd yyyy", the day
// padded with a blank.
QString compilerStyle(const QDate &date)
{
    return QLocale::c().toString(date, QStringLiteral("MMM ")) + QStringLiteral("%1 ").arg(date.day(), 2)
        + QString::number(date.year());
}

} // namespace

void TestDialogs::settingsFormAndFill()
{
    // The form's own initial values, before any fill.
    QDialog plain;
    Ui::Settings form;
    form.setupUi(&plain);
    QCOMPARE(
        QVariantList({form.timeout->value(), form.update->value(), form.port->text(), form.cuInPCmode->isChecked()}),
        QVariantList({100, 1000, QString(), false}));

    PortSettings values{300, 250, true, QStringLiteral("/dev/ttyS3")};
    Settings dialog(&values);
    QCOMPARE(dialog.objectName(), QStringLiteral("Settings"));
    QCOMPARE(dialog.size(), QSize(460, 300));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
    QVERIFY(!dialog.parentWidget());

    auto *outer = qobject_cast<QGridLayout *>(dialog.layout());
    QVERIFY(outer);
    QCOMPARE(outer->objectName(), QStringLiteral("gridLayout_2"));
    QCOMPARE(outer->count(), 1);
    auto *grid = qobject_cast<QGridLayout *>(outer->itemAt(0)->layout());
    QVERIFY(grid);
    QCOMPARE(grid->objectName(), QStringLiteral("gridLayout"));

    // Every cell: class, name, row, column, spans and alignment flags.
    QStringList cells;
    for (int i = 0; i < grid->count(); ++i) {
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        const QWidget *widget = grid->itemAt(i)->widget();
        cells << QString::asprintf("%s %s %d,%d %dx%d %d", widget->metaObject()->className(),
                                   qPrintable(widget->objectName()), row, column, rowSpan, columnSpan,
                                   int(grid->itemAt(i)->alignment()));
    }
    QCOMPARE(cells,
             QStringList({"QLabel label 0,0 1x1 0", "QLineEdit port 0,1 1x1 0", "QLabel labelPorts 1,0 1x1 0",
                          "QListWidget ports 1,1 1x1 0", "QLabel label_3 2,0 1x1 0", "QSpinBox update 2,1 1x1 0",
                          "QLabel label_2 3,0 1x1 0", "QSpinBox timeout 3,1 1x1 0", "QCheckBox cuInPCmode 4,1 1x1 0",
                          "QDialogButtonBox buttonBox 5,1 1x1 0"}));
    QStringList texts;
    for (const char *name : {"label", "label_3", "label_2", "cuInPCmode", "port"})
        texts << dialog.findChild<QWidget *>(name)->property("text").toString();
    QCOMPARE(texts, QStringList({"&Port", "&Update", "&Timeout", " Control Unit in PC &mode", "/dev/ttyS3"}));

    auto *timeout = dialog.findChild<QSpinBox *>("timeout");
    auto *update = dialog.findChild<QSpinBox *>("update");
    QCOMPARE(QList<int>({timeout->minimum(), timeout->maximum(), timeout->singleStep(), timeout->value()}),
             QList<int>({10, 1000, 50, 250}));
    QCOMPARE(QList<int>({update->minimum(), update->maximum(), update->singleStep(), update->value()}),
             QList<int>({20, 10000, 100, 300}));
    QVERIFY(dialog.findChild<QCheckBox *>("cuInPCmode")->isChecked());
    auto *buttons = dialog.findChild<QDialogButtonBox *>("buttonBox");
    QCOMPARE(buttons->orientation(), Qt::Horizontal);
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
}

void TestDialogs::settingsAction_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<int>("storedTimeout");
    QTest::addColumn<int>("storedUpdate");
    QTest::addColumn<QString>("newPort"); // null: left as shown
    QTest::addColumn<int>("newTimeout"); // -1: left as shown
    QTest::addColumn<int>("newUpdate"); // -1: left as shown
    QTest::addColumn<bool>("toggleMode");
    QTest::addColumn<QString>("closeBy"); // ok, cancel or escape
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("update");
    QTest::addColumn<bool>("reopen");

    const QString usb0 = QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("ok, unchanged") << true << 100 << 1000 << QString() << -1 << -1 << false << "ok" << usb0 << 100
                                   << 1000 << false;
    QTest::newRow("port differs in case") << true << 100 << 1000 << "/dev/TTYUSB0" << -1 << -1 << false << "ok"
                                          << "/dev/TTYUSB0" << 100 << 1000 << true;
    // With no port open, OK opens it again even with nothing changed.
    QTest::newRow("ok, unchanged, no port open")
        << false << 100 << 1000 << QString() << -1 << -1 << false << "ok" << usb0 << 100 << 1000 << true;
    QTest::newRow("cancel, no port open")
        << false << 100 << 1000 << QString() << -1 << -1 << false << "cancel" << usb0 << 100 << 1000 << false;
    QTest::newRow("case change, no port open") << false << 100 << 1000 << "/dev/ttyusb0" << -1 << -1 << false << "ok"
                                               << "/dev/ttyusb0" << 100 << 1000 << true;
    // Clamped when loaded: OK then changes nothing.
    QTest::newRow("timeout 5000 loaded clamped")
        << true << 5000 << 1000 << QString() << -1 << -1 << false << "ok" << usb0 << 1000 << 1000 << false;
    QTest::newRow("update above 10000") << true << 100 << 20000 << QString() << -1 << -1 << false << "ok" << usb0 << 100
                                        << 10000 << false;
    QTest::newRow("update and mode only")
        << true << 100 << 1000 << QString() << -1 << 300 << true << "ok" << usb0 << 100 << 300 << false;
    QTest::newRow("port cleared") << true << 100 << 1000 << "" << -1 << -1 << false << "ok" << usb0 << 100 << 1000
                                  << false;
    QTest::newRow("port of blanks") << true << 100 << 1000 << "   " << -1 << -1 << false << "ok"
                                    << "   " << 100 << 1000 << true;
    QTest::newRow("cancel after editing all")
        << true << 100 << 20000 << "/dev/ttyS9" << 700 << 500 << true << "cancel" << usb0 << 100 << 20000 << false;
    QTest::newRow("escape after editing all")
        << true << 100 << 1000 << "/dev/ttyS9" << 700 << 500 << true << "escape" << usb0 << 100 << 1000 << false;
}

void TestDialogs::settingsAction()
{
    QFETCH(bool, portOpen);
    QFETCH(int, storedTimeout);
    QFETCH(int, storedUpdate);
    QFETCH(QString, newPort);
    QFETCH(int, newTimeout);
    QFETCH(int, newUpdate);
    QFETCH(bool, toggleMode);
    QFETCH(QString, closeBy);

    {
        QSettings store(QStringLiteral("quellmark"), QStringLiteral("orvex"));
        store.setValue(QStringLiteral("settings/timeout"), storedTimeout);
        store.setValue(QStringLiteral("settings/update"), storedUpdate);
    }
    std::unique_ptr<KesmarControl> w;
    QVERIFY(startWindow(w, portOpen));
    const PortSettings &values = w->panel().link().portSettings();
    QCOMPARE(values.timeout, qBound(PortSettings::minTimeout, storedTimeout, PortSettings::maxTimeout));
    QCOMPARE(w->panel().link().isOpen(), portOpen);
    const QVariant oldHandle = portOpen ? Fake::lastOpened() : QVariant::fromValue(quintptr(0));
    const int interval = w->panel().link().pollInterval();
    const bool pcmode = values.pcmode;
    Fake::script().openSucceeds = true;
    Fake::calls().clear();

    bool handled = false;
    QString portWhenClosed;
    onNewDialog([&] { widget<QAction>(*w, "actionSettings")->trigger(); },
                [&](QDialog *dialog) {
                    handled = true;
                    QVERIFY(qobject_cast<Settings *>(dialog));
                    connect(dialog, &QDialog::finished, [&] { portWhenClosed = values.port; });
                    QVERIFY(!dialog->parentWidget());
                    auto *port = dialog->findChild<QLineEdit *>("port");
                    auto *timeout = dialog->findChild<QSpinBox *>("timeout");
                    auto *update = dialog->findChild<QSpinBox *>("update");
                    auto *mode = dialog->findChild<QCheckBox *>("cuInPCmode");
                    QCOMPARE(port->text(), QStringLiteral("/dev/ttyUSB0"));
                    QCOMPARE(timeout->value(),
                             qBound(PortSettings::minTimeout, storedTimeout, PortSettings::maxTimeout));
                    QCOMPARE(update->value(), qBound(20, storedUpdate, 10000));
                    if (!newPort.isNull())
                        port->setText(newPort);
                    if (newTimeout >= 0)
                        timeout->setValue(newTimeout);
                    if (newUpdate >= 0)
                        update->setValue(newUpdate);
                    if (toggleMode)
                        mode->toggle();
                    auto *buttons = dialog->findChild<QDialogButtonBox *>("buttonBox");
                    if (closeBy == "ok")
                        buttons->button(QDialogButtonBox::Ok)->click();
                    else if (closeBy == "cancel")
                        buttons->button(QDialogButtonBox::Cancel)->click();
                    else
                        QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Escape);
                    QVERIFY(!dialog->isVisible());
                });
    QVERIFY(handled);
    QVERIFY(!QApplication::activeModalWidget());

    // Once the dialog has closed, the link holds the values OK gave.
    QTEST(portWhenClosed, "port");
    QTEST(values.port, "port");
    QTEST(values.timeout, "timeout");
    QTEST(values.update, "update");
    QCOMPARE(values.pcmode, toggleMode && closeBy == "ok" ? !pcmode : pcmode);
    QCOMPARE(w->panel().link().pollInterval(), interval);

    QStringList linkCalls;
    for (const QString &name : Fake::callNames()) {
        if (name == "close" || name == "open")
            linkCalls << name;
    }
    QFETCH(bool, reopen);
    if (!reopen) {
        QCOMPARE(linkCalls, QStringList());
        return;
    }
    // Only a port that is open is closed first.
    QCOMPARE(linkCalls, portOpen ? QStringList({"close", "open"}) : QStringList{"open"});
    if (portOpen)
        QCOMPARE(Fake::callsNamed("close").first().args, QVariantList({oldHandle}));
    QCOMPARE(Fake::callsNamed("open").first().args, QVariantList({values.port, values.timeout}));
    QVERIFY(w->panel().link().isOpen());
}

void TestDialogs::aboutFormAndText()
{
    const QString text = About::aboutText();
    static const QRegularExpression re(
        QStringLiteral("^<b><big>([^<]+)</big></b><br>v([0-9]+(?:\\.[0-9]+){2}) "
                       "([A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4})<br>([^<]+)<br><a href=\"([^\"]+)\">([^<]+)</a>$"));
    const QRegularExpressionMatch m = re.match(text);
    QVERIFY2(m.hasMatch(), qPrintable(text));
    QCOMPARE(m.captured(2), QStringLiteral(KESMAR_PROJECT_VERSION));
    const QDate built = QLocale::c().toDate(m.captured(3).simplified(), QStringLiteral("MMM d yyyy"));
    QCOMPARE(compilerStyle(built), m.captured(3));
    const QString thisFileBuilt = QStringLiteral(__DATE__);
    QVERIFY(built <= QLocale::c().toDate(thisFileBuilt.simplified(), QStringLiteral("MMM d yyyy")));
    QVERIFY2(m.captured(4).contains(QStringLiteral("GNU General Public License, version 3 or later")),
             qPrintable(m.captured(4)));
    QCOMPARE(m.captured(5), m.captured(6));
    QVERIFY(QUrl(m.captured(5)).isValid() && QUrl(m.captured(5)).scheme().startsWith("http"));

    std::unique_ptr<KesmarControl> w;
    QVERIFY(startWindow(w, false));
    bool handled = false;
    onNewDialog([&] { widget<QAction>(*w, "action_About")->trigger(); },
                [&](QDialog *dialog) {
                    handled = true;
                    QVERIFY(qobject_cast<About *>(dialog));
                    QCOMPARE(dialog->parentWidget(), w.get());
                    QCOMPARE(dialog->objectName(), QStringLiteral("About"));
                    QCOMPARE(dialog->windowTitle(), QStringLiteral("About KesmarControl"));
                    QCOMPARE(dialog->size(), QSize(351, 151));
                    QVERIFY(!dialog->layout());
                    auto *buttons = dialog->findChild<QDialogButtonBox *>("buttonBox");
                    auto *browser = dialog->findChild<QTextBrowser *>("text");
                    QCOMPARE(buttons->geometry(), QRect(10, 110, 331, 32));
                    QCOMPARE(buttons->orientation(), Qt::Horizontal);
                    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
                    QCOMPARE(browser->geometry(), QRect(10, 10, 331, 91));
                    QVERIFY(browser->openExternalLinks());
                    QVERIFY(browser->isReadOnly());
                    // Shown as rich text: the tags are gone, the four elements are lines.
                    const QString shown = browser->toPlainText();
                    QCOMPARE(shown.split(QRegularExpression(QStringLiteral("[\\n\\x{2028}\\x{2029}]"))).size(), 4);
                    // Rich text folds the blank that pads a one-digit day.
                    QVERIFY(shown.contains("v" + m.captured(2) + " " + m.captured(3).simplified()));
                    QVERIFY(!shown.contains('<'));
                    QTextCursor title = browser->document()->find(m.captured(1));
                    QVERIFY(title.charFormat().fontWeight() > QFont::Normal);
                    QVERIFY(title.charFormat().fontPointSize() > browser->font().pointSizeF()
                            || title.charFormat().property(QTextFormat::FontSizeAdjustment).toInt() > 0);
                    QTextCursor link = browser->document()->find(m.captured(6));
                    QVERIFY(link.charFormat().isAnchor());
                    QCOMPARE(link.charFormat().anchorHref(), m.captured(5));
                });
    QVERIFY(handled);
}

void TestDialogs::aboutLinkThenEitherButton_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("ok") << int(QDialogButtonBox::Ok);
    QTest::newRow("cancel") << int(QDialogButtonBox::Cancel);
}

void TestDialogs::aboutLinkThenEitherButton()
{
    QFETCH(int, button);
    const QString href = QRegularExpression(QStringLiteral("href=\"([^\"]+)\"")).match(About::aboutText()).captured(1);
    const QString scheme = QUrl(href).scheme();
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(scheme, &catcher, "open");
    std::unique_ptr<KesmarControl> w;
    QVERIFY(startWindow(w, false));
    QPointer<QDialog> about;
    bool openAfterLink = false;
    onNewDialog([&] { widget<QAction>(*w, "action_About")->trigger(); },
                [&](QDialog *dialog) {
                    about = dialog;
                    auto *browser = dialog->findChild<QTextBrowser *>("text");
                    const QTextCursor found = browser->document()->find(href);
                    QTextCursor middle(browser->document());
                    middle.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
                    // How much of the text fits without scrolling depends on the fonts.
                    browser->setTextCursor(middle);
                    browser->ensureCursorVisible();
                    const QPoint at = browser->cursorRect(middle).center();
                    QVERIFY(browser->viewport()->rect().contains(at));
                    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
                    QTRY_COMPARE_WITH_TIMEOUT(catcher.urls.size(), 1, 10000);
                    openAfterLink = dialog->isVisible();
                    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::StandardButton(button))->click();
                    QVERIFY(!dialog->isVisible());
                });
    QDesktopServices::unsetUrlHandler(scheme);
    QCOMPARE(catcher.urls, QList<QUrl>({QUrl(href)}));
    QVERIFY(openAfterLink);
    QTRY_VERIFY(!about); // closed by the button and destroyed once the event loop runs
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(w->isVisible());
}

void TestDialogs::padForm()
{
    Fake::script().position = {0, 123, 456, 789};
    std::unique_ptr<KesmarControl> w;
    QVERIFY(startWindow(w, true));
    auto *mainX = w->findChild<QLCDNumber *>("lcdNumberX");
    QTRY_COMPARE_WITH_TIMEOUT(mainX->intValue(), 123, 10000);

    PadDialog &pad = *widget<PadDialog>(*w, "PadDialog");
    QCOMPARE(pad.parentWidget(), w.get());
    QCOMPARE(pad.objectName(), QStringLiteral("PadDialog"));
    QCOMPARE(pad.size(), QSize(410, 343));
    QCOMPARE(pad.minimumSize(), QSize(0, 130));
    QCOMPARE(pad.windowTitle(), QStringLiteral("Pad"));

    auto *grid = qobject_cast<QGridLayout *>(pad.layout());
    QVERIFY(grid && grid->objectName() == "gridLayout" && grid->count() == 1);
    auto *column = qobject_cast<QVBoxLayout *>(grid->itemAtPosition(0, 0)->layout());
    QVERIFY(column && column->objectName() == "verticalLayout" && column->count() == 2);
    auto *row = qobject_cast<QHBoxLayout *>(column->itemAt(0)->layout());
    QVERIFY(row && row->objectName() == "horizontalLayout" && row->count() == 6);
    auto *scroll = qobject_cast<QScrollArea *>(column->itemAt(1)->widget());
    QVERIFY(scroll && scroll->objectName() == "scrollArea");
    QCOMPARE(column->stretch(0) + column->stretch(1), 0);

    pad.show();
    QFont expectedFont;
    expectedFont.setPointSize(20);
    const QLCDNumber plainLcd;
    const QList<int> mainValues{123, 456, 789};
    const QStringList names = {"label", "X", "label_2", "Y", "label_3", "Z"};
    for (int i = 0; i < names.size(); ++i) {
        QWidget *widget = row->itemAt(i)->widget();
        QCOMPARE(widget->objectName(), names.at(i));
        QCOMPARE(row->stretch(i), 0);
        QCOMPARE(row->itemAt(i)->alignment(), Qt::Alignment());
        QCOMPARE(widget->font(), expectedFont);
        if (auto *label = qobject_cast<QLabel *>(widget)) {
            QCOMPARE(label->text(), names.at(i + 1)); // each caption names the readout after it
            QCOMPARE(label->alignment(), Qt::AlignCenter);
            continue;
        }
        auto *lcd = qobject_cast<QLCDNumber *>(widget);
        QVERIFY(lcd);
        QCOMPARE(lcd->frameShape(), QFrame::NoFrame);
        QCOMPARE(lcd->segmentStyle(), plainLcd.segmentStyle());
        QCOMPARE(lcd->digitCount(), plainLcd.digitCount());
        QCOMPARE(lcd->intValue(), mainValues.at(i / 2)); // fed by the same polls as the main readouts
        QVERIFY2(lcd->height() >= 48, qPrintable(QString::number(lcd->height())));
    }

    QVERIFY(scroll->widgetResizable());
    QWidget *contents = scroll->widget();
    QCOMPARE(contents->objectName(), QStringLiteral("scrollAreaWidgetContents_2"));
    QCOMPARE(contents->metaObject(), &QWidget::staticMetaObject);

    // The jog buttons: X and Y in a cross, Z beside it; all in the scroll area.
    auto geometryOf = [&](const char *name) {
        auto *button = contents->findChild<QPushButton *>(QString::fromLatin1(name));
        return button ? button->geometry() : QRect();
    };
    const QRect xPlus = geometryOf("pushButtonXPlus"), xMinus = geometryOf("pushButtonXMinus");
    const QRect yPlus = geometryOf("pushButtonYPlus"), yMinus = geometryOf("pushButtonYMinus");
    const QRect zPlus = geometryOf("pushButtonZPlus"), zMinus = geometryOf("pushButtonZMinus");
    QVERIFY(xMinus.center().y() == xPlus.center().y() && xMinus.right() < yPlus.left() && yPlus.right() < xPlus.left());
    QVERIFY(yPlus.center().x() == yMinus.center().x() && yPlus.bottom() < xPlus.top() && xPlus.bottom() < yMinus.top());
    QVERIFY(zPlus.center().x() == zMinus.center().x() && zPlus.left() > xPlus.right() && zPlus.bottom() < zMinus.top());
    auto *step = contents->findChild<QComboBox *>(QStringLiteral("comboBoxStep"));
    QVERIFY(step && step->isEditable());
    QStringList steps;
    for (int i = 0; i < step->count(); ++i)
        steps << step->itemText(i);
    QCOMPARE(steps, QStringList({"1", "10", "100", "1000"}));
}

void TestDialogs::padFollowsTheActionNotItsOwnClose_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("close()") << false;
    QTest::newRow("escape") << true;
}

void TestDialogs::padFollowsTheActionNotItsOwnClose()
{
    QFETCH(bool, byEscape);
    std::unique_ptr<KesmarControl> w;
    QVERIFY(startWindow(w, false));
    QAction *padAction = widget<QAction>(*w, "actionPad");
    PadDialog &pad = *widget<PadDialog>(*w, "PadDialog");
    QVERIFY(padAction->isCheckable() && !padAction->isChecked());
    QVERIFY(!pad.isVisible());

    padAction->trigger();
    QVERIFY(pad.isVisible());
    if (byEscape)
        QTest::keyClick(&pad, Qt::Key_Escape);
    else
        pad.close();
    QVERIFY(!pad.isVisible());
    QVERIFY(padAction->isChecked());

    padAction->trigger(); // unchecks; nothing to hide
    QVERIFY(!padAction->isChecked());
    QVERIFY(!pad.isVisible());
    padAction->trigger();
    QVERIFY(padAction->isChecked());
    QVERIFY(pad.isVisible());
    padAction->trigger();
    QVERIFY(!pad.isVisible());
    QCOMPARE(w->findChildren<PadDialog *>(), QList<PadDialog *>({&pad})); // never re-created
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
