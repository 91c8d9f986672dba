#include "deviceframedialog.h"
#include "ui_deviceframedialog.h"

#include "altletters.h"

#include <QDoubleSpinBox>

namespace {

// The planes in the order of the list: first axis, second axis.
constexpr std::array<std::array<int, 2>, 6> planes{{{0, 2}, {1, 2}, {0, 1}, {2, 0}, {2, 1}, {1, 0}}};

} // namespace

DeviceFrameDialog::DeviceFrameDialog(int device, const DeviceFrame &frame)
    : QDialog(nullptr)
    , ui(new Ui::DeviceFrameDialog)
    , device_(device)
    , frame_(frame)
{
    ui->setupUi(this);
    giveAltLetters(ui->buttonBox);
    ui->labelDevice->setText(tr("Device %1").arg(device));
    const std::array<QDoubleSpinBox *, 3> scales{ui->scaleX, ui->scaleY, ui->scaleZ};
    for (int axis = 0; axis < 3; ++axis)
        scales[axis]->setValue(frame.scale[axis]);
    ui->angle->setValue(frame.angle);
    ui->plane->setCurrentIndex(int(std::find(planes.begin(), planes.end(), frame.plane) - planes.begin()));
    ui->firstWay->setCurrentIndex(frame.direction[0] > 0 ? 0 : 1);
    ui->secondWay->setCurrentIndex(frame.direction[1] > 0 ? 0 : 1);
}

DeviceFrameDialog::~DeviceFrameDialog()
{
    delete ui;
}

DeviceFrame DeviceFrameDialog::frame() const
{
    DeviceFrame frame = frame_;
    frame.scale = {ui->scaleX->value(), ui->scaleY->value(), ui->scaleZ->value()};
    frame.angle = ui->angle->value();
    frame.plane = planes.at(size_t(ui->plane->currentIndex()));
    frame.direction = {ui->firstWay->currentIndex() == 0 ? 1 : -1, ui->secondWay->currentIndex() == 0 ? 1 : -1};
    return frame;
}
