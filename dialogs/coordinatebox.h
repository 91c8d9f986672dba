#ifndef COORDINATEBOX_H
#define COORDINATEBOX_H

#include "deviceframe.h"

#include <QSpinBox>

#include <optional>

// A spin box that holds a position of one axis in the unit's steps (its
// value and range stay in steps, so everything bound to it does too) and
// shows and takes it in the operator's coordinates: from the device's zero,
// in steps or in micrometres with one decimal. A typed value goes back to
// the nearest whole step. With the default frame it is a plain spin box.
class CoordinateBox : public QSpinBox
{
    Q_OBJECT

public:
    explicit CoordinateBox(QWidget *parent = nullptr);

    // Shows the box's axis in `frame` and `units`; `length` drops the zero,
    // for a box that holds a length rather than a position.
    void setCoordinates(const DeviceFrame &frame, int axis, DeviceFrame::Units units, bool length = false);
    // Whether the box shows the unit's own steps, as a plain spin box does.
    bool plainSteps() const;
    // The text shown for `steps`, and the steps a shown text stands for.
    QString shownText(int steps) const;
    std::optional<int> stepsOf(const QString &text) const;
    // Whether `text` stands for a value outside the range that more digits
    // could only take further out.
    bool beyondRange(const QString &text) const;

protected:
    QString textFromValue(int value) const override;
    int valueFromText(const QString &text) const override;
    QValidator::State validate(QString &input, int &pos) const override;

private:
    // The number in a text, without prefix, suffix and group separators.
    QString numberIn(const QString &text) const;

    DeviceFrame frame_;
    int axis_ = 0;
    DeviceFrame::Units units_ = DeviceFrame::Units::Steps;
    bool length_ = false;
};

#endif // COORDINATEBOX_H
