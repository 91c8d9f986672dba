#ifndef EMPTYTOOLBAR_H
#define EMPTYTOOLBAR_H

#include <QObject>

class QToolBar;

// Keeps a main window's tool bar out of the way while it holds no actions:
// hidden, so it takes no row, and left out of the window's children in the
// accessible tree, so a screen reader does not find an empty bar. It comes
// back with its first action.
class EmptyToolBar : public QObject
{
    Q_OBJECT

public:
    // Watches `bar` for as long as it lives.
    static void keepOutOfTheWay(QToolBar *bar);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit EmptyToolBar(QToolBar *bar);
    void update();

    QToolBar *bar_;
};

#endif // EMPTYTOOLBAR_H
