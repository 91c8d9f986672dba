#include "kesmarcontrol.h"
#include "ui_kesmarcontrol.h"

#include "connectionindicator.h"
#include "inputguard.h"
#include "toolwindows.h"

#include <QCloseEvent>
#include <QShortcut>
#include <QSignalBlocker>

KesmarControl::KesmarControl(QWidget *parent, const QString &notSavingReason)
    : QMainWindow(parent)
    , ui(new Ui::KesmarControl)
    , pad(this)
{
    ui->setupUi(this);
    messages = new StatusMessages(ui->statusBar);
    if (!notSavingReason.isEmpty())
        settings_.store().switchSavingOff(notSavingReason);
    targets_ = new TargetControls(
        {{ui->targetX, ui->targetY, ui->targetZ}, {ui->sliderX, ui->sliderY, ui->sliderZ}, ui->followTarget}, link_,
        *messages, this);
    positionPanel = new PositionPanel(
        {ui->stores, ui->storeName, ui->actionUndo, ui->actionRedo}, positions_, *targets_, *messages,
        [this] { return saveSettings(); }, this);
    connect(positionPanel, &PositionPanel::sendRequested, this, [this](int row) {
        const Position &p = positions_.at(row);
        moved(link_.go({p.x, p.y, p.z}));
    });
    // Neither the list nor the device box takes the wheel without the focus.
    auto *guard = new InputGuard(this);
    guard->watch(ui->stores);
    guard->watch(ui->dev);
    loadSettings();
    tools = new ToolWindows(link_, this);
    connect(tools, &ToolWindows::portSettingsAccepted, this, &KesmarControl::applyPortSettings);
    connect(tools, &ToolWindows::limitsAccepted, this, &KesmarControl::setLimits);
    connect(ui->actionJournal, &QAction::triggered, tools, &ToolWindows::showJournal);
    connect(tools, &ToolWindows::haltRequested, this, &KesmarControl::halt);

    // Halt is at hand in every window of the program, dialogs open or not.
    // Connected by hand: the pad, a child of this window, has a Halt button
    // of the same name, which a slot named after it would catch too and halt
    // twice.
    connect(ui->pushButtonHalt, &QPushButton::clicked, this, &KesmarControl::halt);
    auto *haltKey = new QShortcut(QKeySequence(PadDialog::haltKey), this);
    haltKey->setContext(Qt::ApplicationShortcut);
    connect(haltKey, &QShortcut::activated, this, &KesmarControl::halt);

    indicator = new ConnectionIndicator(link_, this);
    ui->statusBar->addPermanentWidget(indicator);
    connect(indicator, &ConnectionIndicator::reconnectRequested, this, &KesmarControl::reconnect);

    // Every reading goes to the main window's readouts and the pad's alike.
    connect(&link_, &DeviceLink::axisRead, this, [this](int axis, int value) {
        QLCDNumber *const readouts[] = {ui->lcdNumberX, ui->lcdNumberY, ui->lcdNumberZ};
        readouts[axis]->display(value);
        pad.showReading(axis, value);
    });
    connect(&link_, &DeviceLink::positionRead, messages, [this] { messages->clearFailure(Failure::Poll); });
    connect(&link_, &DeviceLink::pollFailed, messages, &StatusMessages::reportPollFailure);
    connect(&link_, &DeviceLink::stateChanged, this, &KesmarControl::showLinkState);
    // Whatever sent it, a move's target shows in the targets, not sent again.
    connect(&link_, &DeviceLink::targetSent, targets_, &TargetControls::set);
    connect(&link_, &DeviceLink::deviceChanged, this, [this](int n) {
        const QSignalBlocker quiet(ui->dev);
        ui->dev->setValue(n);
        // The targets are another device's.
        targets_->followOff(QString());
        showLinkState();
    });
    connect(&link_, &DeviceLink::restedElsewhere, this, [this](int x, int y, int z) {
        // The next nudge would send the other axes back where the unit was.
        targets_->followOff(
            tr("Follow Target turned off: the unit came to rest at %1 %2 %3, not at the target").arg(x).arg(y).arg(z));
    });
    // A sequence's end says how it went; one that did not arrive stays.
    connect(&link_, &DeviceLink::sequenceFinished, this, &KesmarControl::moved);
    connect(&link_, &DeviceLink::retractedChanged, this, [this] { saveSettings(); });
    connect(&link_, &DeviceLink::deviceSelected, this, [this](int n) {
        settings_.setDevice(n);
        saveSettings();
    });
    showLinkState();
    QTimer::singleShot(100, this, [this] { openPort(); });

    connect(&pad, &PadDialog::jogRequested, this, [this](int axis, int delta, bool repeated) {
        moved(link_.jog(axis == 0 ? delta : 0, axis == 1 ? delta : 0, axis == 2 ? delta : 0, repeated));
    });
    connect(&pad, &PadDialog::haltRequested, this, &KesmarControl::halt);
    // Connected once the pad has read its own settings, so loading saves nothing.
    connect(&pad, &PadDialog::settingsChanged, this, [this] { saveSettings(); });
}

KesmarControl::~KesmarControl()
{
    // The windows beside this one go while the link they show is still there.
    delete tools;
    delete ui;
}

// ---------------------------------------------------------------------------
// Settings store

QString KesmarControl::settingsFile()
{
    return SettingsStore::fileName();
}

void KesmarControl::loadSettings()
{
    QString standing;
    pad.loadSettings(settings_.load(&standing));
    {
        const QSignalBlocker quiet(ui->dev);
        ui->dev->setValue(settings_.device());
    }
    // Loading the list chooses its first entry, whose recall sends nothing.
    if (positions_.rowCount() > 0)
        ui->stores->setCurrentIndex(0);
    targets_->showLimits();
    messages->setStanding(standing);
}

// A failure stays in the status bar until something replaces it, and the
// next save that succeeds clears it.
ActResult KesmarControl::saveSettings()
{
    const SaveResult result = settings_.save(pad.settings());
    if (result.kind == SaveResult::Kind::Saved) {
        messages->clearFailure(Failure::Save);
        return ActResult::done(QString());
    }
    const ActResult failed = ActResult::failed(result.message);
    report(failed, Failure::Save);
    return failed;
}

void KesmarControl::closeEvent(QCloseEvent *event)
{
    event->accept();
    // The program ends with this window.
    tools->closeAll();
    // Saving leaves the list as it is: a second close in the same run saves
    // the same positions again.
    const ActResult saved = saveSettings();
    if (!saved.ok())
        qWarning("%s", qPrintable(saved.message));
}

// ---------------------------------------------------------------------------
// The device link

void KesmarControl::openPort(QString port)
{
    if (!port.isEmpty()) {
        PortSettings settings = link_.portSettings();
        settings.port = port;
        link_.setPortSettings(settings);
    }
    targets_->followOff(QString());
    report(link_.open());
    showLinkState();
}

void KesmarControl::reconnect()
{
    targets_->followOff(QString());
    report(link_.reconnect());
    showLinkState();
}

void KesmarControl::updatePositions()
{
    link_.poll();
}

void KesmarControl::on_dev_valueChanged(int n)
{
    report(link_.selectDevice(n));
    showLinkState();
}

// The readouts are greyed while they may be out of date.
void KesmarControl::showLinkState()
{
    const bool live = link_.state() == DeviceLink::State::Reading;
    for (QLCDNumber *readout : {ui->lcdNumberX, ui->lcdNumberY, ui->lcdNumberZ})
        readout->setEnabled(live);
    pad.setReadoutsEnabled(live);
    indicator->refresh();
}

// ---------------------------------------------------------------------------
// Moves

// Shows what came of a move: a failed one's message is not replaced by
// failed polls.
ActResult KesmarControl::moved(const ActResult &result)
{
    report(result, Failure::Move);
    return result;
}

// What the Goto button does: send the targets (in order while ordered moves
// are on) and restart polling, whatever the outcome. Retract and Return do
// the same.
ActResult KesmarControl::pressGoto()
{
    return resumed(link_.go(targets_->values()));
}

ActResult KesmarControl::resumed(const ActResult &result)
{
    moved(result);
    link_.resumePolling();
    return result;
}

void KesmarControl::on_pushButtonGoto_clicked()
{
    pressGoto();
}

void KesmarControl::on_followTarget_toggled(bool on)
{
    targets_->followToggled(on);
}

void KesmarControl::on_targetX_valueChanged(int)
{
    targets_->boxChanged();
}

void KesmarControl::on_targetY_valueChanged(int)
{
    targets_->boxChanged();
}

void KesmarControl::on_targetZ_valueChanged(int)
{
    targets_->boxChanged();
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
    targets_->copy();
}

void KesmarControl::on_pushButtonRestore_clicked()
{
    targets_->restore();
}

ActResult KesmarControl::moveBy(int dx, int dy, int dz)
{
    return moved(link_.jog(dx, dy, dz));
}

ActResult KesmarControl::halt()
{
    return moved(link_.halt());
}

ActResult KesmarControl::retract()
{
    return resumed(link_.retract());
}

ActResult KesmarControl::returnFromRetract()
{
    return resumed(link_.returnFromRetract());
}

void KesmarControl::on_pushButtonRetract_clicked()
{
    retract();
}

void KesmarControl::on_pushButtonReturn_clicked()
{
    returnFromRetract();
}

ActResult KesmarControl::setLimits(const TravelLimits &limits)
{
    const ActResult result = link_.setLimits(limits);
    report(result);
    if (!result.ok())
        return result;
    targets_->showLimits();
    indicator->refresh();
    settings_.keepLimits();
    const ActResult saved = saveSettings();
    return saved.ok() ? result : saved;
}

// ---------------------------------------------------------------------------
// Named positions

void KesmarControl::on_pushButtonStore_clicked()
{
    positionPanel->store(ui->storeName->text(), PositionModel::StoreMatch::NameOrPlace);
}

void KesmarControl::on_stores_currentIndexChanged(int index)
{
    positionPanel->recall(index);
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

// OK in Settings reopens the port when it or the time-out changed, and also
// one that is not open or no longer polled: after the unit was unplugged and
// plugged in again nothing needs to change.
void KesmarControl::applyPortSettings(const PortSettings &settings)
{
    const PortSettings before = link_.portSettings();
    link_.setPortSettings(settings);
    saveSettings();
    const PortSettings &now = link_.portSettings();
    const DeviceLink::State state = link_.state();
    if (now.port != before.port || now.timeout != before.timeout || state == DeviceLink::State::NotConnected
        || state == DeviceLink::State::Stopped)
        reconnect();
}

void KesmarControl::on_actionLimits_triggered()
{
    tools->showLimits();
}

void KesmarControl::on_actionPad_toggled(bool checked)
{
    if (checked)
        pad.show();
    else
        pad.close();
}

// ---------------------------------------------------------------------------
// Entry points for scripts

QList<int> KesmarControl::targets() const
{
    const DeviceLink::Xyz xyz = targets_->values();
    return {xyz[0], xyz[1], xyz[2]};
}

ActResult KesmarControl::gotoTargets(int x, int y, int z)
{
    // Refused before the targets change, so the boxes never show it.
    const ActResult checked = link_.checkMove({x, y, z});
    if (!checked.ok())
        return moved(checked);
    targets_->set(x, y, z);
    return pressGoto();
}

ActResult KesmarControl::gotoNamedPosition(const QString &name)
{
    const int index = positions_.find(name);
    if (index < 0)
        return {ActResult::Kind::Unknown, tr("No position named %1").arg(name)};
    // The entry is chosen and recalled without a send of its own; Goto sends it.
    positionPanel->choose(index);
    return pressGoto();
}

ActResult KesmarControl::storeNamedPosition(const QString &name)
{
    const ActResult stored = positionPanel->store(name, PositionModel::StoreMatch::NameOnly);
    if (stored.kind != ActResult::Kind::OutOfRange)
        ui->storeName->setText(name);
    return stored;
}

ActResult KesmarControl::chooseDevice(int n)
{
    // Selecting the device in use again changes nothing, as for the operator.
    if (n == link_.device() && n == ui->dev->value())
        return ActResult::done(QString());
    {
        const QSignalBlocker quiet(ui->dev);
        if (n >= ui->dev->minimum() && n <= ui->dev->maximum())
            ui->dev->setValue(n);
    }
    const ActResult result = link_.selectDevice(n);
    report(result);
    showLinkState();
    return result;
}
