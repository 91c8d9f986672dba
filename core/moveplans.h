#ifndef MOVEPLANS_H
#define MOVEPLANS_H

#include "actresult.h"
#include "devicelink.h"
#include "journalrow.h"
#include "movesequence.h"

#include <QMap>
#include <QObject>

class MoveGate;

// Moves in stages, each sent through the gate once the one before has
// arrived: an ordered Goto (out along the retract axis, sideways, back in),
// Retract and Return. It remembers, per device, the position Retract took
// the unit from, for Return.
class MovePlans : public QObject
{
    Q_OBJECT

public:
    using Xyz = DeviceLink::Xyz;

    MovePlans(DeviceLink &link, MoveGate &gate, QObject *parent = nullptr);

    // Goto: in order (out, sideways, in) while ordered moves are on, else
    // straight through the gate.
    ActResult go(const Xyz &target);
    // Remembers the live position for the device driven and takes the unit
    // out along the retract axis to the safe coordinate. A unit out there
    // already, or on its way, keeps the position remembered for its device.
    ActResult retract();
    // Takes the unit back to its device's remembered position in order,
    // stopping the approach distance short on the retract axis.
    ActResult returnFromRetract();
    // The positions Retract remembered, by device.
    const QMap<int, Xyz> &retracted() const { return retracted_; }
    void setRetracted(const QMap<int, Xyz> &retracted) { retracted_ = retracted; }

    // The stage of the plan under way ("retract", "lateral", "approach"),
    // empty when none.
    QString stage() const { return sequence_.stage(); }
    bool isRunning() const { return sequence_.isRunning(); }
    // Ends the plan under way, if any, nothing more sent.
    void abort(const QString &why) { sequence_.abort(why); }
    // As abort(), the message naming the stage and where the unit was
    // ("Goto stopped in the lateral stage at 1 2 3: the limits changed").
    void stopWhereItIs(const QString &why);
    // The times a plan's stages are judged by; tests shorten them.
    void setTiming(const MoveSequence::Timing &timing) { sequence_.setTiming(timing); }

signals:
    // A plan moved on to `stage`, or ended (empty).
    void stageChanged(const QString &stage);
    // A plan ended: arrived, or why not.
    void finished(const ActResult &result);
    // Retract remembered a position.
    void retractedChanged();

private:
    ActResult start(const QString &plan, const Xyz &target, const Xyz &from, int approachTarget);

    DeviceLink &link_;
    MoveGate &gate_;
    MoveSequence sequence_;
    // On whose behalf the plan under way moves the unit.
    JournalRow::Source source_ = JournalRow::Source::Goto;
    QMap<int, Xyz> retracted_;
};

#endif // MOVEPLANS_H
