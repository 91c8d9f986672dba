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

public slots:
    // Writes the values back, then closes: whoever watches `finished` reads
    // the values OK gave.
    void accept() override;

private:
    void listPorts();

    Ui::Settings *ui;
    PortSettings *values;
};

#endif // SETTINGS_H
