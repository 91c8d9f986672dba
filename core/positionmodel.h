#ifndef POSITIONMODEL_H
#define POSITIONMODEL_H

#include "position.h"

#include <QAbstractListModel>
#include <QList>

// The named positions, in the order the operator stored them. Each row shows
// its name, also as its tool tip: a long name is cut in a narrow list.
class PositionModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // What Store did with a name and coordinates.
    enum class StoreOutcome
    {
        Added, // a new entry
        Updated, // the entry of that name got the coordinates
        Renamed, // the entry at those coordinates got the name
        Exists, // an entry has that name and those coordinates already
        ExistsAs // no name given; the coordinates are stored under `name`
    };
    Q_ENUM(StoreOutcome)

    struct StoreResult
    {
        StoreOutcome outcome;
        int row; // the entry concerned
        QString name; // its name
        bool changed() const { return outcome != StoreOutcome::Exists && outcome != StoreOutcome::ExistsAs; }
    };

    explicit PositionModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    const QList<Position> &positions() const { return positions_; }
    void setPositions(const QList<Position> &positions);
    const Position &at(int row) const { return positions_.at(row); }

    // Keeps x, y, z under `name`. An entry of that name decides first: same
    // place, nothing to do; else its coordinates are updated. Else the first
    // entry at those coordinates is renamed in place (or, with no name, named
    // in the result). Anything else is added, under defaultName() when no
    // name is given.
    StoreResult store(const QString &name, int x, int y, int z);
    void remove(int row);
    // The row of the first entry called `name`, or -1.
    int find(const QString &name) const;
    // "Pos n" with the smallest n that no entry has as its name.
    QString defaultName() const;

private:
    QList<Position> positions_;
};

#endif // POSITIONMODEL_H
