#ifndef JOURNALMODEL_H
#define JOURNALMODEL_H

#include "journalrow.h"

#include <QAbstractTableModel>
#include <QTimer>

class Coordinates;
class Journal;

// The journal's rows as a table, newest at the top, following the journal
// as rows come, go (past its capacity) and settle. It keeps no copy of
// the rows. New rows are shown together, at most every `showInterval` ms:
// views and filters take time that grows with the rows they hold, which a
// move's row must not wait for.
class JournalModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        Time,
        Device,
        Source,
        Before,
        Target,
        Distance,
        Outcome,
        End,
        ColumnCount
    };

    // What views filter and mark by, in every column of a row.
    enum Role
    {
        SourceRole = Qt::UserRole, // the JournalRow::Source, as int
        DeviceRole, // the device number
        OutcomeRole, // the JournalRow::Outcome, as int
        IdRole // the row's id, as qulonglong
    };

    static constexpr int showInterval = 100;

    explicit JournalModel(const Journal &journal, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The text of a row's cell in `column`, as the view shows it.
    // With `coordinates` in micrometres, positions and distances are shown
    // in micrometres by the scale of the row's device (never from a zero:
    // a journal row does not change with a zero set later).
    static QString cellText(const JournalRow &row, int column, const Coordinates *coordinates = nullptr);
    // The units the positions are shown in; none: steps.
    void setCoordinates(const Coordinates *coordinates);

private:
    void showNewRows();
    void change(const JournalRow &row);
    const JournalRow *rowAt(int row) const;

    const Journal &journal_;
    // Model row r shows the row with id newest_ - r; the rows recorded since
    // wait for showNewRows().
    quint64 newest_ = 0;
    int count_ = 0;
    QTimer showTimer_;
    const Coordinates *coordinates_ = nullptr;
};

#endif // JOURNALMODEL_H
