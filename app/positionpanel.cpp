#include "positionpanel.h"

#include "devicepositionfilter.h"
#include "panel.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>

namespace {

// An Edit menu entry such as "&Undo remove Site A"; an '&' in the name shows
// as itself.
QString historyEntry(const QString &act, const QString &change)
{
    return change.isEmpty() ? act : act + QLatin1Char(' ') + QString(change).replace(u'&', QLatin1String("&&"));
}

} // namespace

PositionPanel::PositionPanel(const Widgets &widgets, Panel &panel, QObject *parent)
    : QObject(parent)
    , ui_(widgets)
    , panel_(panel)
    , shown_(new DevicePositionFilter(panel.positions(), panel.link().device(), this))
{
    {
        // The list shows the first entry, which the panel recalled on loading.
        const QSignalBlocker quiet(ui_.list);
        ui_.list->setModel(shown_);
    }
    bindHistory();
    // A choice of the operator's recalls the entry, also the one the list
    // already shows, and under Follow Target sends it; a change of the
    // list's own recalls it without a send.
    connect(ui_.list, QOverload<int>::of(&QComboBox::activated), this, [this](int row) {
        if (!browsing_ || !panel_.following())
            choose(shown_->entry(row));
    });
    ui_.list->installEventFilter(this);
    // The list itself shows the current entry's full name as its tool tip.
    connect(ui_.list, &QComboBox::currentTextChanged, ui_.list, &QWidget::setToolTip);
    connect(&panel_, &Panel::entryRecalled, this, [this](int row, const QString &name) {
        show(row);
        ui_.name->setText(name);
    });
    connect(&panel_, &Panel::entryChanged, this, &PositionPanel::show);
    connect(&panel_, &Panel::nameStored, ui_.name, &QLineEdit::setText);
    // Another device: its entries, and still the entry shown if it is one of
    // them, else none. Nothing is recalled; the targets stay as they are.
    connect(&panel_.link(), &DeviceLink::deviceChanged, this, [this](int n) {
        const int entry = currentEntry();
        {
            const QSignalBlocker quiet(ui_.list);
            shown_->setDevice(n);
        }
        show(entry);
    });
}

void PositionPanel::show(int entry)
{
    {
        const QSignalBlocker quiet(ui_.list);
        ui_.list->setCurrentIndex(shown_->row(entry));
    }
    ui_.list->setToolTip(ui_.list->currentText());
}

int PositionPanel::currentEntry() const
{
    return shown_->entry(ui_.list->currentIndex());
}

// Undo and Redo with their standard shortcuts, each naming the change it
// would undo or redo ("&Undo remove Site A"), greyed when there is none.
void PositionPanel::bindHistory()
{
    const QUndoStack &stack = panel_.history().stack();
    QAction *undo = ui_.undo;
    QAction *redo = ui_.redo;
    undo->setShortcuts(QKeySequence::Undo);
    redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    undo->setEnabled(stack.canUndo());
    redo->setEnabled(stack.canRedo());
    connect(&stack, &QUndoStack::canUndoChanged, undo, &QAction::setEnabled);
    connect(&stack, &QUndoStack::canRedoChanged, redo, &QAction::setEnabled);
    connect(&stack, &QUndoStack::undoTextChanged, undo,
            [undo](const QString &change) { undo->setText(historyEntry(tr("&Undo"), change)); });
    connect(&stack, &QUndoStack::redoTextChanged, redo,
            [redo](const QString &change) { redo->setText(historyEntry(tr("&Redo"), change)); });
}

void PositionPanel::store()
{
    panel_.store(ui_.name->text(), PositionModel::StoreMatch::NameOrPlace);
}

// A choice under Follow Target sends the entry: right after a failed call,
// only once the event loop has run (see DeviceLink::whenFree).
void PositionPanel::choose(int entry)
{
    panel_.link().whenFree(this, [this, entry] { panel_.choose(entry); });
}

void PositionPanel::currentChanged(int row)
{
    // Under Follow Target the targets change only with a choice: recalled
    // while browsing, they would go out with the next nudge of a box.
    if (!browsing_ || !panel_.following())
        panel_.recall(shown_->entry(row));
}

// Keys and the wheel on the closed list browse it; Enter chooses the entry
// shown. Clicks and keys in its open popup reach the popup, not the list.
bool PositionPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != ui_.list)
        return false;
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<const QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && panel_.following()) {
            choose(currentEntry());
            return true;
        }
        browsing_ = true;
        QTimer::singleShot(0, this, [this] { browsing_ = false; });
    } else if (event->type() == QEvent::Wheel) {
        browsing_ = true;
        QTimer::singleShot(0, this, [this] { browsing_ = false; });
    }
    return false;
}

void PositionPanel::removeCurrent()
{
    const QSignalBlocker quiet(ui_.list);
    panel_.remove(currentEntry());
}

void PositionPanel::step(bool back)
{
    const QSignalBlocker quiet(ui_.list);
    if (back)
        panel_.undo();
    else
        panel_.redo();
}
