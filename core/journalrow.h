#ifndef JOURNALROW_H
#define JOURNALROW_H

#include <QMetaType>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// One target the program sent to the unit, or tried to: when, to which
// device, on whose behalf, from where to where, and what came of it. A row
// is made when the send is decided (sent, refused or failed); a sent row may
// later be settled with how the move ended and where the unit stood.
struct JournalRow
{
    using Xyz = std::array<int, 3>;

    // Who asked for the move.
    enum class Source
    {
        Goto, // the Goto button
        FollowTarget, // Follow Target, the targets moving the unit as they change
        ListEntry, // a named position of the list
        Copy, // a position copied into the targets and sent
        Restore, // a target restored by Undo or Redo
        Pad, // the pad's buttons
        Key, // a held or pressed key
        Script, // a script over the bus
        Retract,
        Return,
        Advance, // along the pipette, forward
        Withdraw, // along the pipette, back
        Halt
    };
    static constexpr int sourceCount = int(Source::Halt) + 1;

    // What came of the send itself.
    enum class Outcome
    {
        Sent, // the library took the target
        Refused, // the program did not send it; `message` says why
        Failed // the library failed; `message` is its text
    };

    // How a sent move ended, once it has.
    enum class End
    {
        Open, // not settled (yet)
        Arrived, // the unit reached the target
        StoppedShort, // the unit came to rest at `at`, away from the target
        Halted // a halt stopped the unit at `at`
    };

    // The number of the row in this run of the program, from 1; 0 before it
    // is recorded.
    quint64 id = 0;
    // Milliseconds since the epoch (UTC) when the row was recorded.
    qint64 timeMs = 0;
    int device = 0;
    Source source = Source::Goto;
    // The stage of an ordered move ("retract", "lateral", "approach"), or empty.
    QString stage;
    // The last reading before the send, if there was one.
    std::optional<Xyz> before;
    Xyz target{};
    Outcome outcome = Outcome::Sent;
    // Why it was refused, or the library's text for a failure; empty when sent.
    QString message;
    End end = End::Open;
    // Where the unit stood when the move ended; empty while it is open.
    std::optional<Xyz> at;
    // When the move ended, ms since the epoch; 0 while it is open.
    qint64 endMs = 0;

    // Target minus position before, per axis; empty without a position before.
    std::optional<Xyz> distance() const;

    // The words for the enums as the window, the file and scripts show them:
    // "Goto", "Follow Target", "list entry", ...; "sent", "refused", "failed";
    // "", "arrived", "stopped short", "halted".
    static QString sourceName(Source source);
    static QString outcomeName(Outcome outcome);
    static QString endName(End end);
    // The enum a word stands for; empty for a word that is none of them.
    static std::optional<Source> sourceFromName(const QString &name);
    static std::optional<Outcome> outcomeFromName(const QString &name);
    static std::optional<End> endFromName(const QString &name);

    // "x y z", or empty for no position.
    static QString xyzText(const std::optional<Xyz> &xyz);

    // The row as a line of comma-separated values, without the line end, in
    // the columns of csvHeader(); fields are quoted where they must be.
    QString csvLine() const;
    static QString csvHeader();
    // Time as ISO 8601 in UTC with milliseconds, e.g. 2026-12-08T11:52:01.123Z.
    static QString isoTime(qint64 ms);
};

Q_DECLARE_METATYPE(JournalRow)

#endif // JOURNALROW_H
