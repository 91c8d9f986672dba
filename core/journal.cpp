#include "journal.h"

#include <QDateTime>

Journal::Journal(int capacity, QObject *parent)
    : QObject(parent)
    , capacity_(std::max(capacity, 1))
{
    qRegisterMetaType<JournalRow>();
    // All at once: the memory stays flat from the start, and the row a
    // signal carries by reference never moves.
    rows_.reserve(size_t(capacity_));
}

quint64 Journal::record(JournalRow row)
{
    row.id = ++newest_;
    if (!row.timeMs)
        row.timeMs = QDateTime::currentMSecsSinceEpoch();
    const size_t at = (row.id - 1) % capacity_;
    if (rows_.size() < size_t(capacity_))
        rows_.push_back(std::move(row));
    else
        rows_[at] = std::move(row);
    emit rowAdded(rows_[at]);
    return newest_;
}

bool Journal::settle(quint64 id, JournalRow::End end, const JournalRow::Xyz &at)
{
    JournalRow *r = slot(id);
    if (!r || r->outcome != JournalRow::Outcome::Sent || r->end != JournalRow::End::Open
        || end == JournalRow::End::Open)
        return false;
    r->end = end;
    r->at = at;
    r->endMs = QDateTime::currentMSecsSinceEpoch();
    emit rowChanged(*r);
    return true;
}

const JournalRow *Journal::row(quint64 id) const
{
    return const_cast<Journal *>(this)->slot(id);
}

JournalRow *Journal::slot(quint64 id)
{
    if (id == 0 || id > newest_ || newest_ - id >= quint64(capacity_))
        return nullptr;
    return &rows_[(id - 1) % capacity_];
}

QList<JournalRow> Journal::last(int n) const
{
    QList<JournalRow> rows;
    n = std::clamp(n, 0, size());
    rows.reserve(n);
    for (quint64 id = newest_ - quint64(n) + 1; id <= newest_; ++id)
        rows.append(*row(id));
    return rows;
}
