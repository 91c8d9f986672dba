#include "deviceframe.h"

#include "travel.h"

#include <QStringList>

#include <cmath>

namespace {

const QString axisLetters = QStringLiteral("xyz");

double radians(double degrees)
{
    return degrees * M_PI / 180.0;
}

// The pipette's unit vector on the plane's two axes.
std::array<double, 2> pipette(const DeviceFrame &frame)
{
    const double a = radians(frame.angle);
    // An angle of exactly 90 or 0 degrees has no stray component.
    const double c = frame.angle == 90 ? 0.0 : std::cos(a);
    const double s = frame.angle == 0 ? 0.0 : std::sin(a);
    return {frame.direction[0] * c, frame.direction[1] * s};
}

std::optional<std::array<double, 3>> numbersFrom(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 3)
        return std::nullopt;
    std::array<double, 3> values{};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        values[i] = parts.at(i).toDouble(&ok);
        if (!ok || !std::isfinite(values[i]))
            return std::nullopt;
    }
    return values;
}

} // namespace

double DeviceFrame::length(int axis, int steps, Units units) const
{
    return units == Units::Micrometres ? steps / scale.at(axis) : steps;
}

int DeviceFrame::lengthSteps(int axis, double length, Units units) const
{
    return int(std::lround(units == Units::Micrometres ? length * scale.at(axis) : length));
}

QString DeviceFrame::lengthText(int axis, int steps, Units units) const
{
    if (units == Units::Steps)
        return QString::number(steps);
    // "-0.0" reads as a value on the other side of the zero.
    const double value = length(axis, steps, units);
    return QString::number(std::abs(value) < 0.05 ? 0.0 : value, 'f', 1);
}

double DeviceFrame::shown(int axis, int steps, Units units) const
{
    return length(axis, steps - (zero ? zero->at(axis) : 0), units);
}

int DeviceFrame::steps(int axis, double shown, Units units) const
{
    return lengthSteps(axis, shown, units) + (zero ? zero->at(axis) : 0);
}

QString DeviceFrame::text(int axis, int steps, Units units) const
{
    return lengthText(axis, steps - (zero ? zero->at(axis) : 0), units);
}

DeviceFrame::Xyz DeviceFrame::along(double distance, Units units) const
{
    const auto u = pipette(*this);
    Xyz step{0, 0, 0};
    for (int i = 0; i < 2; ++i)
        step[plane[i]] = lengthSteps(plane[i], distance * u[i], units);
    return step;
}

double DeviceFrame::alongDistance(const Xyz &at, Units units) const
{
    const auto u = pipette(*this);
    double distance = 0;
    for (int i = 0; i < 2; ++i)
        distance += shown(plane[i], at[plane[i]], units) * u[i];
    return distance;
}

int DeviceFrame::readoutDigits(Units units) const
{
    // Every character takes a cell of the readout, the minus sign and the
    // decimal point included: a text longer than the cells loses its start.
    int digits = 5;
    for (int axis = 0; axis < 3; ++axis) {
        for (int end : {0, positionMax})
            digits = std::max(digits, int(text(axis, end, units).size()));
    }
    return digits;
}

DeviceFrame DeviceFrame::fromGroup(const QVariantMap &group)
{
    DeviceFrame frame;
    if (const auto scale = numbersFrom(group.value(QStringLiteral("scale")).toString())) {
        if (std::all_of(scale->begin(), scale->end(), [](double s) { return s > 0; }))
            frame.scale = *scale;
    }
    if (const auto zero = numbersFrom(group.value(QStringLiteral("zero")).toString())) {
        Xyz at;
        for (int i = 0; i < 3; ++i)
            at[i] = int(std::lround(zero->at(i)));
        frame.zero = at;
    }
    bool ok = false;
    const double angle = group.value(QStringLiteral("angle")).toDouble(&ok);
    if (ok && angle >= 0 && angle <= 90)
        frame.angle = angle;
    const QString plane = group.value(QStringLiteral("plane")).toString().toLower();
    if (plane.size() == 2 && plane[0] != plane[1] && axisLetters.contains(plane[0]) && axisLetters.contains(plane[1]))
        frame.plane = {int(axisLetters.indexOf(plane[0])), int(axisLetters.indexOf(plane[1]))};
    const QString direction = group.value(QStringLiteral("direction")).toString();
    if (direction.size() == 2 && QStringLiteral("+-").contains(direction[0])
        && QStringLiteral("+-").contains(direction[1]))
        frame.direction = {direction[0] == u'+' ? 1 : -1, direction[1] == u'+' ? 1 : -1};
    return frame;
}

QVariantMap DeviceFrame::toGroup() const
{
    const auto three = [](auto a, auto b, auto c) {
        return QStringLiteral("%1 %2 %3").arg(a).arg(b).arg(c);
    };
    return {
        {QStringLiteral("scale"), three(scale[0], scale[1], scale[2])},
        // Written empty when cleared, so the key no longer holds a zero.
        {QStringLiteral("zero"), zero ? three(zero->at(0), zero->at(1), zero->at(2)) : QString()},
        {QStringLiteral("angle"), angle},
        {QStringLiteral("plane"), QString(axisLetters[plane[0]]) + axisLetters[plane[1]]},
        {QStringLiteral("direction"),
         QString(QLatin1Char(direction[0] > 0 ? '+' : '-')) + QLatin1Char(direction[1] > 0 ? '+' : '-')},
    };
}

bool DeviceFrame::operator==(const DeviceFrame &other) const
{
    return scale == other.scale && zero == other.zero && angle == other.angle && plane == other.plane
        && direction == other.direction;
}

QString DeviceFrame::unitName(Units units)
{
    return units == Units::Micrometres ? QStringLiteral("µm") : QStringLiteral("steps");
}
