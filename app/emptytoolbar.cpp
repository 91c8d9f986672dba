#include "emptytoolbar.h"

#include <QAccessibleWidget>
#include <QEvent>
#include <QMainWindow>
#include <QToolBar>

namespace {

// A main window's accessible children without its hidden, empty tool bars;
// otherwise what Qt gives any widget.
class AccessibleMainWindow : public QAccessibleWidget
{
public:
    explicit AccessibleMainWindow(QMainWindow *window)
        : QAccessibleWidget(window, QAccessible::Window)
    { }

    int childCount() const override { return int(children().size()); }

    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> shown = children();
        return index >= 0 && index < shown.size() ? QAccessible::queryAccessibleInterface(shown.at(index)) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(children().indexOf(qobject_cast<QWidget *>(child->object()))) : -1;
    }

private:
    // As Qt lists a widget's children: the widgets that are not windows or menus.
    QList<QWidget *> children() const
    {
        QList<QWidget *> list;
        for (QObject *object : widget()->children()) {
            auto *w = qobject_cast<QWidget *>(object);
            if (!w || w->isWindow() || w->inherits("QMenu") || w->inherits("QFocusFrame")
                || w->objectName() == QLatin1String("qt_rubberband"))
                continue;
            auto *bar = qobject_cast<QToolBar *>(w);
            if (bar && bar->isHidden() && bar->actions().isEmpty())
                continue;
            list << w;
        }
        return list;
    }
};

QAccessibleInterface *mainWindowFactory(const QString &className, QObject *object)
{
    auto *window = qobject_cast<QMainWindow *>(object);
    if (window && className == QLatin1String(object->metaObject()->className()) && window->findChild<EmptyToolBar *>())
        return new AccessibleMainWindow(window);
    return nullptr;
}

} // namespace

EmptyToolBar::EmptyToolBar(QToolBar *bar)
    : QObject(bar)
    , bar_(bar)
{ }

void EmptyToolBar::keepOutOfTheWay(QToolBar *bar)
{
    static const bool installed = [] {
        QAccessible::installFactory(mainWindowFactory);
        return true;
    }();
    Q_UNUSED(installed)
    auto *watcher = new EmptyToolBar(bar);
    bar->installEventFilter(watcher);
    watcher->update();
}

bool EmptyToolBar::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved)
        update();
    return QObject::eventFilter(watched, event);
}

void EmptyToolBar::update()
{
    const bool empty = bar_->actions().isEmpty();
    bar_->setHidden(empty);
    // Nor may the window's context menu offer to show it.
    bar_->toggleViewAction()->setVisible(!empty);
}
