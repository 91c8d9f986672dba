#include "positionchange.h"

PositionChange::PositionChange(PositionModel &model, int row, const std::optional<Position> &before,
                               const std::optional<Position> &after, const QString &text)
    : QUndoCommand(text)
    , model_(model)
    , row_(row)
    , before_(before)
    , after_(after)
{ }

PositionChange *PositionChange::store(PositionModel &model, const PositionModel::StoreResult &plan, int x, int y, int z,
                                      int device)
{
    const Position after(plan.name, x, y, z, device);
    switch (plan.outcome) {
    case PositionModel::StoreOutcome::Added:
        return new PositionChange(model, plan.row, std::nullopt, after, tr("add %1").arg(plan.name));
    case PositionModel::StoreOutcome::Updated:
        return new PositionChange(model, plan.row, model.at(plan.row), after, tr("update %1").arg(plan.name));
    case PositionModel::StoreOutcome::Renamed: {
        const Position &before = model.at(plan.row);
        return new PositionChange(model, plan.row, before, after, tr("rename %1 as %2").arg(before.name, plan.name));
    }
    case PositionModel::StoreOutcome::Exists:
    case PositionModel::StoreOutcome::ExistsAs:
    case PositionModel::StoreOutcome::Elsewhere:
        break;
    }
    return nullptr;
}

PositionChange *PositionChange::remove(PositionModel &model, int row)
{
    const Position &before = model.at(row);
    return new PositionChange(model, row, before, std::nullopt, tr("remove %1").arg(before.name));
}

void PositionChange::redo()
{
    put(before_, after_);
}

void PositionChange::undo()
{
    put(after_, before_);
}

void PositionChange::put(const std::optional<Position> &from, const std::optional<Position> &to)
{
    if (!from)
        model_.insert(row_, *to);
    else if (!to)
        model_.remove(row_);
    else
        model_.replace(row_, *to);
}
