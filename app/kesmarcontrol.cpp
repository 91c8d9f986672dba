#include "kesmarcontrol.h"
#include "ui_kesmarcontrol.h"

#include "about.h"
#include "fulltexttooltipmodel.h"
#include "settings.h"

#include <QCloseEvent>
#include <QFile>
#include <QSaveFile>
#include <QSignalBlocker>
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

    ui->targetX->setMaximum(coordinateMax);
    ui->targetY->setMaximum(coordinateMax);
    ui->targetZ->setMaximum(coordinateMax);
    for (QSlider *slider : {ui->sliderX, ui->sliderY, ui->sliderZ}) {
        slider->setMaximum(coordinateMax);
        slider->setPageStep(2050);
    }

    connect(&timer, SIGNAL(timeout()), this, SLOT(updatePositions()));
    timer.setInterval(portSettings.update);
    QTimer::singleShot(100, this, SLOT(openPort()));
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
    store.sync();

    const QString notSaved = notSavedPrefix();
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

    const bool read = kesmarctl_get_position_ext(ctl.handle, deviceId(dev), time, &x, &y, &z) >= 0;
    if (read) {
        x = static_cast<qint16>(x & 0xffff);
        y = static_cast<qint16>(y & 0xffff);
        z = static_cast<qint16>(z & 0xffff);
    } else {
        ui->statusBar->showMessage(tr("Update failed - ") + errorText(), 200);
        timer.stop();
    }

    if (x >= 0)
        ui->lcdNumberX->display(x);
    if (y >= 0)
        ui->lcdNumberY->display(y);
    if (z >= 0)
        ui->lcdNumberZ->display(z);
    if (read)
        emit positionRead(x, y, z);
}

// ---------------------------------------------------------------------------
// Target motion

bool KesmarControl::gotoTarget()
{
    const int x = ui->targetX->value();
    const int y = ui->targetY->value();
    const int z = ui->targetZ->value();
    const uint8_t id = deviceId(dev);
    if (kesmarctl_store_mem_position_ext(ctl.handle, id, x, y, z, 0) >= 0
        && kesmarctl_goto_mem_position_ext(ctl.handle, id, 0) >= 0) {
        ui->statusBar->showMessage(tr("Goto command sent"), 1000);
        return true;
    }
    ui->statusBar->showMessage(tr("Goto failed - ") + errorText(), 0);
    return false;
}

// Puts a target into the spin boxes and sliders without sending it, Follow
// Target or not.
void KesmarControl::showTargets(int x, int y, int z)
{
    const QSignalBlocker blockX(ui->targetX);
    const QSignalBlocker blockY(ui->targetY);
    const QSignalBlocker blockZ(ui->targetZ);
    ui->targetX->setValue(x);
    ui->sliderX->setValue(x);
    ui->targetY->setValue(y);
    ui->sliderY->setValue(y);
    ui->targetZ->setValue(z);
    ui->sliderZ->setValue(z);
}

void KesmarControl::followTargetIfChecked()
{
    if (ui->followTarget->isChecked())
        gotoTarget();
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
    if (!sent && error)
        *error = ui->statusBar->currentMessage();
    return sent;
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

// ---------------------------------------------------------------------------
// Entry points for scripts

QList<int> KesmarControl::targets() const
{
    return {ui->targetX->value(), ui->targetY->value(), ui->targetZ->value()};
}

bool KesmarControl::gotoTargets(int x, int y, int z, QString *error)
{
    showTargets(x, y, z);
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
    // Choosing the entry already shown does not signal a change, but must
    // still put its coordinates into targets that may have been edited since.
    if (ui->stores->currentIndex() == index)
        on_stores_currentIndexChanged(index);
    else
        ui->stores->setCurrentIndex(index);
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
