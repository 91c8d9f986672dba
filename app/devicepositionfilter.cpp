#include "devicepositionfilter.h"

#include "positionmodel.h"

#include <QFont>

DevicePositionFilter::DevicePositionFilter(PositionModel &positions, int device, QObject *parent)
    : QSortFilterProxyModel(parent)
    , positions_(positions)
    , device_(device)
{
    setSourceModel(&positions_);
}

void DevicePositionFilter::setDevice(int n)
{
    if (n == device_)
        return;
    device_ = n;
    invalidateFilter();
}

int DevicePositionFilter::entry(int row) const
{
    return mapToSource(index(row, 0)).row();
}

int DevicePositionFilter::row(int entry) const
{
    return mapFromSource(positions_.index(entry)).row();
}

QVariant DevicePositionFilter::data(const QModelIndex &index, int role) const
{
    if (role != Qt::FontRole && role != Qt::ToolTipRole)
        return QSortFilterProxyModel::data(index, role);
    const int at = mapToSource(index).row();
    if (at < 0 || positions_.at(at).device != Position::noDevice)
        return QSortFilterProxyModel::data(index, role);
    if (role == Qt::ToolTipRole)
        return positions_.at(at).name + QLatin1Char('\n') + tr("Stored before positions had a device");
    QFont marked;
    marked.setItalic(true);
    return marked;
}

bool DevicePositionFilter::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    return positions_.at(sourceRow).isFor(device_);
}
