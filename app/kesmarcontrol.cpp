#include "kesmarcontrol.h"
#include "ui_kesmarcontrol.h"

#include "about.h"
#include "settings.h"
#include "travel.h"

#include <QCloseEvent>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QSettings>
#include <QSignalBlocker>
#include <QStringList>
#include <QToolButton>

#include <algorithm>
#include <optional>

namespace {

const QString organization = QStringLiteral("quellmark");
const QString application = QStringLiteral("orvex");

// A message that does not stay is shown this long, in ms.
constexpr int shortMessage = 1000;

// The entries of the "positions" array that can actually be read, as array
// indexes in ascending order: those present in the store up to its stored
// size. A damaged store may claim billions of entries or hold one numbered
// far out; only entries that exist are visited, and every other index would
// read an empty name and be skipped anyway.
QList<int> readablePositionIndexes(QSettings &settings, int storedSize)
{
    QList<int> indexes;
    if (storedSize <= 0)
        return indexes;
    settings.beginGroup(QStringLiteral("positions"));
    const QStringList groups = settings.childGroups();
    settings.endGroup();
    for (const QString &group : groups) {
        bool ok = false;
        const int number = group.toInt(&ok);
        // Entry i is kept under the plain decimal number i + 1; "01" is never read.
        if (ok && number >= 1 && number <= storedSize && group == QString::number(number))
            indexes.append(number - 1);
    }
    std::sort(indexes.begin(), indexes.end());
    return indexes;
}

// A coordinate of the current entry: a whole number within int's range, or
// nothing when the key is missing or holds anything else.
std::optional<int> storedCoordinate(const QSettings &settings, const QString &key)
{
    bool ok = false;
    const int value = settings.value(key).toString().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// Why the store file cannot be written, in the system's words where the
// failure can be seen again without writing the file.
QString writeFailure(const QString &file)
{
    QSaveFile probe(file);
    if (!probe.open(QIODevice::WriteOnly))
        return QStringLiteral("%1 (%2)").arg(file, probe.errorString());
    probe.cancelWriting();
    return file;
}

} // namespace

KesmarControl::KesmarControl(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::KesmarControl)
    , pad(this)
{
    ui->setupUi(this);
    ui->stores->setModel(&positions_);
    // The list itself shows the current entry's full name as its tool tip.
    connect(ui->stores, &QComboBox::currentTextChanged, ui->stores, &QWidget::setToolTip);
    loadSettings();

    for (QSpinBox *box : {ui->targetX, ui->targetY, ui->targetZ})
        box->setMaximum(positionMax);
    for (QSlider *slider : {ui->sliderX, ui->sliderY, ui->sliderZ}) {
        slider->setMaximum(positionMax);
        slider->setPageStep(2050);
    }
    // Each slider starts where its box stands.
    ui->sliderX->setValue(ui->targetX->value());
    ui->sliderY->setValue(ui->targetY->value());
    ui->sliderZ->setValue(ui->targetZ->value());

    indicator = new QToolButton(this);
    indicator->setObjectName(QStringLiteral("connectionIndicator"));
    indicator->setAutoRaise(true);
    ui->statusBar->addPermanentWidget(indicator);
    // While the readouts are live there is nothing to repair.
    connect(indicator, &QToolButton::clicked, this, [this] {
        if (link_.state() != DeviceLink::State::Reading)
            reconnect();
    });
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
    });
    connect(&link_, &DeviceLink::stateChanged, this, &KesmarControl::refreshIndicator);
    // A move's target shows in the targets, not sent again. A send of the
    // targets themselves leaves them alone: a slider moved apart from its box
    // stays where it is.
    connect(&link_, &DeviceLink::targetSent, this, [this](int x, int y, int z) {
        if (!sendingTargets)
            setTargets(x, y, z);
    });
    connect(&link_, &DeviceLink::deviceChanged, this, [this](int n) {
        const QSignalBlocker quiet(ui->dev);
        ui->dev->setValue(n);
        refreshIndicator();
    });
    // After a failed selection the box shows device 1, which was asked for
    // instead, whatever came of that.
    connect(&link_, &DeviceLink::fellBack, this, [this](const ActResult &result) {
        {
            const QSignalBlocker quiet(ui->dev);
            ui->dev->setValue(1);
        }
        report(result);
        refreshIndicator();
    });
    connect(&link_, &DeviceLink::deviceSelected, this, [this](int n) {
        savedDevice = n;
        saveSettings();
    });
    refreshIndicator();
    QTimer::singleShot(100, this, [this] { openPort(); });

    connect(&pad, &PadDialog::jogRequested, this, [this](int axis, int delta) {
        moveBy(axis == 0 ? delta : 0, axis == 1 ? delta : 0, axis == 2 ? delta : 0);
    });
    connect(&pad, &PadDialog::haltRequested, this, &KesmarControl::halt);
    // Connected once the pad has read its own settings, so loading saves nothing.
    connect(&pad, &PadDialog::settingsChanged, this, [this] { saveSettings(); });
}

KesmarControl::~KesmarControl()
{
    delete ui;
}

// ---------------------------------------------------------------------------
// Messages

void KesmarControl::report(const ActResult &result, Failure failure)
{
    if (result.kind == ActResult::Kind::Failed) {
        ui->statusBar->showMessage(result.message, 0);
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
    return QSettings(organization, application).fileName();
}

void KesmarControl::loadSettings()
{
    QSettings settings(organization, application);
    // Text typed into the file with an editor is UTF-8; the escapes that
    // saving writes read the same with it.
    settings.setIniCodec("UTF-8");
    PortSettings port;
    settings.beginGroup(QStringLiteral("settings"));
    bool isNumber = false;
    const int storedDev = settings.value(QStringLiteral("dev"), 1).toInt(&isNumber);
    savedDevice = isNumber && storedDev >= DeviceLink::minDevice && storedDev <= DeviceLink::maxDevice ? storedDev : 1;
    port.port = settings.value(QStringLiteral("port"), port.port).toString();
    port.timeout = settings.value(QStringLiteral("timeout"), port.timeout).toInt();
    port.update = qMax(PortSettings::minUpdate, settings.value(QStringLiteral("update"), port.update).toInt());
    port.pcmode = settings.value(QStringLiteral("pcmode"), port.pcmode).toBool();
    settings.endGroup();
    link_.setPortSettings(port);
    link_.setPollInterval(port.update);
    // The box only shows the stored device here; it is selected once a port is open.
    link_.setDevice(savedDevice);
    {
        const QSignalBlocker quiet(ui->dev);
        ui->dev->setValue(savedDevice);
    }

    const int storedSize = settings.beginReadArray(QStringLiteral("positions"));
    settings.endArray();
    const QList<int> indexes = readablePositionIndexes(settings, storedSize);

    QList<Position> list;
    settings.beginReadArray(QStringLiteral("positions"));
    for (const int i : indexes) {
        settings.setArrayIndex(i);
        const QString name = settings.value(QStringLiteral("name")).toString();
        if (name.isEmpty())
            continue;
        const std::optional<int> x = storedCoordinate(settings, QStringLiteral("x"));
        const std::optional<int> y = storedCoordinate(settings, QStringLiteral("y"));
        const std::optional<int> z = storedCoordinate(settings, QStringLiteral("z"));
        // Loaded as 0, a damaged coordinate would send the manipulator there
        // on the first recall.
        if (!x || !y || !z) {
            qWarning("%s position %d not loaded: x, y or z is missing or not a whole number", Q_FUNC_INFO, i + 1);
            continue;
        }
        list.append(Position(name, *x, *y, *z));
    }
    settings.endArray();
    // Loading the list chooses its first entry, whose recall sends nothing.
    {
        const QScopedValueRollback<bool> adding(addingEntry, true);
        positions_.setPositions(list);
        if (!list.isEmpty())
            ui->stores->setCurrentIndex(0);
    }
    pad.loadSettings(settings);
    settingsLoaded = true;
}

// Writes the connection settings and every named position and syncs them to
// storage. A failure stays in the status bar until something replaces it,
// and the next save that succeeds clears it.
ActResult KesmarControl::saveSettings()
{
    if (!settingsLoaded)
        return ActResult::done(QString());

    // A store object of its own each time: QSettings keeps the first error it
    // met, and a save after the store became writable again must report
    // success. It has no codec, so all text outside ASCII is written as
    // escapes, as earlier builds wrote it, and comes back exactly as it was.
    QSettings store(organization, application);
    const PortSettings &port = link_.portSettings();
    store.beginGroup(QStringLiteral("settings"));
    store.setValue(QStringLiteral("port"), port.port);
    store.setValue(QStringLiteral("dev"), savedDevice);
    store.setValue(QStringLiteral("update"), port.update);
    store.setValue(QStringLiteral("timeout"), port.timeout);
    store.setValue(QStringLiteral("pcmode"), port.pcmode);
    store.endGroup();

    store.beginWriteArray(QStringLiteral("positions"));
    for (int i = 0; i < positions_.positions().size(); ++i) {
        const Position &p = positions_.at(i);
        store.setArrayIndex(i);
        store.setValue(QStringLiteral("name"), p.name);
        store.setValue(QStringLiteral("x"), p.x);
        store.setValue(QStringLiteral("y"), p.y);
        store.setValue(QStringLiteral("z"), p.z);
    }
    store.endArray();
    pad.saveSettings(store);
    store.sync();

    // A format error means the file on disk could not be parsed before it
    // was replaced; the new contents were still written.
    if (store.status() == QSettings::AccessError) {
        const ActResult failed
            = ActResult::failed(tr("Settings not saved - ") + tr("cannot write %1").arg(writeFailure(store.fileName())));
        report(failed, Failure::Save);
        return failed;
    }
    clearFailure(Failure::Save);
    return ActResult::done(QString());
}

void KesmarControl::closeEvent(QCloseEvent *event)
{
    event->accept();
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
    report(link_.open());
    refreshIndicator();
}

void KesmarControl::reconnect()
{
    // The device the box shows is the one selected on the new connection,
    // also after a failed selection left another one driven.
    link_.setDevice(ui->dev->value());
    report(link_.reconnect());
    refreshIndicator();
}

void KesmarControl::updatePositions()
{
    link_.poll();
}

void KesmarControl::on_dev_valueChanged(int n)
{
    report(link_.selectDevice(n));
    refreshIndicator();
}

// The indicator and the readouts follow the link's state.
void KesmarControl::refreshIndicator()
{
    const DeviceLink::State state = link_.state();
    const bool live = state == DeviceLink::State::Reading;
    for (QLCDNumber *readout : {ui->lcdNumberX, ui->lcdNumberY, ui->lcdNumberZ})
        readout->setEnabled(live);
    pad.setReadoutsEnabled(live);

    const QString word = tr(DeviceLink::stateWord(state));
    const QString device = QString::number(ui->dev->value());
    const QString portName = link_.portSettings().port;
    // A long port name keeps its distinctive end in the text and shows whole
    // in the tool tip, so it cannot widen the window.
    const QString port = indicator->fontMetrics().elidedText(portName, Qt::ElideLeft, 300);
    indicator->setText(tr("%1, device %2: %3").arg(port, device, word));
    const QString whole = tr("%1, device %2: %3").arg(portName, device, word);
    indicator->setToolTip(live ? whole
                               : whole + QLatin1Char('\n') + link_.failure() + QLatin1Char('\n')
                                     + tr("Click to reconnect."));
}

// ---------------------------------------------------------------------------
// Target motion

ActResult KesmarControl::gotoTarget()
{
    const QScopedValueRollback<bool> fromTargets(sendingTargets, true);
    const ActResult result = link_.moveTo({ui->targetX->value(), ui->targetY->value(), ui->targetZ->value()});
    report(result, Failure::Move);
    return result;
}

// What the Goto button does: send the targets and restart polling, whatever
// the outcome.
ActResult KesmarControl::pressGoto()
{
    const ActResult result = gotoTarget();
    link_.resumePolling();
    return result;
}

void KesmarControl::on_pushButtonGoto_clicked()
{
    pressGoto();
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
        const int before = boxes[axis]->value();
        boxes[axis]->setValue(values[axis]);
        sliders[axis]->setValue(values[axis]);
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

// ---------------------------------------------------------------------------
// Named positions

void KesmarControl::on_pushButtonStore_clicked()
{
    storePosition();
}

ActResult KesmarControl::storePosition()
{
    const QString name = ui->storeName->text();
    PositionModel::StoreResult stored;
    {
        // Adding the first entry selects it; that recall sends nothing.
        const QScopedValueRollback<bool> adding(addingEntry, true);
        stored = positions_.store(name, ui->targetX->value(), ui->targetY->value(), ui->targetZ->value());
    }
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
    report(ActResult::done(message));
    return stored.changed() ? saveSettings() : ActResult::done(message);
}

void KesmarControl::on_stores_currentIndexChanged(int index)
{
    if (index < 0 || index >= positions_.rowCount())
        return;
    recall(index, ui->followTarget->isChecked() && !addingEntry);
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
        gotoTarget();
    else
        report(ActResult::done(tr("Position %1 restored").arg(r.name)));
}

void KesmarControl::on_pushButtonRemove_clicked()
{
    const int i = ui->stores->currentIndex();
    if (i < 0)
        return;
    {
        const QSignalBlocker quiet(ui->stores);
        positions_.remove(i);
    }
    // The entry that takes the removed one's place is chosen. Its values go
    // into the targets only without Follow Target, where that sends nothing:
    // removing never moves the manipulator.
    const int current = ui->stores->currentIndex();
    if (current >= 0 && !ui->followTarget->isChecked())
        recall(current, false);
    saveSettings();
}

// ---------------------------------------------------------------------------
// Menu actions

void KesmarControl::on_actionE_xit_triggered()
{
    close();
}

void KesmarControl::on_action_About_triggered()
{
    About about(this);
    about.setText(About::aboutText());
    about.exec();
}

void KesmarControl::on_actionSettings_triggered()
{
    const PortSettings before = link_.portSettings();
    PortSettings edited = before;
    Settings dialog(&edited);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (accepted) {
        link_.setPortSettings(edited);
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
    const ActResult checked = DeviceLink::checkTarget({x, y, z});
    if (!checked.ok())
        return checked;
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
    ui->storeName->setText(name);
    return storePosition();
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
    refreshIndicator();
    return result;
}
