#ifndef JOURNAL_H
#define JOURNAL_H

#include "journalrow.h"

#include <QList>
#include <QObject>

#include <algorithm>
#include <vector>

// The journal of moves: every target the program sent, or refused or failed
// to send, as a row, the last `capacity()` of them kept in memory. Recording
// is constant-time and touches no disk; the file and the views follow the
// signals.
class Journal : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultCapacity = 10000;

    explicit Journal(int capacity = defaultCapacity, QObject *parent = nullptr);

    int capacity() const { return capacity_; }

    // Keeps `row` with the next id and, when its time is 0, the time now;
    // returns the id. The oldest row goes when `capacity()` are kept.
    quint64 record(JournalRow row);
    // Settles the sent row `id` with how the move ended and where the unit
    // stood. False, changing nothing, for a row no longer kept, one not sent
    // or one settled before.
    bool settle(quint64 id, JournalRow::End end, const JournalRow::Xyz &at);

    // The number of rows kept, and the id of the newest (0 before the first).
    int size() const { return int(std::min<quint64>(newest_, quint64(capacity_))); }
    quint64 newestId() const { return newest_; }
    // The row `id`, or nullptr when it is not kept.
    const JournalRow *row(quint64 id) const;
    // The last `n` rows (all when fewer are kept), oldest first.
    QList<JournalRow> last(int n) const;

signals:
    void rowAdded(const JournalRow &row);
    // A row was settled; `row` is it as it is now.
    void rowChanged(const JournalRow &row);

private:
    JournalRow *slot(quint64 id);

    int capacity_;
    // A ring: row `id` lives at (id - 1) % capacity_.
    std::vector<JournalRow> rows_;
    quint64 newest_ = 0;
};

#endif // JOURNAL_H
