#ifndef POSITIONHISTORY_H
#define POSITIONHISTORY_H

#include "positionmodel.h"

#include <QObject>
#include <QString>
#include <QUndoStack>

#include <optional>

// Every change of the named positions after loading, for Undo and Redo. It
// changes the list only: what the targets show and where the manipulator
// stands are the caller's.
class PositionHistory : public QObject
{
    Q_OBJECT

public:
    explicit PositionHistory(PositionModel &model, QObject *parent = nullptr);

    // The changes, for the views of Undo and Redo: whether there is one to
    // undo or redo, and its name ("remove Site A").
    const QUndoStack &stack() const { return stack_; }

    // Makes a plan of PositionModel::plan() for x, y, z of `device` that
    // changes something.
    void store(const PositionModel::StoreResult &plan, int x, int y, int z, int device);
    // Removes the entry at `row`, which exists.
    void remove(int row);

    // One change undone (`back`) or redone: the row of the entry it changed
    // and its name for the operator.
    struct Step
    {
        int row;
        QString change;
    };
    // Nothing when there is no change to undo or redo.
    std::optional<Step> step(bool back);

private:
    PositionModel &model_;
    QUndoStack stack_;
};

#endif // POSITIONHISTORY_H
