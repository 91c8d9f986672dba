#ifndef POSITIONPANEL_H
#define POSITIONPANEL_H

#include <QObject>

class Panel;
class QAction;
class QComboBox;
class QLineEdit;

// The Position store list with its name field, Store, Remove, Undo and Redo:
// a view of the panel's named positions. Choosing an entry recalls it into
// the targets and the name field (under Follow Target, a click or Enter also
// sends it); Store, Remove, Undo and Redo are the panel's acts. Nothing here
// moves the manipulator of its own.
class PositionPanel : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QComboBox *list;
        QLineEdit *name;
        QAction *undo;
        QAction *redo;
    };
    PositionPanel(const Widgets &widgets, Panel &panel, QObject *parent);

    // Store: the targets under the name in the name field, or a generated one.
    void store();
    // The list's current entry changed.
    void currentChanged(int row);
    // Removes the entry shown.
    void removeCurrent();
    // Undo (`back`) or Redo; the list shows the entry changed, nothing is
    // recalled.
    void step(bool back);

private:
    void bindHistory();

    Widgets ui_;
    Panel &panel_;
};

#endif // POSITIONPANEL_H
