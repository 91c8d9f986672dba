#include "limitsdialog.h"
#include "ui_limitsdialog.h"

#include "altletters.h"
#include "coordinatebox.h"
#include "inputguard.h"

#include <QComboBox>
#include <QPushButton>
#include <QToolTip>

LimitsDialog::LimitsDialog(const TravelLimits &limits)
    : QDialog(nullptr)
    , ui(new Ui::LimitsDialog)
    , mins_{}
    , maxs_{}
{
    ui->setupUi(this);
    giveAltLetters(ui->buttonBox);
    mins_ = {ui->xmin, ui->ymin, ui->zmin};
    maxs_ = {ui->xmax, ui->ymax, ui->zmax};
    const std::array<QPushButton *, 3> minHere{ui->xminHere, ui->yminHere, ui->zminHere};
    const std::array<QPushButton *, 3> maxHere{ui->xmaxHere, ui->ymaxHere, ui->zmaxHere};

    // A value typed outside a field's range is refused where it is typed.
    auto *guard = new InputGuard(this);
    connect(guard, &InputGuard::refused, this, [](QSpinBox *box, const QString &message) {
        QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), message, box);
    });
    for (int axis = 0; axis < 3; ++axis) {
        const QString name(QChar(u'X' + axis));
        guard->watch(mins_[axis], tr("%1 minimum").arg(name));
        guard->watch(maxs_[axis], tr("%1 maximum").arg(name));
        connect(minHere[axis], &QPushButton::clicked, this, [this, axis] {
            if (reading_)
                mins_[axis]->setValue(reading_->at(axis));
        });
        connect(maxHere[axis], &QPushButton::clicked, this, [this, axis] {
            if (reading_)
                maxs_[axis]->setValue(reading_->at(axis));
        });
    }
    guard->watch(ui->safe, tr("Safe coordinate"));
    guard->watch(ui->approach, tr("Approach distance"));
    connect(ui->axis, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &LimitsDialog::showCoordinates);
    fill(limits);
    setLiveReading(std::nullopt);
}

void LimitsDialog::setCoordinates(const DeviceFrame &frame, DeviceFrame::Units units)
{
    frame_ = frame;
    units_ = units;
    showCoordinates();
}

void LimitsDialog::showCoordinates()
{
    for (int axis = 0; axis < 3; ++axis) {
        mins_[axis]->setCoordinates(frame_, axis, units_);
        maxs_[axis]->setCoordinates(frame_, axis, units_);
    }
    const int retractAxis = std::clamp(ui->axis->currentIndex(), 0, 2);
    ui->safe->setCoordinates(frame_, retractAxis, units_);
    ui->approach->setCoordinates(frame_, retractAxis, units_, true);
}

void LimitsDialog::fill(const TravelLimits &limits)
{
    for (int axis = 0; axis < 3; ++axis) {
        mins_[axis]->setValue(limits.min[axis]);
        maxs_[axis]->setValue(limits.max[axis]);
    }
    ui->envelope->setChecked(limits.enabled);
    ui->ordered->setChecked(limits.ordered);
    ui->axis->setCurrentIndex(limits.axis);
    ui->outward->setCurrentIndex(limits.outwardUp ? 0 : 1);
    ui->safe->setValue(limits.safe);
    ui->approach->setValue(limits.approach);
}

void LimitsDialog::showLimitsInForce(const TravelLimits &limits)
{
    if (limits.toGroup() == this->limits().toGroup())
        return;
    fill(limits);
    ui->problem->setText(tr("The limits were changed elsewhere; these are the limits in force now."));
}

LimitsDialog::~LimitsDialog()
{
    delete ui;
}

TravelLimits LimitsDialog::limits() const
{
    TravelLimits limits;
    limits.enabled = ui->envelope->isChecked();
    for (int axis = 0; axis < 3; ++axis) {
        limits.min[axis] = mins_[axis]->value();
        limits.max[axis] = maxs_[axis]->value();
    }
    limits.ordered = ui->ordered->isChecked();
    limits.axis = ui->axis->currentIndex();
    limits.outwardUp = ui->outward->currentIndex() == 0;
    limits.safe = ui->safe->value();
    limits.approach = ui->approach->value();
    return limits;
}

void LimitsDialog::setLiveReading(const std::optional<TravelLimits::Xyz> &reading)
{
    reading_ = reading;
    const QString why = reading ? QString() : tr("No live reading of the position");
    for (QPushButton *here : {ui->xminHere, ui->xmaxHere, ui->yminHere, ui->ymaxHere, ui->zminHere, ui->zmaxHere}) {
        here->setEnabled(reading.has_value());
        here->setStatusTip(why);
    }
}

void LimitsDialog::accept()
{
    const QString problem = limits().problem();
    ui->problem->setText(problem);
    if (problem.isEmpty())
        QDialog::accept();
}
