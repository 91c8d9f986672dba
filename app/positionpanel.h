#ifndef POSITIONPANEL_H
#define POSITIONPANEL_H

#include "actresult.h"
#include "position.h"
#include "positionmodel.h"

#include <QObject>

#include <functional>

class PositionHistory;
class QAction;
class QComboBox;
class QLineEdit;
class StatusMessages;
class TargetControls;

// The Position store list with its name field, Store, Remove, Undo and Redo:
// a view of the named positions. Choosing an entry recalls it into the
// targets and the name field; Store, Remove, Undo and Redo change the list
// through its history and save it. Nothing here moves the manipulator.
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
    // `save` writes the store and says what came of it.
    PositionPanel(const Widgets &widgets, PositionModel &model, TargetControls &targets, StatusMessages &messages,
                  std::function<ActResult()> save, QObject *parent);

    // Stores the targets under `name`, which Store may leave empty for a
    // generated one (see PositionModel::plan()). A name that cannot be
    // stored is refused whole, never cut.
    ActResult store(const QString &name, PositionModel::StoreMatch match);
    // Puts entry `row`, if there is one, into the targets and the name field.
    void recall(int row);
    // Chooses entry `row` and recalls it, also when it is chosen already and
    // the targets were edited since.
    void choose(int row);
    // Removes the entry shown. The one in its place is chosen; its values go
    // into the targets only without Follow Target, where that sends nothing.
    void removeCurrent();
    // Undo (`back`) and Redo change the list as Store and Remove do, and save
    // it. They leave the targets and the name field alone, so nothing is
    // sent; the list shows the entry changed, or the one in its place.
    void step(bool back);

signals:
    // The operator chose entry `row` under Follow Target: the manipulator is
    // to be sent there, once.
    void sendRequested(int row);

private:
    // Puts entry `row`, if there is one, into the targets and the name field.
    bool fill(int row);

    Widgets ui_;
    PositionModel &model_;
    TargetControls &targets_;
    StatusMessages &messages_;
    std::function<ActResult()> save_;
    PositionHistory *history_;
};

#endif // POSITIONPANEL_H
