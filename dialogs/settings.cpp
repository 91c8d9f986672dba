#include "settings.h"
#include "ui_settings.h"

#include "altletters.h"
#include "inputguard.h"
#include "serialports.h"

#include <QListWidget>
#include <QSignalBlocker>
#include <QToolTip>

Settings::Settings(PortSettings *values)
    : QDialog(nullptr)
    , ui(new Ui::Settings)
    , values(values)
{
    ui->setupUi(this);
    giveAltLetters(ui->buttonBox);
    ui->update->setMinimum(PortSettings::minUpdate);
    ui->timeout->setRange(PortSettings::minTimeout, PortSettings::maxTimeout);
    // A value typed outside a field's range is refused where it is typed.
    auto *guard = new InputGuard(this);
    guard->watch(ui->update, tr("Update"));
    guard->watch(ui->timeout, tr("Timeout"));
    connect(guard, &InputGuard::refused, this, [](QSpinBox *box, const QString &message) {
        QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), message, box);
    });
    ui->port->setText(values->port);
    listPorts();
    // Choosing a port found fills the field; typing a name of one's own still works.
    connect(ui->ports, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) {
        if (item)
            ui->port->setText(item->data(Qt::UserRole).toString());
    });
    ui->timeout->setValue(values->timeout);
    ui->update->setValue(values->update);
    ui->cuInPCmode->setChecked(values->pcmode);
}

// The ports present as the dialog opens, each with its description; the one
// set now is the current entry when it is among them.
void Settings::listPorts()
{
    for (const SerialPort &port : presentSerialPorts()) {
        auto *item = new QListWidgetItem(QStringLiteral("%1 — %2").arg(port.path, port.description), ui->ports);
        item->setData(Qt::UserRole, port.path);
        item->setToolTip(port.description);
        if (port.path == values->port) {
            const QSignalBlocker quiet(ui->ports);
            ui->ports->setCurrentItem(item);
        }
    }
    if (ui->ports->count() == 0) {
        auto *none = new QListWidgetItem(tr("No serial port found: connect the unit, or type the port's name above"),
                                         ui->ports);
        none->setFlags(Qt::NoItemFlags);
    }
}

Settings::~Settings()
{
    delete ui;
}

void Settings::accept()
{
    const QString port = ui->port->text();
    values->port = port.isEmpty() ? PortSettings::defaultPort() : port;
    values->timeout = ui->timeout->value();
    values->update = ui->update->value();
    values->pcmode = ui->cuInPCmode->isChecked();
    QDialog::accept();
}
