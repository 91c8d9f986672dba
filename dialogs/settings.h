#ifndef SETTINGS_H
#define SETTINGS_H

#include "portsettings.h"

#include <QDialog>

namespace Ui {
class Settings;
}

// Edits the port settings in place; the values are written back on OK only.
class Settings : public QDialog
{
    Q_OBJECT

public:
    explicit Settings(PortSettings *values);
    ~Settings() override;

private slots:
    void on_buttonBox_accepted();

private:
    Ui::Settings *ui;
    PortSettings *values;
};

#endif // SETTINGS_H
