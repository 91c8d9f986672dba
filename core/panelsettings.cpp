#include "panelsettings.h"

#include "coordinates.h"
#include "devicelink.h"
#include "movegate.h"
#include "moveplans.h"
#include "positionmodel.h"
#include "travel.h"
#include "travellimits.h"

#include <QStringList>

namespace {

const QString padGroup = QStringLiteral("pad");
const QString limitsGroup = QStringLiteral("limits");
const QString devicesGroup = QStringLiteral("devices");
const QString retractKey = QStringLiteral("retract");

using Xyz = DeviceLink::Xyz;

// A remembered position: three whole numbers within the travel.
std::optional<Xyz> positionFrom(const QStringList &values)
{
    if (values.size() != 3)
        return std::nullopt;
    Xyz xyz;
    for (int axis = 0; axis < 3; ++axis) {
        bool ok = false;
        xyz[axis] = values.at(axis).trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (!MoveGate::checkTarget(xyz).ok())
        return std::nullopt;
    return xyz;
}

bool isDevice(const QString &text, int *n)
{
    bool ok = false;
    *n = text.toInt(&ok);
    return ok && *n >= minDevice && *n <= maxDevice;
}

// Retract's memory from the group "limits"; damaged entries are left out.
QMap<int, Xyz> retractedFrom(const QVariantMap &group)
{
    QMap<int, Xyz> retracted;
    for (auto it = group.cbegin(); it != group.cend(); ++it) {
        int device = 0;
        if (!it.key().startsWith(retractKey) || !isDevice(it.key().mid(retractKey.size()), &device))
            continue;
        if (const auto xyz = positionFrom(it.value().toString().split(QLatin1Char(' '), Qt::SkipEmptyParts)))
            retracted.insert(device, *xyz);
    }
    // An earlier version's one device, unless its own key says otherwise.
    int device = 0;
    const auto earlier = positionFrom({group.value(QStringLiteral("retractx")).toString(),
                                       group.value(QStringLiteral("retracty")).toString(),
                                       group.value(QStringLiteral("retractz")).toString()});
    if (earlier && isDevice(group.value(QStringLiteral("retractdevice")).toString(), &device)
        && !retracted.contains(device))
        retracted.insert(device, *earlier);
    return retracted;
}

void addRetracted(const QMap<int, Xyz> &retracted, int driven, QVariantMap &group)
{
    if (retracted.isEmpty())
        return;
    for (auto it = retracted.cbegin(); it != retracted.cend(); ++it)
        group.insert(retractKey + QString::number(it.key()),
                     QStringLiteral("%1 %2 %3").arg(it->at(0)).arg(it->at(1)).arg(it->at(2)));
    const int device = retracted.contains(driven) ? driven : retracted.firstKey();
    const Xyz &xyz = retracted.value(device);
    group.insert(QStringLiteral("retractdevice"), device);
    group.insert(QStringLiteral("retractx"), xyz[0]);
    group.insert(QStringLiteral("retracty"), xyz[1]);
    group.insert(QStringLiteral("retractz"), xyz[2]);
}

} // namespace

PanelSettings::PanelSettings(DeviceLink &link, MoveGate &gate, MovePlans &plans, PositionModel &positions,
                             Coordinates &coordinates)
    : link_(link)
    , gate_(gate)
    , plans_(plans)
    , positions_(positions)
    , coordinates_(coordinates)
{ }

QVariantMap PanelSettings::load(QString *standing)
{
    LoadReport loaded;
    const StoredSettings stored = store_.load(&loaded);
    device_ = stored.device;
    link_.setPortSettings(stored.port);
    link_.setPollInterval(stored.port.update);
    // Only the device to select once a port is open.
    link_.setDevice(device_);
    positions_.setPositions(stored.positions);
    const QVariantMap limits = stored.groups.value(limitsGroup);
    gate_.setLimits(TravelLimits::fromGroup(limits));
    limitsKept_ = !limits.isEmpty();
    plans_.setRetracted(retractedFrom(limits));
    coordinates_.fromGroup(stored.groups.value(devicesGroup));
    loaded_ = true;
    *standing = store_.isSavingOff() ? store_.savingOffMessage() : loaded.message;
    return stored.groups.value(padGroup);
}

// What the store is to hold now; the list is shared, not copied.
StoredSettings PanelSettings::snapshot(const QVariantMap &pad) const
{
    QVariantMap limits = limitsKept_ ? gate_.limits().toGroup() : QVariantMap();
    addRetracted(plans_.retracted(), link_.device(), limits);
    StoredSettings stored{link_.portSettings(), device_, positions_.positions(), {{padGroup, pad}}};
    if (!limits.isEmpty())
        stored.groups.insert(limitsGroup, limits);
    const QVariantMap devices = coordinates_.toGroup();
    if (!devices.isEmpty())
        stored.groups.insert(devicesGroup, devices);
    return stored;
}

quint64 PanelSettings::saveLater(const QVariantMap &pad)
{
    return loaded_ ? store_.saveLater(snapshot(pad)) : 0;
}

SaveResult PanelSettings::save(const QVariantMap &pad)
{
    return loaded_ ? store_.save(snapshot(pad)) : SaveResult();
}
