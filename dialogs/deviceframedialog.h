#ifndef DEVICEFRAMEDIALOG_H
#define DEVICEFRAMEDIALOG_H

#include "deviceframe.h"

#include <QDialog>

namespace Ui {
class DeviceFrameDialog;
}

// Edits one device's coordinates: its steps per micrometre on each axis and
// its pipette's axis (angle, plane and which way is forward). The zero is
// kept as it is: View > Zero here and Clear zero set it.
class DeviceFrameDialog : public QDialog
{
    Q_OBJECT

public:
    DeviceFrameDialog(int device, const DeviceFrame &frame);
    ~DeviceFrameDialog() override;

    int device() const { return device_; }
    // The frame as the dialog shows it.
    DeviceFrame frame() const;

private:
    Ui::DeviceFrameDialog *ui;
    int device_;
    DeviceFrame frame_;
};

#endif // DEVICEFRAMEDIALOG_H
