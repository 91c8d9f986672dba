// Makes the README's screenshots with the real main window: waits for the live
// position, recalls a named position and sends the manipulator there with
// Goto, then saves PNGs of the main window, the Settings dialog, the Limits
// dialog, the pad after a jog on the pad, and the journal of those moves.
//
// Usage: kesmarshots OUTPUT_DIR
// The settings store (XDG_CONFIG_HOME) must point the port at a running
// simulator and hold at least two named positions; scripts/screenshots.sh
// prepares both.

#include "kesmarcontrol.h"
#include "widgetlookup.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QGroupBox>
#include <QLCDNumber>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

QString outputDir;
KesmarControl *mainWindow = nullptr;

[[noreturn]] void fail(const QString &what)
{
    const QString status = mainWindow ? mainWindow->statusBar()->currentMessage() : QString();
    std::fprintf(stderr, "kesmarshots: %s (status bar: \"%s\")\n", qPrintable(what), qPrintable(status));
    std::exit(1);
}

// Runs the event loop until the condition holds, or fails after timeoutMs.
void waitUntil(const std::function<bool()> &condition, int timeoutMs, const QString &what)
{
    if (condition())
        return;
    QEventLoop loop;
    QTimer tick;
    bool met = false;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            met = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    tick.start(20);
    loop.exec();
    if (!met)
        fail(QStringLiteral("timed out waiting for ") + what);
}

void save(QWidget *widget, const QString &name)
{
    const QString path = QDir(outputDir).filePath(name);
    if (!widget->grab().save(path))
        fail(QStringLiteral("could not write ") + path);
    std::printf("%s\n", qPrintable(path));
}

// Triggers the action and returns the dialog called `name` it shows.
QDialog *openDialog(QWidget &window, const char *action, const QString &name)
{
    widget<QAction>(window, QString::fromLatin1(action))->trigger();
    QDialog *dialog = nullptr;
    waitUntil(
        [&] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                if (top->objectName() == name && top->isVisible())
                    dialog = qobject_cast<QDialog *>(top);
            }
            return dialog != nullptr;
        },
        10000, QStringLiteral("the dialog ") + name);
    return dialog;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputDir);

    Panel panel;
    panel.load();
    KesmarControl window(panel);
    mainWindow = &window;
    window.show();

    QLCDNumber *readouts[] = {widget<QLCDNumber>(window, "lcdNumberX"), widget<QLCDNumber>(window, "lcdNumberY"),
                              widget<QLCDNumber>(window, "lcdNumberZ")};
    QSpinBox *targets[] = {widget<QSpinBox>(window, "targetX"), widget<QSpinBox>(window, "targetY"),
                           widget<QSpinBox>(window, "targetZ")};
    auto *stores = widget<QComboBox>(window, "stores");

    // The readouts start at 0; the simulator's start position replaces that.
    waitUntil([&] { return readouts[0]->intValue() > 0; }, 20000, QStringLiteral("the first position"));

    if (stores->count() < 2)
        fail(QStringLiteral("the settings store holds fewer than two named positions"));
    stores->setCurrentIndex(1);
    widget<QPushButton>(window, "pushButtonGoto")->click();

    // Polling follows the move; the shot is taken once the manipulator has
    // arrived and the Goto confirmation has left the status bar.
    waitUntil(
        [&] {
            for (int i = 0; i < 3; ++i)
                if (readouts[i]->intValue() != targets[i]->value())
                    return false;
            return window.statusBar()->currentMessage().isEmpty();
        },
        30000, QStringLiteral("the manipulator to reach the target"));
    save(&window, QStringLiteral("main-window.png"));

    // Settings and Limits are windows of their own, beside the main window.
    QDialog *settings = openDialog(window, "actionSettings", QStringLiteral("Settings"));
    save(settings, QStringLiteral("settings-dialog.png"));
    settings->reject();

    // The Limits dialog, as an operator sets it for a pipette change: a Z
    // floor and ceiling, ordered moves out along Z to a safe height.
    QDialog *limits = openDialog(window, "actionLimits", QStringLiteral("LimitsDialog"));
    widget<QGroupBox>(*limits, "envelope")->setChecked(true);
    widget<QSpinBox>(*limits, "zmin")->setValue(4000);
    widget<QSpinBox>(*limits, "zmax")->setValue(19500);
    widget<QCheckBox>(*limits, "ordered")->setChecked(true);
    widget<QSpinBox>(*limits, "safe")->setValue(18000);
    widget<QSpinBox>(*limits, "approach")->setValue(500);
    waitUntil([&] { return widget<QPushButton>(*limits, "zminHere")->isEnabled(); }, 10000,
              QStringLiteral("a live reading in the Limits dialog"));
    save(limits, QStringLiteral("limits-dialog.png"));
    limits->reject();

    widget<QAction>(window, "actionPad")->trigger();
    auto *pad = window.findChild<QDialog *>(QStringLiteral("PadDialog"));
    if (!pad)
        fail(QStringLiteral("no pad window"));
    waitUntil([&] { return pad->isVisible(); }, 10000, QStringLiteral("the pad window"));
    // Jog X up by 1000; the shot shows the pad's readouts once they have followed.
    const int jogged = targets[0]->value() + 1000;
    auto *step = pad->findChild<QComboBox *>(QStringLiteral("comboBoxStep"));
    auto *xPlus = pad->findChild<QPushButton *>(QStringLiteral("pushButtonXPlus"));
    auto *padX = pad->findChild<QLCDNumber *>(QStringLiteral("X"));
    if (!step || !xPlus || !padX)
        fail(QStringLiteral("no step box, X+ button or X readout in the pad"));
    step->setCurrentText(QStringLiteral("1000"));
    xPlus->click();
    waitUntil([&] { return padX->intValue() == jogged && window.statusBar()->currentMessage().isEmpty(); }, 30000,
              QStringLiteral("the jog to arrive"));
    save(pad, QStringLiteral("pad-window.png"));
    widget<QAction>(window, "actionPad")->trigger();

    // The journal after those moves, with a script's Goto outside the travel
    // (refused) and a Halt on top.
    panel.gotoTargets(0, 20501, 0);
    widget<QPushButton>(window, "pushButtonHalt")->click();
    widget<QAction>(window, "actionJournal")->trigger();
    QWidget *journal = nullptr;
    waitUntil(
        [&] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                if (top->objectName() == QLatin1String("JournalWindow") && top->isVisible())
                    journal = top;
            }
            return journal != nullptr;
        },
        10000, QStringLiteral("the journal window"));
    // Wide enough for every column, the outcome and the end included.
    journal->resize(1270, 300);
    waitUntil([&] { return journal->width() == 1270; }, 10000, QStringLiteral("the journal window's new size"));
    save(journal, QStringLiteral("journal-window.png"));
    journal->close();

    window.close();
    return 0;
}
