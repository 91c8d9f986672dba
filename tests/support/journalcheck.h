#ifndef JOURNALCHECK_H
#define JOURNALCHECK_H

// Holds the journal of moves against the moves that reached the unit: the
// calls the scripted test double of the library recorded, or the gotos the
// simulator received. Nothing may reach the unit without its row, and no row
// may say "sent" without its move. Header only: a test that includes it links
// the core, and the test double where it calls libraryMoves().
#include "fakekesmarctl.h"
#include "journal.h"

#include <QString>
#include <QStringList>

namespace JournalCheck {

// Each store the test double recorded since Fake::reset(), in order, as
// "device N: X Y Z", with " (no goto)" when the goto of the same device and
// memory position 0 did not follow it at once.
inline QStringList libraryMoves()
{
    QStringList moves;
    const QList<Fake::Call> calls = Fake::calls();
    for (int i = 0; i < calls.size(); ++i) {
        if (calls[i].name != QLatin1String("store_mem_position_ext"))
            continue;
        const QVariantList a = calls[i].args;
        const bool moved = i + 1 < calls.size() && calls[i + 1].name == QLatin1String("goto_mem_position_ext")
            && calls[i + 1].args == QVariantList({a[0], a[1], 0}) && a[5] == 0;
        moves << QStringLiteral("device %1: %2 %3 %4%5")
                     .arg(a[1].toInt() - 48)
                     .arg(a[2].toInt())
                     .arg(a[3].toInt())
                     .arg(a[4].toInt())
                     .arg(moved ? QString() : QStringLiteral(" (no goto)"));
    }
    return moves;
}

// Empty when the journal's rows and the moves (as libraryMoves() gives
// them) agree, else what differs: every sent row has its store and goto, in
// the order of the rows; a refused row has none; a failed row may have
// reached the unit (a store that failed has no goto) or not (nothing open);
// and no move is left without a row. The journal must have been made before
// the first of the moves and hold fewer rows than its capacity.
inline QString mismatch(const Journal &journal, const QStringList &moves)
{
    int next = 0;
    for (const JournalRow &row : journal.last(journal.capacity())) {
        const QString move = QStringLiteral("device %1: %2").arg(row.device).arg(JournalRow::xyzText(row.target));
        const QString seen = next < moves.size() ? moves[next] : QStringLiteral("nothing");
        switch (row.outcome) {
        case JournalRow::Outcome::Refused:
            break;
        case JournalRow::Outcome::Sent:
            if (seen != move)
                return QStringLiteral("row %1 (%2 %3) says sent, but the unit saw next: %4")
                    .arg(row.id)
                    .arg(JournalRow::sourceName(row.source), move, seen);
            ++next;
            break;
        case JournalRow::Outcome::Failed:
            if (seen == move || seen == move + QStringLiteral(" (no goto)"))
                ++next;
            break;
        }
    }
    if (next < moves.size())
        return QStringLiteral("the unit saw %1 without a row").arg(moves.mid(next).join(QStringLiteral("; ")));
    return QString();
}

// The same against the library's calls since Fake::reset().
inline QString mismatch(const Journal &journal)
{
    return mismatch(journal, libraryMoves());
}

} // namespace JournalCheck

#endif // JOURNALCHECK_H
