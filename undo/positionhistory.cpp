#include "positionhistory.h"

#include "positionchange.h"

#include <QAction>

namespace {

// An Edit menu entry such as "&Undo remove Site A"; an '&' in the name shows
// as itself.
QString historyEntry(const QString &act, const QString &change)
{
    return change.isEmpty() ? act : act + QLatin1Char(' ') + QString(change).replace(u'&', QLatin1String("&&"));
}

} // namespace

PositionHistory::PositionHistory(PositionModel &model, QObject *parent)
    : QObject(parent)
    , model_(model)
{ }

void PositionHistory::bindActions(QAction *undo, QAction *redo)
{
    undo->setShortcuts(QKeySequence::Undo);
    redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    undo->setEnabled(stack_.canUndo());
    redo->setEnabled(stack_.canRedo());
    connect(&stack_, &QUndoStack::canUndoChanged, undo, &QAction::setEnabled);
    connect(&stack_, &QUndoStack::canRedoChanged, redo, &QAction::setEnabled);
    // The stack clears itself, telling the actions, when it goes; the
    // actions may have gone before it.
    connect(&stack_, &QUndoStack::undoTextChanged, undo,
            [undo](const QString &change) { undo->setText(historyEntry(tr("&Undo"), change)); });
    connect(&stack_, &QUndoStack::redoTextChanged, redo,
            [redo](const QString &change) { redo->setText(historyEntry(tr("&Redo"), change)); });
}

void PositionHistory::store(const PositionModel::StoreResult &plan, int x, int y, int z)
{
    stack_.push(PositionChange::store(model_, plan, x, y, z));
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
