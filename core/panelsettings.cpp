#include "panelsettings.h"

#include "devicelink.h"
#include "positionmodel.h"
#include "travellimits.h"

namespace {

const QString padGroup = QStringLiteral("pad");
const QString limitsGroup = QStringLiteral("limits");

} // namespace

PanelSettings::PanelSettings(DeviceLink &link, PositionModel &positions)
    : link_(link)
    , positions_(positions)
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
    link_.setLimits(TravelLimits::fromGroup(limits));
    limitsKept_ = !limits.isEmpty();
    link_.setRetracted(DeviceLink::Retracted::fromGroup(limits));
    loaded_ = true;
    *standing = store_.isSavingOff() ? store_.savingOffMessage() : loaded.message;
    return stored.groups.value(padGroup);
}

// What the store is to hold now; the list is shared, not copied.
StoredSettings PanelSettings::snapshot(const QVariantMap &pad) const
{
    QVariantMap limits = limitsKept_ ? link_.limits().toGroup() : QVariantMap();
    if (const auto retracted = link_.retracted())
        retracted->addTo(limits);
    StoredSettings stored{link_.portSettings(), device_, positions_.positions(), {{padGroup, pad}}};
    if (!limits.isEmpty())
        stored.groups.insert(limitsGroup, limits);
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
