#ifndef POSITIONCHANGE_H
#define POSITIONCHANGE_H

#include "position.h"
#include "positionmodel.h"

#include <QCoreApplication>
#include <QUndoCommand>

#include <optional>

// One change of the named positions as the undo stack keeps it: the entry at
// a row before and after the change. An addition has no entry before, a
// removal none after; an update or a rename has both. redo() makes the
// entry as it is after the change, undo() as it was before. The text names
// the change for the Edit menu: "add Site A", "remove Site A".
//
// The rows hold as long as every change of the list after loading goes
// through the same stack.
class PositionChange : public QUndoCommand
{
    Q_DECLARE_TR_FUNCTIONS(PositionChange)

public:
    // The change that `plan`, a result of PositionModel::plan() for x, y, z
    // of `device`, stands for; only for a plan that changes something.
    static PositionChange *store(PositionModel &model, const PositionModel::StoreResult &plan, int x, int y, int z,
                                 int device);
    // The removal of the entry at `row`, which exists.
    static PositionChange *remove(PositionModel &model, int row);

    // The row of the entry changed.
    int row() const { return row_; }

    void redo() override;
    void undo() override;

private:
    PositionChange(PositionModel &model, int row, const std::optional<Position> &before,
                   const std::optional<Position> &after, const QString &text);
    // Puts `to` where `from` is: inserts, replaces or removes the entry at row_.
    void put(const std::optional<Position> &from, const std::optional<Position> &to);

    PositionModel &model_;
    int row_;
    std::optional<Position> before_;
    std::optional<Position> after_;
};

#endif // POSITIONCHANGE_H
