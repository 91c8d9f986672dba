#include "journalfilter.h"

#include "journalmodel.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QStyle>

void JournalFilter::setSource(std::optional<JournalRow::Source> source)
{
    source_ = source;
    invalidateFilter();
}

void JournalFilter::setDevice(std::optional<int> device)
{
    device_ = device;
    invalidateFilter();
}

bool JournalFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    return (!source_ || index.data(JournalModel::SourceRole).toInt() == int(*source_))
        && (!device_ || index.data(JournalModel::DeviceRole).toInt() == *device_);
}

QVariant JournalFilter::data(const QModelIndex &index, int role) const
{
    if (role != Qt::ForegroundRole && role != Qt::DecorationRole)
        return QSortFilterProxyModel::data(index, role);
    const auto outcome = JournalRow::Outcome(index.data(JournalModel::OutcomeRole).toInt());
    if (outcome == JournalRow::Outcome::Sent)
        return QSortFilterProxyModel::data(index, role);
    if (role == Qt::ForegroundRole)
        return QBrush(outcome == JournalRow::Outcome::Failed ? QColor(Qt::red) : QColor(0xb0, 0x60, 0x00));
    if (index.column() != JournalModel::Outcome)
        return QVariant();
    return QApplication::style()->standardIcon(outcome == JournalRow::Outcome::Failed ? QStyle::SP_MessageBoxCritical
                                                                                      : QStyle::SP_MessageBoxWarning);
}
