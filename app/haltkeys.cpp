#include "haltkeys.h"

#include <QCoreApplication>
#include <QKeyEvent>

HaltKeys::HaltKeys(QObject *parent)
    : QObject(parent)
{
    QCoreApplication::instance()->installEventFilter(this);
}

bool HaltKeys::eventFilter(QObject *watched, QEvent *event)
{
    // A key press reaches the window first, then the widget with the focus
    // and its parents: the window's is the one taken.
    if (event->type() == QEvent::KeyPress && watched->isWindowType()) {
        const auto *key = static_cast<const QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && !key->isAutoRepeat())
            emit haltRequested();
    }
    return false;
}
