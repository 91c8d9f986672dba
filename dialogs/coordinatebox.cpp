#include "coordinatebox.h"

#include <cmath>

CoordinateBox::CoordinateBox(QWidget *parent)
    : QSpinBox(parent)
{ }

void CoordinateBox::setCoordinates(const DeviceFrame &frame, int axis, DeviceFrame::Units units, bool length)
{
    frame_ = frame;
    axis_ = axis;
    units_ = units;
    length_ = length;
    // An arrow click moves about one unit of what is shown.
    setSingleStep(std::max(1, frame_.lengthSteps(axis_, 1, units_)));
    // The text follows the new frame (setting the prefix shows the value
    // anew); the value in steps stays.
    setPrefix(prefix());
}

bool CoordinateBox::plainSteps() const
{
    return units_ == DeviceFrame::Units::Steps && (length_ || !frame_.zero);
}

QString CoordinateBox::shownText(int steps) const
{
    const QString text = length_ ? frame_.lengthText(axis_, steps, units_) : frame_.text(axis_, steps, units_);
    return prefix() + text + suffix();
}

QString CoordinateBox::numberIn(const QString &text) const
{
    QString number = text.trimmed();
    if (!prefix().isEmpty() && number.startsWith(prefix()))
        number.remove(0, prefix().size());
    if (!suffix().isEmpty() && number.endsWith(suffix()))
        number.chop(suffix().size());
    return number.remove(locale().groupSeparator()).trimmed();
}

std::optional<int> CoordinateBox::stepsOf(const QString &text) const
{
    const QString number = numberIn(text);
    bool ok = false;
    // Both the locale's decimal point and the C one are taken.
    double shown = locale().toDouble(number, &ok);
    if (!ok)
        shown = number.toDouble(&ok);
    if (!ok || !std::isfinite(shown) || std::abs(shown) > 1e9)
        return std::nullopt;
    return length_ ? frame_.lengthSteps(axis_, shown, units_) : frame_.steps(axis_, shown, units_);
}

bool CoordinateBox::beyondRange(const QString &text) const
{
    const std::optional<int> steps = stepsOf(text);
    if (!steps)
        return false;
    const bool negative = text.trimmed().startsWith(QLatin1Char('-'));
    // More digits take a value further from the zero, on the side it is on.
    return negative ? *steps < minimum() : *steps > maximum();
}

QString CoordinateBox::textFromValue(int value) const
{
    const QString text = shownText(value);
    return text.mid(prefix().size(), text.size() - prefix().size() - suffix().size());
}

int CoordinateBox::valueFromText(const QString &text) const
{
    return stepsOf(text).value_or(value());
}

QValidator::State CoordinateBox::validate(QString &input, int &pos) const
{
    if (plainSteps())
        return QSpinBox::validate(input, pos);
    const QString number = numberIn(input);
    if (number.isEmpty() || number == QLatin1String("-") || number == QLatin1String("+"))
        return QValidator::Intermediate;
    const std::optional<int> steps = stepsOf(input);
    if (!steps)
        return QValidator::Invalid;
    return *steps >= minimum() && *steps <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
}
