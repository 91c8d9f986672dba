#include "kesmarcontrol.h"
#include "ui_kesmarcontrol.h"

#include "connectionindicator.h"
#include "coordinateview.h"
#include "emptytoolbar.h"
#include "haltkeys.h"
#include "inputguard.h"
#include "positionpanel.h"
#include "targetcontrols.h"
#include "toolwindows.h"

#include <QCloseEvent>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>

KesmarControl::KesmarControl(Panel &panel, QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::KesmarControl)
    , panel_(panel)
{
    ui->setupUi(this);
    EmptyToolBar::keepOutOfTheWay(ui->mainToolBar);
    messages = new StatusMessages(ui->statusBar);
    targets_ = new TargetControls(
        {{ui->targetX, ui->targetY, ui->targetZ}, {ui->sliderX, ui->sliderY, ui->sliderZ}, ui->followTarget}, panel_,
        *messages, this);
    positionPanel = new PositionPanel({ui->stores, ui->storeName, ui->actionUndo, ui->actionRedo}, panel_, this);
    // Neither the list nor the device box takes the wheel without the focus.
    auto *guard = new InputGuard(this);
    guard->watch(ui->stores);
    guard->watch(ui->dev);
    ui->dev->setRange(minDevice, maxDevice);
    {
        const QSignalBlocker quiet(ui->dev);
        ui->dev->setValue(panel_.link().device());
    }
    // Whatever asked for it, what came of an act shows here.
    connect(&panel_, &Panel::reported, this, &KesmarControl::showReport);
    // The list opens on the device's first entry, whose recall sends nothing.
    panel_.recall(panel_.positions().nearestFor(0, panel_.link().device()));
    connect(&panel_, &Panel::raiseRequested, this, &KesmarControl::bringToFront);
    tools = new ToolWindows(panel_, this);
    connect(tools, &ToolWindows::portSettingsAccepted, this,
            [this](const PortSettings &settings) { act([this, settings] { panel_.applyPortSettings(settings); }); });
    connect(tools, &ToolWindows::limitsAccepted, this,
            [this](const TravelLimits &limits) { act([this, limits] { panel_.setLimits(limits); }); });
    connect(tools, &ToolWindows::deviceFrameAccepted, &panel_, &Panel::setFrame);
    connect(ui->actionDeviceFrame, &QAction::triggered, tools, &ToolWindows::showDeviceFrame);
    tools->setJournal(&panel_.journal());
    connect(ui->actionJournal, &QAction::triggered, tools, &ToolWindows::showJournal);
    const auto halt = [this] {
        act([this] { panel_.halt(); });
    };
    connect(tools, &ToolWindows::haltRequested, this, halt);

    // Halt is at hand in every window of the program, dialogs open or not:
    // a button, Space wherever it types nothing, and Escape anywhere.
    // Connected by hand: the pad, a child of this window, has a Halt button
    // of the same name, which a slot named after it would catch too and halt
    // twice.
    connect(ui->pushButtonHalt, &QPushButton::clicked, this, halt);
    auto *haltKey = new QShortcut(QKeySequence(PadDialog::haltKey), this);
    haltKey->setContext(Qt::ApplicationShortcut);
    connect(haltKey, &QShortcut::activated, this, halt);
    connect(new HaltKeys(this), &HaltKeys::haltRequested, this, halt);

    indicator = new ConnectionIndicator(panel_, this);
    ui->statusBar->addPermanentWidget(indicator);
    connect(indicator, &ConnectionIndicator::reconnectRequested, this, &KesmarControl::reconnect);

    // Every reading goes to the main window's readouts and the pad's alike,
    // in the coordinates chosen.
    coordinates_ = new CoordinateView({{ui->lcdNumberX, ui->lcdNumberY, ui->lcdNumberZ},
                                       ui->actionSteps,
                                       ui->actionMicrometres,
                                       ui->actionZeroHere,
                                       ui->actionClearZero,
                                       ui->actionShowAlong,
                                       ui->statusBar},
                                      panel_, this);
    DeviceLink &link = panel_.link();
    connect(&link, &DeviceLink::positionRead, messages, [this] { messages->clearFailure(Failure::Poll); });
    connect(&link, &DeviceLink::pollFailed, messages, &StatusMessages::reportPollFailure);
    connect(&link, &DeviceLink::stateChanged, this, &KesmarControl::showLinkState);
    connect(&link, &DeviceLink::deviceChanged, this, [this](int n) {
        const QSignalBlocker quiet(ui->dev);
        ui->dev->setValue(n);
        showLinkState();
    });
    showLinkState();
    messages->setStanding(panel_.standing());
    connect(&panel_, &Panel::standingChanged, messages, &StatusMessages::setStanding);
    QTimer::singleShot(100, this, [this] { openPort(); });

    // The pad is not needed for the first paint: it is built after it, or
    // when asked for before.
    connect(this, &KesmarControl::firstPainted, this, &KesmarControl::buildPad);
}

void KesmarControl::buildPad()
{
    if (pad_)
        return;
    pad_ = new PadDialog(this);
    coordinates_->setPad(pad_);
    pad_->setReadoutsEnabled(panel_.link().state() == DeviceLink::State::Reading);
    // The pad asks the panel for its moves.
    pad_->loadSettings(panel_.padGroup());
    // Its step is in the units shown; the unit gets whole steps.
    connect(pad_, &PadDialog::jogRequested, this, [this](int axis, int delta, bool repeated, bool byKey) {
        act([=] {
            const int steps = panel_.frame().lengthSteps(axis, delta, panel_.coordinates().units());
            panel_.jog(axis == 0 ? steps : 0, axis == 1 ? steps : 0, axis == 2 ? steps : 0, repeated,
                       byKey ? JournalRow::Source::Key : JournalRow::Source::Pad);
        });
    });
    connect(pad_, &PadDialog::advanceRequested, this, [this](int distance) {
        act([=] {
            panel_.advance(distance, panel_.coordinates().units(),
                           distance < 0 ? JournalRow::Source::Withdraw : JournalRow::Source::Advance);
        });
    });
    connect(pad_, &PadDialog::jogReleased, this, [this] { act([this] { panel_.jogReleased(); }); });
    connect(pad_, &PadDialog::haltRequested, this, [this] { act([this] { panel_.halt(); }); });
    // Connected once the pad has read its own settings, so loading saves nothing.
    connect(pad_, &PadDialog::settingsChanged, &panel_, [this] { panel_.setPadGroup(pad_->settings()); });
}

KesmarControl::~KesmarControl()
{
    // The windows beside this one go while the panel they show is still there.
    delete tools;
    delete ui;
}

void KesmarControl::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    if (painted_)
        return;
    painted_ = true;
    // After the event loop has run: by then the paint is on the screen.
    QTimer::singleShot(0, this, &KesmarControl::firstPainted);
}

void KesmarControl::closeEvent(QCloseEvent *event)
{
    event->accept();
    // The program ends with this window.
    tools->closeAll();
    // Saving leaves the list as it is: a second close in the same run saves
    // the same positions again. The program ends once it is written.
    panel_.setPadGroup(pad_ ? pad_->settings() : panel_.padGroup());
    const ActResult saved = panel_.waitForSaves();
    if (!saved.ok())
        qWarning("%s", qPrintable(saved.message));
}

// A failure stays in the status bar until something replaces it; a failed
// move's is not replaced by failed polls, and the next save that succeeds
// clears a failed save's.
void KesmarControl::showReport(const ActResult &result, Panel::About about)
{
    const Failure failure = about == Panel::About::Move ? Failure::Move
        : about == Panel::About::Save                   ? Failure::Save
                                                        : Failure::Other;
    if (about == Panel::About::Save && result.ok())
        messages->clearFailure(Failure::Save);
    else
        messages->report(result, failure);
}

void KesmarControl::bringToFront()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

// ---------------------------------------------------------------------------
// The connection

void KesmarControl::openPort(QString port)
{
    panel_.open(port);
    showLinkState();
}

void KesmarControl::reconnect()
{
    act([this] {
        panel_.reconnect();
        showLinkState();
    });
}

void KesmarControl::updatePositions()
{
    panel_.link().poll();
}

void KesmarControl::on_dev_valueChanged(int n)
{
    act([this, n] {
        panel_.selectDevice(n);
        showLinkState();
    });
}

void KesmarControl::act(const std::function<void()> &call)
{
    panel_.link().whenFree(this, call);
}

// The readouts are greyed while they may be out of date.
void KesmarControl::showLinkState()
{
    const bool live = panel_.link().state() == DeviceLink::State::Reading;
    for (QLCDNumber *readout : {ui->lcdNumberX, ui->lcdNumberY, ui->lcdNumberZ})
        readout->setEnabled(live);
    if (pad_)
        pad_->setReadoutsEnabled(live);
    indicator->refresh();
}

// ---------------------------------------------------------------------------
// Moves and targets

void KesmarControl::on_pushButtonGoto_clicked()
{
    act([this] { panel_.gotoTargets(); });
}

void KesmarControl::on_followTarget_toggled(bool on)
{
    targets_->followToggled(on);
}

void KesmarControl::on_targetX_valueChanged(int)
{
    if (targets_)
        targets_->boxChanged(0);
}

void KesmarControl::on_targetY_valueChanged(int)
{
    if (targets_)
        targets_->boxChanged(1);
}

void KesmarControl::on_targetZ_valueChanged(int)
{
    if (targets_)
        targets_->boxChanged(2);
}

// A drag step sets its box, and the box's own change sends it: one send per
// step, none when the box already holds the value.
void KesmarControl::on_sliderX_sliderMoved(int position)
{
    ui->targetX->setValue(position);
}

void KesmarControl::on_sliderY_sliderMoved(int position)
{
    ui->targetY->setValue(position);
}

void KesmarControl::on_sliderZ_sliderMoved(int position)
{
    ui->targetZ->setValue(position);
}

void KesmarControl::on_pushButtonCopy_clicked()
{
    act([this] { panel_.copy(); });
}

void KesmarControl::on_pushButtonRestore_clicked()
{
    act([this] { panel_.restore(); });
}

void KesmarControl::on_pushButtonRetract_clicked()
{
    act([this] { panel_.retract(); });
}

void KesmarControl::on_pushButtonReturn_clicked()
{
    act([this] { panel_.returnFromRetract(); });
}

// ---------------------------------------------------------------------------
// Named positions

void KesmarControl::on_pushButtonStore_clicked()
{
    positionPanel->store();
}

void KesmarControl::on_stores_currentIndexChanged(int index)
{
    positionPanel->currentChanged(index);
}

void KesmarControl::on_pushButtonRemove_clicked()
{
    positionPanel->removeCurrent();
}

void KesmarControl::on_actionUndo_triggered()
{
    positionPanel->step(true);
}

void KesmarControl::on_actionRedo_triggered()
{
    positionPanel->step(false);
}

// ---------------------------------------------------------------------------
// Menu actions

void KesmarControl::on_actionE_xit_triggered()
{
    close();
}

void KesmarControl::on_action_About_triggered()
{
    tools->showAbout();
}

void KesmarControl::on_actionSettings_triggered()
{
    tools->showSettings();
}

void KesmarControl::on_actionLimits_triggered()
{
    tools->showLimits();
}

void KesmarControl::on_actionPad_toggled(bool checked)
{
    if (checked) {
        buildPad();
        pad_->show();
    } else if (pad_) {
        pad_->close();
    }
}
