#ifndef MOVEGATE_H
#define MOVEGATE_H

#include "actresult.h"
#include "devicelink.h"
#include "journal.h"
#include "travellimits.h"

#include <QElapsedTimer>
#include <QObject>

#include <optional>

// The one gate every move passes: it checks a target against the travel and
// the operator's envelope, sends it to the device the link drives, jogs and
// halts. Nothing else calls the library's motion functions. It keeps the
// target in force and tells when the unit came to rest somewhere else.
class MoveGate : public QObject
{
    Q_OBJECT

public:
    using Xyz = DeviceLink::Xyz;

    // Every target the gate sends, refuses or fails to send is a row of
    // `journal`, with the source set last; sent rows settle with how the
    // move ended.
    MoveGate(DeviceLink &link, Journal &journal, QObject *parent = nullptr);

    // On whose behalf the next moves go, and the stage of a plan's.
    void setSource(JournalRow::Source source, const QString &stage = QString());
    JournalRow::Source source() const { return source_; }

    // The operator's envelope and ordered moves, checked by every move.
    const TravelLimits &limits() const { return limits_; }
    // Takes the limits unless they have a problem, which the result names.
    ActResult setLimits(const TravelLimits &limits);

    // Refuses a target with an axis outside 0..20500, naming it.
    static ActResult checkTarget(const Xyz &target);
    // Refuses a straight move to `target` before anything is sent: an axis
    // outside 0..20500, or outside the envelope while it is on, naming the
    // axis, the value and the bound. An axis already outside may move closer.
    ActResult checkMove(const Xyz &target) const;
    // As checkMove() within the travel, for a move that starts at `from`: an
    // axis outside the envelope there may stay or come closer on the same
    // side, never cross it.
    ActResult checkEnvelope(const Xyz &target, const std::optional<Xyz> &from) const;

    // Sends the device straight to `target` (stored in its memory position
    // 0, then gone to), once checkMove() lets it.
    ActResult moveTo(const Xyz &target);
    // Jogs by dx, dy, dz from where the device stands, each axis kept within
    // 0..20500 and the envelope. While a jog is under way and nothing else
    // moved the unit (every reading since lies between the jog's start and
    // its target), the next one starts from its target, so quick presses add
    // up; otherwise from a fresh reading. A `repeated` jog (a held key) is
    // refused until the one under way has arrived, so the unit stops with the
    // hand.
    ActResult jog(int dx, int dy, int dz, bool repeated = false);
    // Whether a jog is on its way to its target.
    bool jogUnderWay() const { return jogBurst_.has_value(); }
    // Sends the device to the position it reports now, so it stops there.
    // Never refused; `halted` is signalled whatever came of it.
    ActResult halt();
    // Where the unit was last sent, or where it stood when first read on
    // this connection and device; empty before either.
    std::optional<Xyz> targetInForce() const { return inForce_; }
    // Whether the last reading shows the unit moving off the way to the
    // target in force: someone else moves it (its front panel, another
    // program). Empty when not.
    std::optional<Xyz> movingElsewhere() const { return movingElsewhere_; }
    // Takes the position now as the target in force, as if the unit had
    // been sent there: Follow Target's start.
    void takeAsInForce(const Xyz &at);
    // The last target sent to the device (its memory position 0).
    ActResult lastTarget(Xyz *target);

signals:
    // A move went out to the device.
    void targetSent(int x, int y, int z);
    // Someone asked for a halt.
    void halted();
    // The unit came to rest at x, y, z, away from the target in force: moved
    // from its front panel, by another program, or stopped short. That
    // position is the one in force from now on.
    void restedElsewhere(int x, int y, int z);

private:
    bool send(const Xyz &target);
    // Records a row for `target` with what came of it; a sent one is the
    // one to settle.
    void journal(const Xyz &target, const ActResult &result);
    void settle(JournalRow::End end, const Xyz &at);
    ActResult moveFailed() const;
    void takeReading(int x, int y, int z);
    void forget();

    DeviceLink &link_;
    Journal &journal_;
    JournalRow::Source source_ = JournalRow::Source::Goto;
    QString stage_;
    quint64 openRow_ = 0; // the sent row whose end is still to come
    TravelLimits limits_;
    std::optional<Xyz> inForce_;
    // Where the unit stood when the target in force was sent.
    std::optional<Xyz> wayFrom_;
    std::optional<Xyz> movingElsewhere_;
    // When the last move was sent: a reading that has not changed is taken
    // as the unit at rest only once the move has had time to start.
    QElapsedTimer sinceSend_;
    std::optional<Xyz> previousReading_;

    // The last jog while no other move has followed it, and whom it was sent to.
    struct JogBurst
    {
        const kesmarctl_connection *handle;
        uint8_t id;
        Xyz start;
        Xyz target;
    };
    std::optional<JogBurst> jogBurst_;
};

#endif // MOVEGATE_H
