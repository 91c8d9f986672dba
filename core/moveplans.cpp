#include "moveplans.h"

#include "movegate.h"

MovePlans::MovePlans(DeviceLink &link, MoveGate &gate, QObject *parent)
    : QObject(parent)
    , link_(link)
    , gate_(gate)
    , sequence_([this](const Xyz &target) {
        gate_.setSource(source_, sequence_.stage());
        return gate_.moveTo(target);
    })
{
    // Queued: a stage's send comes after the event loop has run, never in the
    // same stretch as the poll that read the arrival, so that a slow read and
    // a send that times out never hold the program up back to back.
    connect(&link_, &DeviceLink::positionRead, &sequence_, &MoveSequence::takeReading, Qt::QueuedConnection);
    connect(&sequence_, &MoveSequence::stageChanged, this, &MovePlans::stageChanged);
    connect(&sequence_, &MoveSequence::finished, this, &MovePlans::finished);
    // A plan cannot see its stages arrive without readings.
    connect(&link_, &DeviceLink::stateChanged, this, [this](DeviceLink::State state) {
        if (state == DeviceLink::State::NotConnected || state == DeviceLink::State::Stopped)
            sequence_.abort(tr("Stopped: the readings are %1").arg(tr(DeviceLink::stateWord(state))));
    });
    // A plan's stages were meant for the device it started on.
    connect(&link_, &DeviceLink::forgetting, this,
            [this] { sequence_.abort(tr("Stopped: the connection or the device changed")); });
}

void MovePlans::stopWhereItIs(const QString &why)
{
    if (const std::optional<Xyz> at = link_.liveReading())
        sequence_.abortAt(*at, why);
    else
        sequence_.abort(tr("Stopped: %1").arg(why));
}

ActResult MovePlans::go(const Xyz &target)
{
    if (!gate_.limits().ordered)
        return gate_.moveTo(target);
    const std::optional<Xyz> from = link_.liveReading();
    if (!from)
        return {ActResult::Kind::NoReading, tr("An ordered move needs a live reading of the position")};
    source_ = gate_.source();
    return start(tr("Goto"), target, *from, target[gate_.limits().axis]);
}

// The stages of an ordered move from `from` to `target`, the retract axis
// ending at `approachTarget`: out to the safe coordinate unless further out
// already, sideways, in. Every stage is checked before the first is sent, so
// a plan is refused whole rather than stopped half-way.
ActResult MovePlans::start(const QString &plan, const Xyz &target, const Xyz &from, int approachTarget)
{
    const TravelLimits &limits = gate_.limits();
    const int axis = limits.axis;
    const Xyz out = limits.retracted(from);
    Xyz lateral = target;
    lateral[axis] = out[axis];
    Xyz in = target;
    in[axis] = approachTarget;
    const QList<MoveSequence::Stage> stages{
        {QStringLiteral("retract"), out}, {QStringLiteral("lateral"), lateral}, {QStringLiteral("approach"), in}};
    ActResult checked = MoveGate::checkTarget(target);
    std::optional<Xyz> at = from;
    for (const MoveSequence::Stage &stage : stages) {
        if (checked.ok())
            checked = gate_.checkEnvelope(stage.target, at);
        at = stage.target;
    }
    if (!checked.ok())
        return checked;
    return sequence_.start(plan, stages, from);
}

ActResult MovePlans::retract()
{
    const std::optional<Xyz> from = link_.liveReading();
    if (!from)
        return {ActResult::Kind::NoReading, tr("Retract needs a live reading of the position")};
    const Xyz out = gate_.limits().retracted(*from);
    const ActResult checked = gate_.checkEnvelope(out, from);
    if (!checked.ok())
        return checked;
    // The position to return to is one in place, not one on the way out or
    // already out: a second Retract keeps the one remembered first.
    const int device = link_.device();
    const bool outAlready = out == *from || sequence_.isRunning();
    if (!outAlready || !retracted_.contains(device)) {
        retracted_.insert(device, *from);
        emit retractedChanged();
    }
    source_ = JournalRow::Source::Retract;
    return sequence_.start(tr("Retract"), {{QStringLiteral("retract"), out}}, *from);
}

ActResult MovePlans::returnFromRetract()
{
    const auto remembered = retracted_.constFind(link_.device());
    if (remembered == retracted_.cend())
        return {ActResult::Kind::Refused, tr("Nothing to return to: Retract first")};
    const std::optional<Xyz> from = link_.liveReading();
    if (!from)
        return {ActResult::Kind::NoReading, tr("Return needs a live reading of the position")};
    const Xyz &back = *remembered;
    const TravelLimits &limits = gate_.limits();
    const int axis = limits.axis;
    // Short of the position, but never further out than the way over it.
    int stop = limits.shortOf(back[axis]);
    const int over = limits.retracted(*from)[axis];
    if (limits.furtherOut(stop, over) && !limits.furtherOut(back[axis], over))
        stop = over;
    source_ = JournalRow::Source::Return;
    return start(tr("Return"), back, *from, stop);
}
