#ifndef DEVICEPOSITIONFILTER_H
#define DEVICEPOSITIONFILTER_H

#include <QSortFilterProxyModel>

class PositionModel;

// The named positions a device may recall, as the list shows them: the
// device's own and those stored before positions had a device (see
// Position::isFor()), in the order stored. The latter are in italics and
// their tool tip says so; every entry's text is its name.
class DevicePositionFilter : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    DevicePositionFilter(PositionModel &positions, int device, QObject *parent);

    void setDevice(int n);
    // The entry of the list's `row` in the model of all of them, or -1; the
    // list's row of an entry, -1 when it is not shown.
    int entry(int row) const;
    int row(int entry) const;

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    PositionModel &positions_;
    int device_;
};

#endif // DEVICEPOSITIONFILTER_H
