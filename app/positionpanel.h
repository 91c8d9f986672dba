#ifndef POSITIONPANEL_H
#define POSITIONPANEL_H

#include <QObject>

class DevicePositionFilter;
class Panel;
class QAction;
class QComboBox;
class QLineEdit;

// The Position store list with its name field, Store, Remove, Undo and Redo:
// a view of the panel's named positions that the device driven may recall
// (see DevicePositionFilter), kept to the device as it changes; the list's
// rows are mapped to the panel's entries. Choosing an entry (a click on it,
// or Enter) recalls it into the targets and the name field, and under Follow
// Target sends it. Browsing (the arrow keys, the wheel, typed letters) only
// shows the entries under Follow Target; without it, it recalls them as it
// goes. Store, Remove, Undo and Redo are the panel's acts.
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
    // The list's current row changed.
    void currentChanged(int row);
    // Removes the entry shown.
    void removeCurrent();
    // Undo (`back`) or Redo; the list shows the entry changed, nothing is
    // recalled.
    void step(bool back);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void bindHistory();
    void choose(int entry);
    // The list shows the panel's entry `entry`, or none, without recalling it.
    void show(int entry);
    // The panel's entry in the list's current row, or -1.
    int currentEntry() const;

    Widgets ui_;
    Panel &panel_;
    DevicePositionFilter *shown_;
    // The list's current entry is changing by browsing, not by a choice.
    bool browsing_ = false;
};

#endif // POSITIONPANEL_H
