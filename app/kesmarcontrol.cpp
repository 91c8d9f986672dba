#include "kesmarcontrol.h"
#include "ui_kesmarcontrol.h"

#include "about.h"
#include "fulltexttooltipmodel.h"
#include "portaccess.h"
#include "settings.h"
#include "storeescapes.h"
#include "travel.h"

#include <QCloseEvent>
#include <QFile>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QStringList>
#include <QToolButton>
#include <QtGlobal>

#include <algorithm>
#include <optional>

namespace {

const QString defaultPort = PortSettings::defaultPort();
const QString organization = QStringLiteral("quellmark");
const QString application = QStringLiteral("orvex");

// A unit that fails this many polls in a row is taken as gone: polling stops
// rather than hold up the window once per interval.
constexpr int maxFailedPolls = 3;

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
    , settings(organization, application)
    , pad(this)
{
    ui->setupUi(this);
    // Every item shows its full name as its tool tip, and so does the list
    // itself for the current one: a long name is cut in the list's width.
    ui->stores->setModel(new FullTextToolTipModel(ui->stores));
    connect(ui->stores, &QComboBox::currentTextChanged, ui->stores, &QWidget::setToolTip);
    loadSettings();
    pad.loadSettings(settings);

    ui->targetX->setMaximum(positionMax);
    ui->targetY->setMaximum(positionMax);
    ui->targetZ->setMaximum(positionMax);
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
        if (state != ConnectionState::Reading)
            reconnect();
    });
    // A message too long for the window is read whole in the tool tip.
    connect(ui->statusBar, &QStatusBar::messageChanged, ui->statusBar, &QWidget::setToolTip);

    connect(&timer, SIGNAL(timeout()), this, SLOT(updatePositions()));
    timer.setInterval(portSettings.update);
    refreshConnectionState();
    QTimer::singleShot(100, this, SLOT(openPort()));

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
    qDeleteAll(positions);
}

// ---------------------------------------------------------------------------
// Settings store

QString KesmarControl::settingsFile()
{
    return QSettings(organization, application).fileName();
}

void KesmarControl::loadSettings()
{
    // Text typed into the file with an editor is UTF-8; the escapes that
    // saving writes read the same with it. Qt 6 always reads UTF-8.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    settings.setIniCodec("UTF-8");
#endif
    settings.beginGroup(QStringLiteral("settings"));
    bool isNumber = false;
    const int storedDev = settings.value(QStringLiteral("dev"), 1).toInt(&isNumber);
    dev = isNumber && storedDev >= ui->dev->minimum() && storedDev <= ui->dev->maximum() ? storedDev : 1;
    const QString port = settings.value(QStringLiteral("port"), portSettings.port).toString();
    portSettings.port = port.isEmpty() ? defaultPort : port;
    portSettings.timeout = settings.value(QStringLiteral("timeout"), portSettings.timeout).toInt();
    portSettings.update
        = qMax(PortSettings::minUpdate, settings.value(QStringLiteral("update"), portSettings.update).toInt());
    portSettings.pcmode = settings.value(QStringLiteral("pcmode"), portSettings.pcmode).toBool();
    settings.endGroup();

    {
        // The box only shows the stored device here; it is selected once a
        // port is open.
        const QSignalBlocker quiet(ui->dev);
        ui->dev->setValue(dev);
    }

    const int storedSize = settings.beginReadArray(QStringLiteral("positions"));
    settings.endArray();
    const QList<int> indexes = readablePositionIndexes(settings, storedSize);

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
        // The record goes into the list before its item goes into the combo
        // box: adding the first item selects it, and the selection handler
        // reads the record at once.
        positions.append(new Position(name, *x, *y, *z));
        ui->stores->addItem(name);
    }
    settings.endArray();
    settingsLoaded = true;
}

// Writes the connection settings and every named position and syncs them to
// storage. Returns the failure message, empty when the store was written; a
// failure stays in the status bar until something replaces it, and the next
// save that succeeds clears it.
QString KesmarControl::saveSettings()
{
    if (!settingsLoaded)
        return QString();

    // A store object of its own each time: QSettings keeps the first error it
    // met, and a save after the store became writable again must report
    // success. It has no codec, so all text outside ASCII is written as
    // escapes, as earlier builds wrote it, and comes back exactly as it was;
    // on Qt 6 the file is turned into that form after it was written.
    QSettings store(organization, application);
    store.beginGroup(QStringLiteral("settings"));
    store.setValue(QStringLiteral("port"), portSettings.port);
    store.setValue(QStringLiteral("dev"), dev);
    store.setValue(QStringLiteral("update"), portSettings.update);
    store.setValue(QStringLiteral("timeout"), portSettings.timeout);
    store.setValue(QStringLiteral("pcmode"), portSettings.pcmode);
    store.endGroup();

    store.beginWriteArray(QStringLiteral("positions"));
    for (int i = 0; i < positions.size(); ++i) {
        const Position *p = positions.at(i);
        store.setArrayIndex(i);
        store.setValue(QStringLiteral("name"), p->name);
        store.setValue(QStringLiteral("x"), p->x);
        store.setValue(QStringLiteral("y"), p->y);
        store.setValue(QStringLiteral("z"), p->z);
    }
    store.endArray();
    pad.saveSettings(store);
    store.sync();
    escapeStoreFile(store.fileName());

    const QString notSaved = notSavedPrefix();
    // A format error means the file on disk could not be parsed before it
    // was replaced; the new contents were still written.
    if (store.status() == QSettings::AccessError) {
        const QString message = notSaved + tr("cannot write %1").arg(writeFailure(store.fileName()));
        ui->statusBar->showMessage(message, 0);
        lastFailureText = message;
        return message;
    }
    if (ui->statusBar->currentMessage().startsWith(notSaved))
        ui->statusBar->clearMessage();
    return QString();
}

void KesmarControl::closeEvent(QCloseEvent *event)
{
    event->accept();
    // Saving leaves the list as it is: a second close in the same run saves
    // the same positions again.
    const QString failure = saveSettings();
    if (!failure.isEmpty())
        qWarning("%s", qPrintable(failure));
}

// ---------------------------------------------------------------------------
// Device link

uint8_t KesmarControl::deviceId(int n) const
{
    if (n == 0 && ctl.handle)
        return ctl.handle->id;
    return static_cast<uint8_t>(48 + n);
}

// The device that polls, Goto and Restore address: always the one the box shows.
uint8_t KesmarControl::drivenId() const
{
    return deviceId(ui->dev->value());
}

QString KesmarControl::errorText() const
{
    return QString::fromUtf8(kesmarctl_last_errorstr(ctl.handle));
}

void KesmarControl::openPort(QString port)
{
    if (port.isEmpty())
        port = portSettings.port;

    ctl.handle = kesmarctl_open(QFile::encodeName(port).constData(), portSettings.timeout);
    if (ctl.handle) {
        portSettings.port = port.isEmpty() ? defaultPort : port;
        // The device the box shows is the one driven, so it is selected on
        // every new connection; a failure there is reported as any failed
        // selection is, and its message stays.
        failedPolls = 0;
        position.clear();
        if (selectDevice(ui->dev->value()))
            ui->statusBar->showMessage(tr("%1 opened").arg(port), 1000);
    } else {
        const QString error = errorText();
        const QString hint = portAccessHint(port);
        showFailure(tr("Can not open %1 - %2").arg(port, error)
                    + (hint.isEmpty() ? QString() : QStringLiteral("; ") + hint));
        // The unit may only be switched off: the configured port stays for
        // the next start.
        if (portSettings.port.isEmpty())
            portSettings.port = defaultPort;
        timer.stop();
    }
    refreshConnectionState();
}

void KesmarControl::reconnect()
{
    kesmarctl_close(ctl.handle);
    ctl.handle = nullptr;
    openPort(QString());
}

void KesmarControl::on_dev_valueChanged(int n)
{
    selectDevice(n);
}

bool KesmarControl::selectDevice(int n)
{
    const QString number = QString::number(n);
    if (kesmarctl_select_dev(ctl.handle, deviceId(n)) >= 0) {
        dev = n;
        // The readouts still show the previous device until the next poll.
        position.clear();
        timer.start();
        ui->statusBar->showMessage(tr("Device %1 selected").arg(number), 1000);
        saveSettings();
        refreshConnectionState();
        return true;
    }
    // Falling back to device 1 may run this slot again, nested, before the
    // failure below is reported; the error text is read after it.
    ui->dev->setValue(1);
    const QString error = errorText();
    showFailure(tr("Device %1 select failed - %2").arg(number, error));
    timer.stop();
    refreshConnectionState();
    return false;
}

void KesmarControl::updatePositions()
{
    int x = -1;
    int y = -1;
    int z = -1;
    int time = 0;
    if (portSettings.pcmode) {
        time = timer.interval() - 10;
    } else if (ctl.handle && kesmarctl_recv(ctl.handle) > 0) {
        // More input is on its way: look again soon, unless polling has
        // given up on the unit by then.
        QTimer::singleShot(50, this, [this] {
            if (failedPolls < maxFailedPolls)
                updatePositions();
        });
    }

    const bool read = readPosition(time, &x, &y, &z);

    if (x >= 0)
        showReading(0, x);
    if (y >= 0)
        showReading(1, y);
    if (z >= 0)
        showReading(2, z);

    if (read)
        pollSucceeded();
    else
        pollFailed();
}

// Reads the position of the driven device; the device reports each
// coordinate in its low 16 bits, as a signed number. On failure the outputs
// keep what the library left in them.
bool KesmarControl::readPosition(int time, int *x, int *y, int *z)
{
    if (kesmarctl_get_position_ext(ctl.handle, drivenId(), time, x, y, z) < 0)
        return false;
    *x = static_cast<qint16>(*x & 0xffff);
    *y = static_cast<qint16>(*y & 0xffff);
    *z = static_cast<qint16>(*z & 0xffff);
    return true;
}

// Every reading goes to the main window's readouts and the pad's alike.
void KesmarControl::showReading(int axis, int value)
{
    QLCDNumber *const readouts[] = {ui->lcdNumberX, ui->lcdNumberY, ui->lcdNumberZ};
    readouts[axis]->display(value);
    pad.showReading(axis, value);
}

void KesmarControl::pollSucceeded()
{
    failedPolls = 0;
    if (!pollFailure.isEmpty() && ui->statusBar->currentMessage() == pollFailure)
        ui->statusBar->clearMessage();
    pollFailure.clear();
    position = {ui->lcdNumberX->intValue(), ui->lcdNumberY->intValue(), ui->lcdNumberZ->intValue()};
    refreshConnectionState();
    emit positionRead(position[0], position[1], position[2]);
}

// The readouts go stale and say so until the next good poll; polling goes on
// at its interval until too many polls in a row have failed.
void KesmarControl::pollFailed()
{
    ++failedPolls;
    pollFailure = tr("Update failed - ") + errorText();
    linkFailure = pollFailure;
    lastFailureText = pollFailure;
    // A failed Goto's message stays: the operator must see that the
    // manipulator was not sent.
    if (gotoFailure.isEmpty() || ui->statusBar->currentMessage() != gotoFailure)
        ui->statusBar->showMessage(pollFailure, 0);
    if (failedPolls >= maxFailedPolls)
        timer.stop();
    refreshConnectionState();
}

// A failure message stays until something replaces it; it also tells the
// indicator why the readouts are not live.
void KesmarControl::showFailure(const QString &text)
{
    ui->statusBar->showMessage(text, 0);
    linkFailure = text;
    lastFailureText = text;
}

const char *KesmarControl::connectionWord(ConnectionState state)
{
    // In the order of ConnectionState.
    static const char *const words[]
        = {QT_TR_NOOP("not connected"), QT_TR_NOOP("reading"), QT_TR_NOOP("stale"), QT_TR_NOOP("stopped")};
    return words[int(state)];
}

// The one place that decides the connection state, from the connection, the
// polling timer and the failed polls; the readouts and the indicator follow it.
void KesmarControl::refreshConnectionState()
{
    ConnectionState now = ConnectionState::Reading;
    if (!ctl.handle)
        now = ConnectionState::NotConnected;
    else if (!timer.isActive())
        now = ConnectionState::Stopped;
    else if (failedPolls > 0)
        now = ConnectionState::Stale;

    const bool live = now == ConnectionState::Reading;
    for (QLCDNumber *readout : {ui->lcdNumberX, ui->lcdNumberY, ui->lcdNumberZ})
        readout->setEnabled(live);
    pad.setReadoutsEnabled(live);

    const QString word = tr(connectionWord(now));
    const QString device = QString::number(ui->dev->value());
    // A long port name keeps its distinctive end in the text and shows whole
    // in the tool tip, so it cannot widen the window.
    const QString port = indicator->fontMetrics().elidedText(portSettings.port, Qt::ElideLeft, 300);
    indicator->setText(tr("%1, device %2: %3").arg(port, device, word));
    const QString whole = tr("%1, device %2: %3").arg(portSettings.port, device, word);
    indicator->setToolTip(
        live ? whole : whole + QLatin1Char('\n') + linkFailure + QLatin1Char('\n') + tr("Click to reconnect."));

    if (now != state) {
        state = now;
        emit connectionStateChanged(now);
    }
}

// ---------------------------------------------------------------------------
// Target motion

bool KesmarControl::gotoTarget()
{
    jogBurst.reset();
    return sendTarget({ui->targetX->value(), ui->targetY->value(), ui->targetZ->value()});
}

// Stores the target in the device's memory position 0 and sends the device there.
bool KesmarControl::sendTarget(const Xyz &target)
{
    const uint8_t id = drivenId();
    if (kesmarctl_store_mem_position_ext(ctl.handle, id, target[0], target[1], target[2], 0) >= 0
        && kesmarctl_goto_mem_position_ext(ctl.handle, id, 0) >= 0) {
        gotoFailure.clear();
        ui->statusBar->showMessage(tr("Goto command sent"), 1000);
        return true;
    }
    showGotoFailed();
    return false;
}

void KesmarControl::showGotoFailed()
{
    gotoFailure = tr("Goto failed - ") + errorText();
    ui->statusBar->showMessage(gotoFailure, 0);
    lastFailureText = gotoFailure;
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

// ---------------------------------------------------------------------------
// Jogging and halting

bool KesmarControl::moveBy(int dx, int dy, int dz)
{
    const uint8_t id = drivenId();
    std::optional<Xyz> from;
    if (jogBurst && jogBurst->handle == ctl.handle && jogBurst->id == id)
        from = jogBurst->target;
    else
        from = positionNow();
    jogBurst.reset();

    bool sent = false;
    if (from) {
        const qint64 deltas[] = {dx, dy, dz};
        Xyz to;
        for (int i = 0; i < 3; ++i)
            to[i] = int(std::clamp<qint64>(from->at(i) + deltas[i], 0, positionMax));
        sent = moveTo(to);
        if (sent)
            jogBurst = JogBurst{ctl.handle, id, to};
    }
    timer.start();
    refreshConnectionState();
    return sent;
}

bool KesmarControl::halt()
{
    jogBurst.reset();
    const std::optional<Xyz> at = positionNow();
    const bool sent = at && moveTo(*at);
    timer.start();
    refreshConnectionState();
    return sent;
}

// The position the device reports now, within 0..20500, read without waiting
// for a move to end. A failed read is reported as a failed goto.
std::optional<KesmarControl::Xyz> KesmarControl::positionNow()
{
    int x = -1;
    int y = -1;
    int z = -1;
    if (!readPosition(0, &x, &y, &z)) {
        showGotoFailed();
        return std::nullopt;
    }
    return Xyz{qBound(0, x, positionMax), qBound(0, y, positionMax), qBound(0, z, positionMax)};
}

// Sends the target as Goto does; once sent, the targets and sliders show it
// without sending it again, Follow Target or not.
bool KesmarControl::moveTo(const Xyz &target)
{
    if (!sendTarget(target))
        return false;
    setTargets(target[0], target[1], target[2]);
    return true;
}

void KesmarControl::on_pushButtonGoto_clicked()
{
    pressGoto(nullptr);
}

// What the Goto button does: send the targets and restart polling, whatever
// the outcome. On a failure `error`, when given, gets the message shown.
bool KesmarControl::pressGoto(QString *error)
{
    const bool sent = gotoTarget();
    timer.start();
    refreshConnectionState();
    if (!sent && error)
        *error = ui->statusBar->currentMessage();
    return sent;
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
    if (state != ConnectionState::Reading || position.isEmpty()) {
        ui->statusBar->showMessage(tr("No live position to copy"), 1000);
        return;
    }
    const int x = static_cast<int>(ui->lcdNumberX->value());
    const int y = static_cast<int>(ui->lcdNumberY->value());
    const int z = static_cast<int>(ui->lcdNumberZ->value());
    // Under Follow Target the copied target is sent once, whole; a failed
    // send keeps its message.
    if (setTargets(x, y, z) && ui->followTarget->isChecked() && !gotoTarget())
        return;
    ui->statusBar->showMessage(tr("Current position copied into target values"), 1000);
}

void KesmarControl::on_pushButtonRestore_clicked()
{
    int x = -1;
    int y = -1;
    int z = -1;
    if (kesmarctl_get_mem_position_ext(ctl.handle, drivenId(), &x, &y, &z, 0) < 0) {
        ui->statusBar->showMessage(tr("No target position used yet"), 1000);
        return;
    }
    if (setTargets(x, y, z) && ui->followTarget->isChecked() && !gotoTarget())
        return;
    ui->statusBar->showMessage(tr("Previous target position restored"), 1000);
}

// ---------------------------------------------------------------------------
// Named positions

void KesmarControl::on_pushButtonStore_clicked()
{
    const int x = ui->targetX->value();
    const int y = ui->targetY->value();
    const int z = ui->targetZ->value();
    const QString name = ui->storeName->text();

    // The first record that matches by name, or else by coordinates, decides.
    for (int i = 0; i < positions.size(); ++i) {
        Position *p = positions.at(i);
        const bool sameName = QString::compare(p->name, name, Qt::CaseSensitive) == 0;
        const bool samePlace = p->x == x && p->y == y && p->z == z;
        if (sameName && samePlace) {
            ui->statusBar->showMessage(tr("Position %1 exists already").arg(name), 1000);
            return;
        }
        if (sameName) {
            p->x = x;
            p->y = y;
            p->z = z;
            ui->statusBar->showMessage(tr("Position %1 updated").arg(name), 1000);
            saveSettings();
            return;
        }
        if (samePlace && !name.isEmpty()) {
            // In place: the selection, the targets and the name field stay.
            p->name = name;
            ui->stores->setItemText(i, p->name);
            ui->statusBar->showMessage(tr("Position renamed as %1").arg(name), 1000);
            saveSettings();
            return;
        }
        if (samePlace) {
            ui->statusBar->showMessage(tr("Same position exists as %1").arg(p->name), 1000);
            return;
        }
    }

    const QString newName = name.isEmpty() ? defaultName() : name;
    positions.append(new Position(newName, x, y, z));
    {
        // Adding the first entry selects it; that recall sends nothing.
        const QScopedValueRollback<bool> adding(addingEntry, true);
        ui->stores->insertItem(ui->stores->count(), newName);
    }
    ui->statusBar->showMessage(tr("Position %1 added").arg(newName), 1000);
    saveSettings();
}

// "Pos n" with the smallest n that no stored position has as its name.
QString KesmarControl::defaultName() const
{
    for (int n = 1;; ++n) {
        const QString candidate = tr("Pos %1").arg(n);
        if (std::none_of(positions.cbegin(), positions.cend(), [&](const Position *p) { return p->name == candidate; }))
            return candidate;
    }
}

void KesmarControl::on_stores_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    if (index >= positions.size()) {
        qWarning("%s position %d not stored", Q_FUNC_INFO, index);
        return;
    }
    recall(index, ui->followTarget->isChecked() && !addingEntry);
}

// Puts entry `index` into the targets and the name field; `send` sends the
// manipulator there, once, instead of naming the entry.
void KesmarControl::recall(int index, bool send)
{
    const Position *r = positions.at(index);
    // A negative coordinate stands for the boxes' lower bound here.
    setTargets(qMax(0, r->x), qMax(0, r->y), qMax(0, r->z));
    ui->storeName->setText(r->name);
    if (send) {
        gotoTarget();
        return;
    }
    ui->statusBar->showMessage(tr("Position %1 restored").arg(r->name), 1000);
}

void KesmarControl::on_pushButtonRemove_clicked()
{
    const int i = ui->stores->currentIndex();
    if (i < 0)
        return;
    // The record leaves the list before its item leaves the combo box.
    delete positions.takeAt(i);
    {
        const QSignalBlocker quiet(ui->stores);
        ui->stores->removeItem(i);
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
    const int oldTimeout = portSettings.timeout;
    const QString oldPort = portSettings.port;

    Settings dialog(&portSettings);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (accepted)
        saveSettings();

    const bool changed
        = QString::compare(portSettings.port, oldPort, Qt::CaseSensitive) != 0 || portSettings.timeout != oldTimeout;
    // OK also reopens a port that is not open or no longer polled: after the
    // unit was unplugged and plugged in again nothing needs to change.
    const bool down = state == ConnectionState::NotConnected || state == ConnectionState::Stopped;
    if (changed || (accepted && down))
        reconnect();
}

// ---------------------------------------------------------------------------
// Entry points for scripts

QList<int> KesmarControl::targets() const
{
    return {ui->targetX->value(), ui->targetY->value(), ui->targetZ->value()};
}

bool KesmarControl::gotoTargets(int x, int y, int z, QString *error)
{
    setTargets(x, y, z);
    return pressGoto(error);
}

QList<Position> KesmarControl::namedPositions() const
{
    QList<Position> list;
    for (const Position *p : positions)
        list.append(*p);
    return list;
}

bool KesmarControl::gotoNamedPosition(int index, QString *error)
{
    // The entry is chosen and recalled without a send of its own, even when
    // it is chosen already and the targets were edited since; Goto sends it.
    {
        const QSignalBlocker quiet(ui->stores);
        ui->stores->setCurrentIndex(index);
    }
    recall(index, false);
    return pressGoto(error);
}

bool KesmarControl::storeNamedPosition(const QString &name, QString *error)
{
    ui->storeName->setText(name);
    on_pushButtonStore_clicked();
    // Store itself always has an answer; what can fail is saving it.
    const QString message = ui->statusBar->currentMessage();
    if (!message.startsWith(notSavedPrefix()))
        return true;
    *error = message;
    return false;
}

bool KesmarControl::chooseDevice(int n, QString *error)
{
    if (n < ui->dev->minimum() || n > ui->dev->maximum()) {
        *error = tr("Device %1 is outside %2..%3").arg(n).arg(ui->dev->minimum()).arg(ui->dev->maximum());
        return false;
    }
    // The box selects only on a change, so selecting the device in use again
    // changes nothing, as for the operator. A box that shows another device
    // than the one in use (after a failed selection) selects it anew.
    if (ui->dev->value() == n && dev != n)
        on_dev_valueChanged(n);
    else
        ui->dev->setValue(n);
    if (dev == n)
        return true;
    *error = ui->statusBar->currentMessage();
    return false;
}

void KesmarControl::on_actionPad_toggled(bool checked)
{
    if (checked)
        pad.show();
    else
        pad.close();
}
