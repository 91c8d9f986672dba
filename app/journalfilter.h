#ifndef JOURNALFILTER_H
#define JOURNALFILTER_H

#include "journalrow.h"

#include <QSortFilterProxyModel>

#include <optional>

// The journal's table as the window shows it: only the rows of one source
// and one device when asked, and the refused and failed rows marked with a
// colour and an icon on top of their text.
class JournalFilter : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    // Every source or device when empty.
    void setSource(std::optional<JournalRow::Source> source);
    void setDevice(std::optional<int> device);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    std::optional<JournalRow::Source> source_;
    std::optional<int> device_;
};

#endif // JOURNALFILTER_H
