#ifndef LIMITSDIALOG_H
#define LIMITSDIALOG_H

#include "deviceframe.h"
#include "travellimits.h"

#include <QDialog>

#include <array>
#include <optional>

class CoordinateBox;

namespace Ui {
class LimitsDialog;
}

// Edits the travel envelope and the ordered moves. OK takes the limits only
// when they have no problem (a minimum above its maximum, a safe coordinate
// the envelope does not take); the problem shows in the dialog, which stays
// open. Each bound can be taken from the live reading the window passes in.
class LimitsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LimitsDialog(const TravelLimits &limits);
    ~LimitsDialog() override;

    // The limits as the dialog shows them.
    TravelLimits limits() const;
    // Limits changed elsewhere (a script) while the dialog is open: it shows
    // them, with a note, so that OK applies exactly what it shows.
    void showLimitsInForce(const TravelLimits &limits);
    // The live reading, or none: the "from the position now" buttons are
    // enabled only with one.
    void setLiveReading(const std::optional<TravelLimits::Xyz> &reading);
    // Shows the bounds in the device's frame and the units chosen (the
    // safe coordinate and the approach on the retract axis chosen); the
    // limits themselves stay in the unit's steps.
    void setCoordinates(const DeviceFrame &frame, DeviceFrame::Units units);

public slots:
    void accept() override;

private:
    void fill(const TravelLimits &limits);
    void showCoordinates();

    Ui::LimitsDialog *ui;
    std::array<CoordinateBox *, 3> mins_;
    std::array<CoordinateBox *, 3> maxs_;
    DeviceFrame frame_;
    DeviceFrame::Units units_ = DeviceFrame::Units::Steps;
    std::optional<TravelLimits::Xyz> reading_;
};

#endif // LIMITSDIALOG_H
