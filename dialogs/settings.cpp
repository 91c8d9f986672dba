#include "settings.h"
#include "ui_settings.h"

Settings::Settings(PortSettings *values)
    : QDialog(nullptr)
    , ui(new Ui::Settings)
    , values(values)
{
    ui->setupUi(this);
    ui->update->setMinimum(PortSettings::minUpdate);
    ui->port->setText(values->port);
    ui->timeout->setValue(values->timeout);
    ui->update->setValue(values->update);
    ui->cuInPCmode->setChecked(values->pcmode);
}

Settings::~Settings()
{
    delete ui;
}

void Settings::on_buttonBox_accepted()
{
    const QString port = ui->port->text();
    values->port = port.isEmpty() ? PortSettings::defaultPort() : port;
    values->timeout = ui->timeout->value();
    values->update = ui->update->value();
    values->pcmode = ui->cuInPCmode->isChecked();
}
