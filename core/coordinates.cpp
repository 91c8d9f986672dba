#include "coordinates.h"

#include "travel.h"

namespace {

const QString unitsKey = QStringLiteral("units");
const QString micrometres = QStringLiteral("micrometres");

} // namespace

Coordinates::Coordinates(QObject *parent)
    : QObject(parent)
{ }

void Coordinates::setUnits(Units units)
{
    if (units == units_)
        return;
    units_ = units;
    unitsKept_ = true;
    emit changed();
}

void Coordinates::setFrame(int device, const DeviceFrame &frame)
{
    if (frames_.value(device) == frame && frames_.contains(device))
        return;
    frames_.insert(device, frame);
    emit changed();
}

void Coordinates::fromGroup(const QVariantMap &group)
{
    units_ = group.value(unitsKey).toString() == micrometres ? Units::Micrometres : Units::Steps;
    unitsKept_ = group.contains(unitsKey);
    frames_.clear();
    QMap<int, QVariantMap> byDevice;
    for (auto it = group.cbegin(); it != group.cend(); ++it) {
        const int slash = it.key().indexOf(QLatin1Char('/'));
        bool ok = false;
        const int device = it.key().left(slash).toInt(&ok);
        if (slash > 0 && ok && device >= minDevice && device <= maxDevice)
            byDevice[device].insert(it.key().mid(slash + 1), it.value());
    }
    for (auto it = byDevice.cbegin(); it != byDevice.cend(); ++it)
        frames_.insert(it.key(), DeviceFrame::fromGroup(it.value()));
    emit changed();
}

QVariantMap Coordinates::toGroup() const
{
    QVariantMap group;
    if (unitsKept_)
        group.insert(unitsKey, units_ == Units::Micrometres ? micrometres : QStringLiteral("steps"));
    for (auto it = frames_.cbegin(); it != frames_.cend(); ++it) {
        const QVariantMap keys = it->toGroup();
        for (auto key = keys.cbegin(); key != keys.cend(); ++key)
            group.insert(QString::number(it.key()) + QLatin1Char('/') + key.key(), key.value());
    }
    return group;
}
