#include "kesmarcontrol.h"
#include "ui_kesmarcontrol.h"

#include "about.h"
#include "fulltexttooltipmodel.h"
#include "settings.h"
#include "travel.h"

#include <QCloseEvent>
#include <QFile>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <optional>

namespace {

const QString defaultPort = PortSettings::defaultPort();
const QString organization = QStringLiteral("quellmark");
const QString application = QStringLiteral("orvex");

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

    connect(&timer, SIGNAL(timeout()), this, SLOT(updatePositions()));
    timer.setInterval(portSettings.update);
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
    // saving writes read the same with it.
    settings.setIniCodec("UTF-8");
    settings.beginGroup(QStringLiteral("settings"));
    dev = settings.value(QStringLiteral("dev"), 1).toInt();
    const QString port = settings.value(QStringLiteral("port"), portSettings.port).toString();
    portSettings.port = port.isEmpty() ? defaultPort : port;
    portSettings.timeout = settings.value(QStringLiteral("timeout"), portSettings.timeout).toInt();
    portSettings.update = settings.value(QStringLiteral("update"), portSettings.update).toInt();
    portSettings.pcmode = settings.value(QStringLiteral("pcmode"), portSettings.pcmode).toBool();
    settings.endGroup();

    ui->dev->setValue(dev);

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
    // escapes, as earlier builds wrote it, and comes back exactly as it was.
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

    const QString notSaved = tr("Settings not saved - ");
    // A format error means the file on disk could not be parsed before it
    // was replaced; the new contents were still written.
    if (store.status() == QSettings::AccessError) {
        const QString message = notSaved + tr("cannot write %1").arg(writeFailure(store.fileName()));
        ui->statusBar->showMessage(message, 0);
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
        ui->statusBar->showMessage(tr("%1 opened").arg(port), 1000);
        portSettings.port = port.isEmpty() ? defaultPort : port;
        timer.start();
    } else {
        const QString error = errorText();
        ui->statusBar->showMessage(tr("Can not open %1 - %2").arg(port, error), 0);
        // The unit may only be switched off: the configured port stays for
        // the next start.
        if (portSettings.port.isEmpty())
            portSettings.port = defaultPort;
        timer.stop();
    }
}

void KesmarControl::on_dev_valueChanged(int n)
{
    const QString number = QString::number(n);
    if (kesmarctl_select_dev(ctl.handle, deviceId(n)) >= 0) {
        dev = n;
        timer.start();
        ui->statusBar->showMessage(tr("Device %1 selected").arg(number), 1000);
        saveSettings();
        return;
    }
    // Falling back to device 1 may run this slot again, nested, before the
    // failure below is reported; the error text is read after it.
    ui->dev->setValue(1);
    const QString error = errorText();
    ui->statusBar->showMessage(tr("Device %1 select failed - %2").arg(number, error), 0);
    timer.stop();
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
        // More input is on its way: look again soon.
        QTimer::singleShot(50, this, SLOT(updatePositions()));
    }

    if (!readPosition(time, &x, &y, &z)) {
        ui->statusBar->showMessage(tr("Update failed - ") + errorText(), 200);
        timer.stop();
    }

    if (x >= 0)
        showReading(0, x);
    if (y >= 0)
        showReading(1, y);
    if (z >= 0)
        showReading(2, z);
}

// Reads the position of the selected device; the device reports each
// coordinate in its low 16 bits, as a signed number. On failure the outputs
// keep what the library left in them.
bool KesmarControl::readPosition(int time, int *x, int *y, int *z)
{
    if (kesmarctl_get_position_ext(ctl.handle, deviceId(dev), time, x, y, z) < 0)
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

// ---------------------------------------------------------------------------
// Target motion

void KesmarControl::gotoTarget()
{
    jogBurst.reset();
    sendTarget({ui->targetX->value(), ui->targetY->value(), ui->targetZ->value()});
}

// Stores the target in the device's memory position 0 and sends the device there.
bool KesmarControl::sendTarget(const Xyz &target)
{
    const uint8_t id = deviceId(dev);
    if (kesmarctl_store_mem_position_ext(ctl.handle, id, target[0], target[1], target[2], 0) >= 0
        && kesmarctl_goto_mem_position_ext(ctl.handle, id, 0) >= 0) {
        ui->statusBar->showMessage(tr("Goto command sent"), 1000);
        return true;
    }
    showGotoFailed();
    return false;
}

void KesmarControl::showGotoFailed()
{
    ui->statusBar->showMessage(tr("Goto failed - ") + errorText(), 0);
}

void KesmarControl::followTargetIfChecked()
{
    if (ui->followTarget->isChecked() && !showingSentTarget)
        gotoTarget();
}

// ---------------------------------------------------------------------------
// Jogging and halting

bool KesmarControl::moveBy(int dx, int dy, int dz)
{
    const uint8_t id = deviceId(dev);
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
            to[i] = int(qBound<qint64>(0, from->at(i) + deltas[i], positionMax));
        sent = moveTo(to);
        if (sent)
            jogBurst = JogBurst{ctl.handle, id, to};
    }
    timer.start();
    return sent;
}

bool KesmarControl::halt()
{
    jogBurst.reset();
    const std::optional<Xyz> at = positionNow();
    const bool sent = at && moveTo(*at);
    timer.start();
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
    const QScopedValueRollback<bool> quiet(showingSentTarget, true);
    ui->targetX->setValue(target[0]);
    ui->sliderX->setValue(target[0]);
    ui->targetY->setValue(target[1]);
    ui->sliderY->setValue(target[1]);
    ui->targetZ->setValue(target[2]);
    ui->sliderZ->setValue(target[2]);
    return true;
}

void KesmarControl::on_pushButtonGoto_clicked()
{
    gotoTarget();
    timer.start();
}

void KesmarControl::on_targetX_valueChanged(int value)
{
    ui->sliderX->setValue(value);
    followTargetIfChecked();
}

void KesmarControl::on_targetY_valueChanged(int value)
{
    ui->sliderY->setValue(value);
    followTargetIfChecked();
}

void KesmarControl::on_targetZ_valueChanged(int value)
{
    ui->sliderZ->setValue(value);
    followTargetIfChecked();
}

void KesmarControl::on_sliderX_sliderMoved(int position)
{
    ui->targetX->setValue(position);
    followTargetIfChecked();
}

void KesmarControl::on_sliderY_sliderMoved(int position)
{
    ui->targetY->setValue(position);
    followTargetIfChecked();
}

void KesmarControl::on_sliderZ_sliderMoved(int position)
{
    ui->targetZ->setValue(position);
    followTargetIfChecked();
}

void KesmarControl::on_pushButtonCopy_clicked()
{
    const int x = static_cast<int>(ui->lcdNumberX->value());
    const int y = static_cast<int>(ui->lcdNumberY->value());
    const int z = static_cast<int>(ui->lcdNumberZ->value());
    ui->targetX->setValue(x);
    ui->sliderX->setValue(x);
    ui->targetY->setValue(y);
    ui->sliderY->setValue(y);
    ui->targetZ->setValue(z);
    ui->sliderZ->setValue(z);
    ui->statusBar->showMessage(tr("Current position copied into target values"), 1000);
}

void KesmarControl::on_pushButtonRestore_clicked()
{
    int x = -1;
    int y = -1;
    int z = -1;
    if (kesmarctl_get_mem_position_ext(ctl.handle, deviceId(dev), &x, &y, &z, 0) < 0) {
        ui->statusBar->showMessage(tr("No target position used yet"), 1000);
        return;
    }
    if (x >= 0) {
        ui->targetX->setValue(x);
        ui->sliderX->setValue(x);
    }
    if (y >= 0) {
        ui->targetY->setValue(y);
        ui->sliderY->setValue(y);
    }
    if (z >= 0) {
        ui->targetZ->setValue(z);
        ui->sliderZ->setValue(z);
    }
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
            p->name = name;
            ui->stores->removeItem(i);
            ui->stores->insertItem(i, p->name);
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
    ui->stores->insertItem(ui->stores->count(), newName);
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
    const Position *r = positions.at(index);
    ui->targetX->setValue(r->x);
    ui->sliderX->setValue(r->x);
    ui->targetY->setValue(r->y);
    ui->sliderY->setValue(r->y);
    ui->targetZ->setValue(r->z);
    ui->sliderZ->setValue(r->z);
    ui->storeName->setText(r->name);

    if (ui->followTarget->isChecked()) {
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
    // The record leaves the list before its item leaves the combo box, so the
    // selection handler that the removal runs sees the list as it will stay.
    delete positions.takeAt(i);
    ui->stores->removeItem(i);
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
    if (dialog.exec() == QDialog::Accepted)
        saveSettings();

    const bool changed
        = QString::compare(portSettings.port, oldPort, Qt::CaseSensitive) != 0 || portSettings.timeout != oldTimeout;
    if (changed) {
        kesmarctl_close(ctl.handle);
        ctl.handle = nullptr;
        openPort(QString());
    }
}

void KesmarControl::on_actionPad_toggled(bool checked)
{
    if (checked)
        pad.show();
    else
        pad.close();
}
