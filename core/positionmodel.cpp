#include "positionmodel.h"

#include <algorithm>

PositionModel::PositionModel(QObject *parent)
    : QAbstractListModel(parent)
{ }

int PositionModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(positions_.size());
}

QVariant PositionModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= positions_.size())
        return QVariant();
    if (role == Qt::DisplayRole || role == Qt::EditRole || role == Qt::ToolTipRole)
        return positions_.at(index.row()).name;
    return QVariant();
}

void PositionModel::setPositions(const QList<Position> &positions)
{
    beginResetModel();
    positions_ = positions;
    endResetModel();
}

PositionModel::StoreResult PositionModel::store(const QString &name, int x, int y, int z)
{
    // A name already stored decides first: two entries never share a name.
    const int named = name.isEmpty() ? -1 : find(name);
    if (named >= 0) {
        Position &p = positions_[named];
        if (p.x == x && p.y == y && p.z == z)
            return {StoreOutcome::Exists, named, name};
        p.x = x;
        p.y = y;
        p.z = z;
        emit dataChanged(index(named), index(named));
        return {StoreOutcome::Updated, named, name};
    }
    for (int row = 0; row < positions_.size(); ++row) {
        Position &p = positions_[row];
        if (p.x != x || p.y != y || p.z != z)
            continue;
        if (name.isEmpty())
            return {StoreOutcome::ExistsAs, row, p.name};
        p.name = name;
        emit dataChanged(index(row), index(row));
        return {StoreOutcome::Renamed, row, name};
    }
    const QString newName = name.isEmpty() ? defaultName() : name;
    const int row = int(positions_.size());
    beginInsertRows(QModelIndex(), row, row);
    positions_.append(Position(newName, x, y, z));
    endInsertRows();
    return {StoreOutcome::Added, row, newName};
}

void PositionModel::remove(int row)
{
    if (row < 0 || row >= positions_.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    positions_.removeAt(row);
    endRemoveRows();
}

int PositionModel::find(const QString &name) const
{
    const auto found
        = std::find_if(positions_.cbegin(), positions_.cend(), [&name](const Position &p) { return p.name == name; });
    return found == positions_.cend() ? -1 : int(found - positions_.cbegin());
}

QString PositionModel::defaultName() const
{
    for (int n = 1;; ++n) {
        const QString candidate = tr("Pos %1").arg(n);
        if (find(candidate) < 0)
            return candidate;
    }
}
