#ifndef POSITIONMODEL_H
#define POSITIONMODEL_H

#include "actresult.h"
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
        ExistsAs, // no name given; the coordinates are stored under `name`
        Elsewhere // the entry of that name is another device's; nothing stored
    };
    Q_ENUM(StoreOutcome)

    // Which entry a store may change besides the one of its name.
    enum class StoreMatch
    {
        NameOrPlace, // the window's Store: an entry at the same place may be renamed
        NameOnly // a script's store: only the entry of that name, else a new one
    };

    struct StoreResult
    {
        StoreOutcome outcome;
        int row; // the entry concerned
        QString name; // its name
        bool changed() const
        {
            return outcome == StoreOutcome::Added || outcome == StoreOutcome::Updated
                || outcome == StoreOutcome::Renamed;
        }
    };

    explicit PositionModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    const QList<Position> &positions() const { return positions_; }
    void setPositions(const QList<Position> &positions);
    const Position &at(int row) const { return positions_.at(row); }

    // What keeping x, y, z of `device` under `name` does, without doing it.
    // An entry of that name decides first: another device's, nothing is
    // stored (names are unique across all devices); same place, nothing to
    // do; else its coordinates are updated and it becomes the device's.
    // Else, matching NameOrPlace, the first entry for the device (see
    // Position::isFor()) at those coordinates is renamed in place (or, with
    // no name, named in the result). Anything else is added at the end, under
    // defaultName() when no name is given. The caller checks the name first
    // (checkName()).
    StoreResult plan(const QString &name, int x, int y, int z, int device, StoreMatch match) const;
    // The operator's message for what a store did: "Position Site A added".
    QString describe(const StoreResult &result) const;
    // The changes themselves, as a plan or its undoing makes them.
    void insert(int row, const Position &position);
    void replace(int row, const Position &position);
    void remove(int row);
    // The row of the first entry called `name`, white space at the ends of
    // either left out, or -1.
    int find(const QString &name) const;
    // The entry for `device` at `row` or the first after it, else the last
    // before it; -1 when the device has none.
    int nearestFor(int row, int device) const;
    // Done when `name` can be stored, else OutOfRange saying why: see
    // Position::maxNameLength and Position::isNameCharacter().
    static ActResult checkName(const QString &name);
    // "Pos n" with the smallest n that no entry has as its name.
    QString defaultName() const;

private:
    QList<Position> positions_;
};

#endif // POSITIONMODEL_H
