#include "positionhistory.h"

#include "positionchange.h"

PositionHistory::PositionHistory(PositionModel &model, QObject *parent)
    : QObject(parent)
    , model_(model)
{ }

void PositionHistory::store(const PositionModel::StoreResult &plan, int x, int y, int z, int device)
{
    stack_.push(PositionChange::store(model_, plan, x, y, z, device));
}

void PositionHistory::remove(int row)
{
    stack_.push(PositionChange::remove(model_, row));
}

std::optional<PositionHistory::Step> PositionHistory::step(bool back)
{
    if (back ? !stack_.canUndo() : !stack_.canRedo())
        return std::nullopt;
    const QString change = back ? stack_.undoText() : stack_.redoText();
    if (back)
        stack_.undo();
    else
        stack_.redo();
    // The command just undone is the next to redo; the one redone, the next
    // to undo.
    const int done = back ? stack_.index() : stack_.index() - 1;
    return Step{static_cast<const PositionChange *>(stack_.command(done))->row(), change};
}
