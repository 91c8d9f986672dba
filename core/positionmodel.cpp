#include "positionmodel.h"

#include <algorithm>
#include <vector>

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

PositionModel::StoreResult PositionModel::plan(const QString &name, int x, int y, int z, int device,
                                               StoreMatch match) const
{
    // A name already stored decides first: two entries never share a name.
    const int named = name.isEmpty() ? -1 : find(name);
    if (named >= 0) {
        const Position &p = positions_.at(named);
        // Another device's site is not taken over from here.
        if (!p.isFor(device))
            return {StoreOutcome::Elsewhere, named, name};
        const bool same = p.x == x && p.y == y && p.z == z;
        return {same ? StoreOutcome::Exists : StoreOutcome::Updated, named, name};
    }
    if (match == StoreMatch::NameOrPlace) {
        for (int row = 0; row < positions_.size(); ++row) {
            const Position &p = positions_.at(row);
            if (!p.isFor(device) || p.x != x || p.y != y || p.z != z)
                continue;
            if (name.isEmpty())
                return {StoreOutcome::ExistsAs, row, p.name};
            return {StoreOutcome::Renamed, row, name};
        }
    }
    return {StoreOutcome::Added, int(positions_.size()), name.isEmpty() ? defaultName() : name};
}

void PositionModel::insert(int row, const Position &position)
{
    beginInsertRows(QModelIndex(), row, row);
    positions_.insert(row, position);
    endInsertRows();
}

void PositionModel::replace(int row, const Position &position)
{
    positions_[row] = position;
    emit dataChanged(index(row), index(row));
}

void PositionModel::remove(int row)
{
    if (row < 0 || row >= positions_.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    positions_.removeAt(row);
    endRemoveRows();
}

ActResult PositionModel::checkName(const QString &name)
{
    const int length = int(name.toUcs4().size());
    if (length == 0)
        return {ActResult::Kind::OutOfRange,
                tr("A position name needs 1 to %1 characters").arg(Position::maxNameLength)};
    if (length > Position::maxNameLength)
        return {ActResult::Kind::OutOfRange,
                tr("A position name has at most %1 characters, not %2").arg(Position::maxNameLength).arg(length)};
    const auto bad = std::find_if_not(name.cbegin(), name.cend(), &Position::isNameCharacter);
    if (bad != name.cend())
        return {ActResult::Kind::OutOfRange,
                tr("A position name cannot hold control characters or line breaks; character %1 is one")
                    .arg(int(bad - name.cbegin()) + 1)};
    return ActResult::done(QString());
}

int PositionModel::find(const QString &name) const
{
    // A name stored with white space at an end, by an earlier version or by
    // hand, is still found under its name without it.
    const QString wanted = name.trimmed();
    const auto found = std::find_if(positions_.cbegin(), positions_.cend(),
                                    [&wanted](const Position &p) { return p.name.trimmed() == wanted; });
    return found == positions_.cend() ? -1 : int(found - positions_.cbegin());
}

int PositionModel::nearestFor(int row, int device) const
{
    for (int after = qMax(row, 0); after < positions_.size(); ++after) {
        if (positions_.at(after).isFor(device))
            return after;
    }
    for (int before = qMin(row, int(positions_.size())) - 1; before >= 0; --before) {
        if (positions_.at(before).isFor(device))
            return before;
    }
    return -1;
}

QString PositionModel::defaultName() const
{
    // One pass over the names: n up to the list's size + 1 is all that can be
    // the smallest one free.
    const QString pattern = tr("Pos %1");
    const int at = int(pattern.indexOf(QStringLiteral("%1")));
    const QString before = pattern.left(at);
    const QString after = pattern.mid(at + 2);
    std::vector<bool> taken(size_t(positions_.size()) + 2, false);
    for (const Position &p : positions_) {
        const QString name = p.name.trimmed();
        if (name.size() <= before.size() + after.size() || !name.startsWith(before) || !name.endsWith(after))
            continue;
        const QString number = name.mid(before.size(), name.size() - before.size() - after.size());
        bool ok = false;
        const int n = number.toInt(&ok);
        // Only the name defaultName() would give: "Pos 01" is not "Pos 1".
        if (ok && n >= 1 && size_t(n) < taken.size() && number == QString::number(n))
            taken[size_t(n)] = true;
    }
    int n = 1;
    while (taken[size_t(n)])
        ++n;
    return pattern.arg(n);
}

QString PositionModel::describe(const StoreResult &result) const
{
    switch (result.outcome) {
    case StoreOutcome::Added:
        return tr("Position %1 added").arg(result.name);
    case StoreOutcome::Updated:
        return tr("Position %1 updated").arg(result.name);
    case StoreOutcome::Renamed:
        return tr("Position renamed as %1").arg(result.name);
    case StoreOutcome::Exists:
        return tr("Position %1 exists already").arg(result.name);
    case StoreOutcome::ExistsAs:
        return tr("Same position exists as %1").arg(result.name);
    case StoreOutcome::Elsewhere:
        return tr("Position %1 belongs to device %2: not stored, choose another name")
            .arg(result.name)
            .arg(positions_.at(result.row).device);
    }
    return QString();
}
