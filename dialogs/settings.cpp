#include "settings.h"
#include "ui_settings.h"

#include "altletters.h"
#include "inputguard.h"

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
    ui->timeout->setValue(values->timeout);
    ui->update->setValue(values->update);
    ui->cuInPCmode->setChecked(values->pcmode);
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
