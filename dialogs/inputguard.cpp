#include "inputguard.h"

#include "coordinatebox.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QSpinBox>

InputGuard::InputGuard(QObject *parent)
    : QObject(parent)
{ }

void InputGuard::watch(QWidget *widget)
{
    widget->installEventFilter(this);
    // The wheel gives no focus either: a wheel passing over changes nothing.
    if (widget->focusPolicy() == Qt::WheelFocus)
        widget->setFocusPolicy(Qt::StrongFocus);
}

void InputGuard::watch(QSpinBox *box, const QString &label)
{
    watch(box);
    labels_.insert(box, label);
    // Keys reach the box's line edit first.
    if (auto *edit = box->findChild<QLineEdit *>()) {
        edit->installEventFilter(this);
        labels_.insert(edit, label);
    }
}

bool InputGuard::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (event->type() == QEvent::Wheel && widget && !widget->hasFocus())
        return true;

    QSpinBox *box = qobject_cast<QSpinBox *>(watched);
    if (!box && labels_.contains(watched))
        box = qobject_cast<QSpinBox *>(watched->parent());
    if (!box)
        return false;

    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Not taken as typing: Space stays the Halt key.
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space) {
            event->ignore();
            return true;
        }
        break;
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (!key->text().isEmpty() && key->text().at(0).isDigit() && typedOutOfRange(box, key->text())) {
            showValueInForce(box);
            const auto *coordinate = qobject_cast<CoordinateBox *>(box);
            emit refused(box,
                         coordinate && !coordinate->plainSteps()
                             ? tr("%1 takes a value from %2 to %3")
                                   .arg(labels_.value(box), coordinate->shownText(box->minimum()),
                                        coordinate->shownText(box->maximum()))
                             : tr("%1 takes a whole number from %2 to %3")
                                   .arg(labels_.value(box))
                                   .arg(box->minimum())
                                   .arg(box->maximum()));
            return true;
        }
        break;
    }
    case QEvent::FocusOut:
        if (watched == box && revertOnLeave_ && revertOnLeave_())
            showValueInForce(box);
        break;
    default:
        break;
    }
    return false;
}

// Whether typing `typed` where the cursor stands would leave a number outside
// the box's range that further digits cannot bring back into it.
bool InputGuard::typedOutOfRange(QSpinBox *box, const QString &typed)
{
    const QLineEdit *edit = box->findChild<QLineEdit *>();
    if (!edit)
        return false;
    QString text = edit->text();
    int at = edit->cursorPosition();
    if (edit->hasSelectedText()) {
        at = edit->selectionStart();
        text.remove(at, edit->selectedText().size());
    }
    text.insert(at, typed);
    if (const auto *coordinate = qobject_cast<CoordinateBox *>(box); coordinate && !coordinate->plainSteps())
        return coordinate->beyondRange(text);
    text.remove(box->locale().groupSeparator());
    bool ok = false;
    const qlonglong value = box->locale().toLongLong(text, &ok);
    if (!ok || (value >= box->minimum() && value <= box->maximum()))
        return false;
    // A number below a minimum above zero may still be the start of one in
    // range: "1" on the way to "12000" in a box from 5000. Only a number
    // that no more digits can bring into range is refused.
    if (value >= 0 && value < box->minimum()) {
        for (qlonglong low = value * 10, span = 10; low <= box->maximum(); low *= 10, span *= 10) {
            if (low + span - 1 >= box->minimum())
                return false;
        }
    }
    return true;
}

// Shows the box's value in force, dropping what was typed, without a change
// of value (nothing is sent).
void InputGuard::showValueInForce(QSpinBox *box)
{
    if (QLineEdit *edit = box->findChild<QLineEdit *>()) {
        if (const auto *coordinate = qobject_cast<CoordinateBox *>(box)) {
            edit->setText(coordinate->shownText(box->value()));
            return;
        }
        QString text = box->locale().toString(box->value());
        if (!box->isGroupSeparatorShown())
            text.remove(box->locale().groupSeparator());
        edit->setText(box->prefix() + text + box->suffix());
    }
}
