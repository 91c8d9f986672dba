#include "kesmarcontrol.h"
#include "ui_kesmarcontrol.h"

#include "about.h"
#include "connectionindicator.h"
#include "inputguard.h"
#include "limitsdialog.h"
#include "positionchange.h"
#include "settings.h"
#include "travel.h"

#include <QCloseEvent>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStringList>

#include <algorithm>
#include <optional>

namespace {

// A message that does not stay is shown this long, in ms.
constexpr int shortMessage = 1000;

// An Edit menu entry such as "&Undo remove Site A"; an '&' in the name shows
// as itself.
QString historyEntry(const QString &act, const QString &change)
{
    return change.isEmpty() ? act : act + QLatin1Char(' ') + QString(change).replace(u'&', QLatin1String("&&"));
}

} // namespace

KesmarControl::KesmarControl(QWidget *parent, const QString &notSavingReason)
    : QMainWindow(parent)
    , ui(new Ui::KesmarControl)
    , pad(this)
{
    ui->setupUi(this);
    if (!notSavingReason.isEmpty())
        store.switchSavingOff(notSavingReason);
    ui->stores->setModel(&positions_);
    // A choice of the operator's recalls the entry, also the one the list
    // already shows; a change of the list's own recalls it without a send.
    connect(ui->stores, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { recall(index, ui->followTarget->isChecked()); });
    // The list itself shows the current entry's full name as its tool tip.
    connect(ui->stores, &QComboBox::currentTextChanged, ui->stores, &QWidget::setToolTip);
    loadSettings();

    // Undo and Redo name the change they would undo or redo, greyed when
    // there is none.
    ui->actionUndo->setShortcuts(QKeySequence::Undo);
    ui->actionRedo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    connect(&history, &QUndoStack::canUndoChanged, ui->actionUndo, &QAction::setEnabled);
    connect(&history, &QUndoStack::canRedoChanged, ui->actionRedo, &QAction::setEnabled);
    // The stack clears itself, telling the actions, after `ui` has gone.
    connect(&history, &QUndoStack::undoTextChanged, ui->actionUndo,
            [undo = ui->actionUndo](const QString &change) { undo->setText(historyEntry(tr("&Undo"), change)); });
    connect(&history, &QUndoStack::redoTextChanged, ui->actionRedo,
            [redo = ui->actionRedo](const QString &change) { redo->setText(historyEntry(tr("&Redo"), change)); });

    for (QSlider *slider : {ui->sliderX, ui->sliderY, ui->sliderZ})
        slider->setPageStep(2050);
    showLimits();
    // Each slider agrees with its box at all times: it starts where the box
    // stands, and whatever moves it (a drag, keys, the wheel, a click in the
    // groove) sets the box, which under Follow Target sends it.
    QSpinBox *const boxes[] = {ui->targetX, ui->targetY, ui->targetZ};
    QSlider *const sliders[] = {ui->sliderX, ui->sliderY, ui->sliderZ};
    auto *guard = new InputGuard(this);
    for (int axis = 0; axis < 3; ++axis) {
        sliders[axis]->setValue(boxes[axis]->value());
        connect(sliders[axis], &QSlider::valueChanged, boxes[axis], &QSpinBox::setValue);
        guard->watch(boxes[axis], QString(QChar(u'X' + axis)));
        guard->watch(sliders[axis]);
    }
    guard->watch(ui->stores);
    guard->watch(ui->dev);
    // Under Follow Target a typed value is sent by Enter only. The focus also
    // leaves a box while the window is taken down, after its form is gone.
    guard->setRevertOnLeave([follow = QPointer<QCheckBox>(ui->followTarget)] { return follow && follow->isChecked(); });
    connect(guard, &InputGuard::refused, this, [this](QSpinBox *, const QString &message) {
        report({ActResult::Kind::Refused, message});
    });

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
    // A message too long for the window is read whole in the tool tip.
    connect(ui->statusBar, &QStatusBar::messageChanged, ui->statusBar, &QWidget::setToolTip);

    // Every reading goes to the main window's readouts and the pad's alike.
    connect(&link_, &DeviceLink::axisRead, this, [this](int axis, int value) {
        QLCDNumber *const readouts[] = {ui->lcdNumberX, ui->lcdNumberY, ui->lcdNumberZ};
        readouts[axis]->display(value);
        pad.showReading(axis, value);
    });
    connect(&link_, &DeviceLink::positionRead, this, [this] { clearFailure(Failure::Poll); });
    connect(&link_, &DeviceLink::pollFailed, this, [this](const QString &message) {
        // A failed move's message stays: the operator must see that the
        // manipulator was not sent.
        if (shownFailure != Failure::Move)
            report(ActResult::failed(message), Failure::Poll);
        else
            lastFailureText = message;
    });
    connect(&link_, &DeviceLink::stateChanged, this, &KesmarControl::showLinkState);
    // Whatever sent it, a move's target shows in the targets, not sent again.
    connect(&link_, &DeviceLink::targetSent, this, &KesmarControl::setTargets);
    connect(&link_, &DeviceLink::deviceChanged, this, [this](int n) {
        const QSignalBlocker quiet(ui->dev);
        ui->dev->setValue(n);
        // The targets are another device's.
        followOff(QString());
        showLinkState();
    });
    connect(&link_, &DeviceLink::restedElsewhere, this, [this](int x, int y, int z) {
        // The next nudge would send the other axes back where the unit was.
        followOff(
            tr("Follow Target turned off: the unit came to rest at %1 %2 %3, not at the target").arg(x).arg(y).arg(z));
    });
    // A sequence's end says how it went; one that did not arrive stays.
    connect(&link_, &DeviceLink::sequenceFinished, this,
            [this](const ActResult &result) { report(result, Failure::Move); });
    connect(&link_, &DeviceLink::retractedChanged, this, [this] { saveSettings(); });
    connect(&link_, &DeviceLink::deviceSelected, this, [this](int n) {
        savedDevice = n;
        saveSettings();
    });
    showLinkState();
    QTimer::singleShot(100, this, [this] { openPort(); });

    connect(&pad, &PadDialog::jogRequested, this, [this](int axis, int delta, bool repeated) {
        const ActResult result
            = link_.jog(axis == 0 ? delta : 0, axis == 1 ? delta : 0, axis == 2 ? delta : 0, repeated);
        report(result, Failure::Move);
    });
    connect(&pad, &PadDialog::haltRequested, this, &KesmarControl::halt);
    // Connected once the pad has read its own settings, so loading saves nothing.
    connect(&pad, &PadDialog::settingsChanged, this, [this] { saveSettings(); });
}

KesmarControl::~KesmarControl()
{
    // A window of its own, which would outlive this one.
    delete limitsDialog;
    delete ui;
}

// ---------------------------------------------------------------------------
// Messages

void KesmarControl::report(const ActResult &result, Failure failure)
{
    if (result.kind == ActResult::Kind::Failed) {
        ui->statusBar->showMessage(result.message, 0);
        lastFailureText = result.message;
        shownFailure = failure;
        return;
    }
    if (result.message.isEmpty())
        return;
    ui->statusBar->showMessage(result.message, shortMessage);
    shownFailure = Failure::None;
}

// The message of a failure that has mended goes, unless another replaced it.
void KesmarControl::clearFailure(Failure failure)
{
    if (shownFailure != failure)
        return;
    ui->statusBar->clearMessage();
    shownFailure = Failure::None;
}

// ---------------------------------------------------------------------------
// Settings store

QString KesmarControl::settingsFile()
{
    return SettingsStore::fileName();
}

void KesmarControl::loadSettings()
{
    LoadReport loaded;
    const StoredSettings stored = store.load(&loaded);
    savedDevice = stored.device;
    link_.setPortSettings(stored.port);
    link_.setPollInterval(stored.port.update);
    // The box only shows the stored device here; it is selected once a port is open.
    link_.setDevice(savedDevice);
    {
        const QSignalBlocker quiet(ui->dev);
        ui->dev->setValue(savedDevice);
    }
    // Loading the list chooses its first entry, whose recall sends nothing.
    positions_.setPositions(stored.positions);
    if (!stored.positions.isEmpty())
        ui->stores->setCurrentIndex(0);
    pad.loadSettings(stored.groups.value(QStringLiteral("pad")));
    const QVariantMap limits = stored.groups.value(QStringLiteral("limits"));
    link_.setLimits(TravelLimits::fromGroup(limits));
    limitsKept = !limits.isEmpty();
    link_.setRetracted(DeviceLink::Retracted::fromGroup(limits));
    settingsLoaded = true;

    // What the whole run must know shows whenever no other message does:
    // that nothing is saved, or where the file with the unreadable entries is kept.
    const QString standing = store.isSavingOff() ? store.savingOffMessage() : loaded.message;
    if (!standing.isEmpty()) {
        connect(ui->statusBar, &QStatusBar::messageChanged, this, [this, standing](const QString &message) {
            if (message.isEmpty())
                ui->statusBar->showMessage(standing);
        });
        ui->statusBar->showMessage(standing);
    }
}

// Writes the connection settings, every named position, the pad's group and
// the limits with the position Retract remembered.
// A failure stays in the status bar until something replaces it, and the
// next save that succeeds clears it.
ActResult KesmarControl::saveSettings()
{
    if (!settingsLoaded)
        return ActResult::done(QString());
    // Limits never set leave the store as it was.
    QVariantMap limits = limitsKept ? link_.limits().toGroup() : QVariantMap();
    if (const auto retracted = link_.retracted())
        retracted->addTo(limits);
    StoredSettings stored{
        link_.portSettings(), savedDevice, positions_.positions(), {{QStringLiteral("pad"), pad.settings()}}};
    if (!limits.isEmpty())
        stored.groups.insert(QStringLiteral("limits"), limits);
    const SaveResult result = store.save(stored);
    if (result.kind == SaveResult::Kind::Saved) {
        clearFailure(Failure::Save);
        return ActResult::done(QString());
    }
    const ActResult failed = ActResult::failed(result.message);
    report(failed, Failure::Save);
    return failed;
}

void KesmarControl::closeEvent(QCloseEvent *event)
{
    event->accept();
    // Settings is a window of its own; the program ends with this one.
    if (settingsDialog)
        settingsDialog->close();
    if (limitsDialog)
        limitsDialog->close();
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
    followOff(QString());
    report(link_.open());
    showLinkState();
}

void KesmarControl::reconnect()
{
    followOff(QString());
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
// Target motion

// Sends the targets straight, as Follow Target, Copy and Restore do.
ActResult KesmarControl::gotoTarget()
{
    const ActResult result = link_.moveTo({ui->targetX->value(), ui->targetY->value(), ui->targetZ->value()});
    report(result, Failure::Move);
    return result;
}

// What the Goto button does: send the targets (in order while ordered moves
// are on) and restart polling, whatever the outcome.
ActResult KesmarControl::pressGoto()
{
    const ActResult result = link_.go({ui->targetX->value(), ui->targetY->value(), ui->targetZ->value()});
    report(result, Failure::Move);
    link_.resumePolling();
    return result;
}

void KesmarControl::on_pushButtonGoto_clicked()
{
    pressGoto();
}

// Turning Follow Target on takes the position now as the target, so the
// first change sends only the axis changed; without a live reading it stays off.
void KesmarControl::on_followTarget_toggled(bool on)
{
    if (!on)
        return;
    const std::optional<DeviceLink::Xyz> live = link_.liveReading();
    if (!live) {
        followOff(tr("Follow Target needs a live reading of the position"));
        return;
    }
    setTargets(live->at(0), live->at(1), live->at(2));
    report(ActResult::done(tr("Follow Target on: the targets are the position now")));
}

// Unticks Follow Target without a send; `why`, when given, stays in the status bar.
void KesmarControl::followOff(const QString &why)
{
    if (!ui->followTarget->isChecked() && why.isEmpty())
        return;
    {
        const QSignalBlocker quiet(ui->followTarget);
        ui->followTarget->setChecked(false);
    }
    if (!why.isEmpty())
        report(ActResult::failed(why));
}

// A target box changed: under Follow Target the new target is sent, unless
// the change is part of an act that sends once for all its changes (or none).
void KesmarControl::targetChanged()
{
    if (!settingTargets && ui->followTarget->isChecked())
        gotoTarget();
}

// Puts a whole target into the boxes and sliders as one act, sending nothing;
// a negative value leaves its axis alone. Returns whether any box changed.
bool KesmarControl::setTargets(int x, int y, int z)
{
    const QScopedValueRollback<bool> asOne(settingTargets, true);
    bool changed = false;
    const int values[] = {x, y, z};
    QSpinBox *const boxes[] = {ui->targetX, ui->targetY, ui->targetZ};
    QSlider *const sliders[] = {ui->sliderX, ui->sliderY, ui->sliderZ};
    for (int axis = 0; axis < 3; ++axis) {
        if (values[axis] < 0)
            continue;
        // Nothing outside the travel is ever shown as a target.
        const int value = std::min(values[axis], positionMax);
        const int before = boxes[axis]->value();
        fitRange(axis, value);
        boxes[axis]->setValue(value);
        sliders[axis]->setValue(value);
        changed = changed || boxes[axis]->value() != before;
    }
    return changed;
}

void KesmarControl::on_targetX_valueChanged(int value)
{
    ui->sliderX->setValue(value);
    targetChanged();
}

void KesmarControl::on_targetY_valueChanged(int value)
{
    ui->sliderY->setValue(value);
    targetChanged();
}

void KesmarControl::on_targetZ_valueChanged(int value)
{
    ui->sliderZ->setValue(value);
    targetChanged();
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
    // Only a reading of this connection and device that polling keeps live is
    // the position now: a greyed or left-over readout copied under Follow
    // Target would send the manipulator back to where it no longer is.
    const std::optional<DeviceLink::Xyz> live = link_.liveReading();
    if (!live) {
        report({ActResult::Kind::Refused, tr("No live position to copy")});
        return;
    }
    // Under Follow Target the copied target is sent once, whole; a failed
    // send keeps its message.
    if (setTargets(live->at(0), live->at(1), live->at(2)) && ui->followTarget->isChecked() && !gotoTarget().ok())
        return;
    report(ActResult::done(tr("Current position copied into target values")));
}

void KesmarControl::on_pushButtonRestore_clicked()
{
    DeviceLink::Xyz target;
    const ActResult restored = link_.lastTarget(&target);
    if (restored.ok() && setTargets(target[0], target[1], target[2]) && ui->followTarget->isChecked()
        && !gotoTarget().ok())
        return;
    report(restored);
}

ActResult KesmarControl::moveBy(int dx, int dy, int dz)
{
    const ActResult result = link_.jog(dx, dy, dz);
    report(result, Failure::Move);
    return result;
}

ActResult KesmarControl::halt()
{
    const ActResult result = link_.halt();
    report(result, Failure::Move);
    return result;
}

// A target box takes the envelope while it is on, else the whole travel, and
// its slider spans the same band. A target the program shows outside it (an
// axis that may still come closer) widens the band to take it, so it shows
// as it is. Nothing is sent.
void KesmarControl::fitRange(int axis, int value)
{
    const QScopedValueRollback<bool> asOne(settingTargets, true);
    const TravelLimits &limits = link_.limits();
    const int low = limits.enabled ? limits.min[axis] : 0;
    const int high = limits.enabled ? limits.max[axis] : positionMax;
    QSpinBox *const boxes[] = {ui->targetX, ui->targetY, ui->targetZ};
    QSlider *const sliders[] = {ui->sliderX, ui->sliderY, ui->sliderZ};
    boxes[axis]->setRange(std::min(low, value), std::max(high, value));
    sliders[axis]->setRange(std::min(low, value), std::max(high, value));
    const QString band = limits.enabled
        ? tr("%1 limits %2..%3 (File > Limits)").arg(QChar(u'X' + axis)).arg(low).arg(high)
        : tr("%1: no limits set, 0..%2").arg(QChar(u'X' + axis)).arg(positionMax);
    sliders[axis]->setToolTip(band);
    boxes[axis]->setToolTip(band);
}

void KesmarControl::showLimits()
{
    const QList<int> shown = targets();
    for (int axis = 0; axis < 3; ++axis)
        fitRange(axis, shown[axis]);
}

ActResult KesmarControl::setLimits(const TravelLimits &limits)
{
    const ActResult result = link_.setLimits(limits);
    report(result);
    if (!result.ok())
        return result;
    showLimits();
    indicator->refresh();
    limitsKept = true;
    const ActResult saved = saveSettings();
    return saved.ok() ? result : saved;
}

ActResult KesmarControl::retract()
{
    const ActResult result = link_.retract();
    report(result, Failure::Move);
    link_.resumePolling();
    return result;
}

ActResult KesmarControl::returnFromRetract()
{
    const ActResult result = link_.returnFromRetract();
    report(result, Failure::Move);
    link_.resumePolling();
    return result;
}

void KesmarControl::on_pushButtonRetract_clicked()
{
    retract();
}

void KesmarControl::on_pushButtonReturn_clicked()
{
    returnFromRetract();
}

// ---------------------------------------------------------------------------
// Named positions

void KesmarControl::on_pushButtonStore_clicked()
{
    storePosition(ui->storeName->text(), PositionModel::StoreMatch::NameOrPlace);
}

// Stores the targets under `name`, which the window's Store may leave empty
// for a generated one. A name that cannot be stored is refused whole, never
// cut.
ActResult KesmarControl::storePosition(const QString &name, PositionModel::StoreMatch match)
{
    if (!name.isEmpty() || match == PositionModel::StoreMatch::NameOnly) {
        const ActResult checked = PositionModel::checkName(name);
        if (!checked.ok()) {
            report(checked);
            return checked;
        }
    }
    const int x = ui->targetX->value();
    const int y = ui->targetY->value();
    const int z = ui->targetZ->value();
    const PositionModel::StoreResult stored = positions_.plan(name, x, y, z, match);
    QString message;
    switch (stored.outcome) {
    case PositionModel::StoreOutcome::Added:
        message = tr("Position %1 added").arg(stored.name);
        break;
    case PositionModel::StoreOutcome::Updated:
        message = tr("Position %1 updated").arg(stored.name);
        break;
    case PositionModel::StoreOutcome::Renamed:
        message = tr("Position renamed as %1").arg(stored.name);
        break;
    case PositionModel::StoreOutcome::Exists:
        message = tr("Position %1 exists already").arg(stored.name);
        break;
    case PositionModel::StoreOutcome::ExistsAs:
        message = tr("Same position exists as %1").arg(stored.name);
        break;
    }
    // Adding the first entry selects it; that recall sends nothing.
    if (stored.changed())
        history.push(PositionChange::store(positions_, stored, x, y, z));
    report(ActResult::done(message));
    return stored.changed() ? saveSettings() : ActResult::done(message);
}

void KesmarControl::on_stores_currentIndexChanged(int index)
{
    if (index < 0 || index >= positions_.rowCount())
        return;
    recall(index, false);
}

// Puts entry `index` into the targets and the name field; `send` sends the
// manipulator there, once, instead of naming the entry.
void KesmarControl::recall(int index, bool send)
{
    const Position &r = positions_.at(index);
    // A negative coordinate stands for the boxes' lower bound here.
    setTargets(qMax(0, r.x), qMax(0, r.y), qMax(0, r.z));
    ui->storeName->setText(r.name);
    if (send)
        report(link_.go({r.x, r.y, r.z}), Failure::Move);
    else
        report(ActResult::done(tr("Position %1 restored").arg(r.name)));
}

void KesmarControl::on_pushButtonRemove_clicked()
{
    const int i = ui->stores->currentIndex();
    if (i < 0 || i >= positions_.rowCount())
        return;
    const QString name = positions_.at(i).name;
    {
        const QSignalBlocker quiet(ui->stores);
        history.push(PositionChange::remove(positions_, i));
    }
    // The entry that takes the removed one's place is chosen. Its values go
    // into the targets only without Follow Target, where that sends nothing:
    // removing never moves the manipulator.
    const int current = ui->stores->currentIndex();
    if (current >= 0 && !ui->followTarget->isChecked())
        recall(current, false);
    report(ActResult::done(tr("Position %1 removed").arg(name)));
    saveSettings();
}

// Undo and Redo change the list as Store and Remove do, and save it. They
// leave the targets and the name field alone, so nothing is sent, Follow
// Target or not; the list shows the entry changed, or the one in its place.
void KesmarControl::stepHistory(bool back)
{
    if (back ? !history.canUndo() : !history.canRedo())
        return;
    const QString change = back ? history.undoText() : history.redoText();
    {
        const QSignalBlocker quiet(ui->stores);
        if (back)
            history.undo();
        else
            history.redo();
        // The command just undone is the next to redo; the one redone, the
        // next to undo.
        const int done = back ? history.index() : history.index() - 1;
        const int row = static_cast<const PositionChange *>(history.command(done))->row();
        ui->stores->setCurrentIndex(qMin(row, positions_.rowCount() - 1));
    }
    ui->stores->setToolTip(ui->stores->currentText());
    report(ActResult::done((back ? tr("Undone: %1") : tr("Redone: %1")).arg(change)));
    saveSettings();
}

// ---------------------------------------------------------------------------
// Menu actions

void KesmarControl::on_actionE_xit_triggered()
{
    close();
}

// About and Settings leave the other windows usable: Halt stays at hand.
void KesmarControl::on_action_About_triggered()
{
    auto *about = new About(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setText(About::aboutText());
    about->show();
}

void KesmarControl::on_actionSettings_triggered()
{
    // One Settings at a time; one closed just now is on its way out.
    if (settingsDialog && settingsDialog->isVisible()) {
        settingsDialog->raise();
        settingsDialog->activateWindow();
        return;
    }
    const PortSettings before = link_.portSettings();
    auto edited = std::make_shared<PortSettings>(before);
    settingsDialog = new Settings(edited.get());
    settingsDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(settingsDialog, &QDialog::finished, this, [this, before, edited](int result) {
        const bool accepted = result == QDialog::Accepted;
        if (accepted) {
            link_.setPortSettings(*edited);
            saveSettings();
        }
        const PortSettings &now = link_.portSettings();
        const bool changed = now.port != before.port || now.timeout != before.timeout;
        // OK also reopens a port that is not open or no longer polled: after the
        // unit was unplugged and plugged in again nothing needs to change.
        const DeviceLink::State state = link_.state();
        const bool down = state == DeviceLink::State::NotConnected || state == DeviceLink::State::Stopped;
        if (changed || (accepted && down))
            reconnect();
    });
    settingsDialog->show();
}

void KesmarControl::on_actionUndo_triggered()
{
    stepHistory(true);
}

void KesmarControl::on_actionRedo_triggered()
{
    stepHistory(false);
}

// Limits is non-modal, as Settings: Halt stays at hand while it is open.
void KesmarControl::on_actionLimits_triggered()
{
    if (limitsDialog) {
        limitsDialog->raise();
        limitsDialog->activateWindow();
        return;
    }
    limitsDialog = new LimitsDialog(link_.limits());
    limitsDialog->setAttribute(Qt::WA_DeleteOnClose);
    const auto live = [this] {
        limitsDialog->setLiveReading(link_.liveReading());
    };
    live();
    connect(&link_, &DeviceLink::positionRead, limitsDialog, live);
    connect(&link_, &DeviceLink::stateChanged, limitsDialog, live);
    connect(limitsDialog, &QDialog::accepted, this, [this] { setLimits(limitsDialog->limits()); });
    limitsDialog->show();
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
    return {ui->targetX->value(), ui->targetY->value(), ui->targetZ->value()};
}

ActResult KesmarControl::gotoTargets(int x, int y, int z)
{
    ActResult checked = DeviceLink::checkTarget({x, y, z});
    if (checked.ok())
        checked = link_.checkEnvelope({x, y, z});
    if (!checked.ok()) {
        report(checked, Failure::Move);
        return checked;
    }
    setTargets(x, y, z);
    return pressGoto();
}

ActResult KesmarControl::gotoNamedPosition(const QString &name)
{
    const int index = positions_.find(name);
    if (index < 0)
        return {ActResult::Kind::Unknown, tr("No position named %1").arg(name)};
    // The entry is chosen and recalled without a send of its own, even when
    // it is chosen already and the targets were edited since; Goto sends it.
    {
        const QSignalBlocker quiet(ui->stores);
        ui->stores->setCurrentIndex(index);
    }
    recall(index, false);
    return pressGoto();
}

ActResult KesmarControl::storeNamedPosition(const QString &name)
{
    const ActResult stored = storePosition(name, PositionModel::StoreMatch::NameOnly);
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
