#include "movegate.h"

#include "travel.h"

#include <QStringList>
#include <QtGlobal>

#include <algorithm>

namespace {

// How long after a send an unchanged reading is taken as the unit at rest, ms.
constexpr qint64 restAfter = 500;

} // namespace

MoveGate::MoveGate(DeviceLink &link, Journal &journal, QObject *parent)
    : QObject(parent)
    , link_(link)
    , journal_(journal)
{
    connect(&link_, &DeviceLink::positionRead, this, &MoveGate::takeReading);
    // Whatever was sent belongs to the connection or device before.
    connect(&link_, &DeviceLink::forgetting, this, &MoveGate::forget);
}

void MoveGate::setSource(JournalRow::Source source, const QString &stage)
{
    source_ = source;
    stage_ = stage;
}

void MoveGate::journal(const Xyz &target, const ActResult &result)
{
    JournalRow row;
    row.device = link_.device();
    row.source = source_;
    row.stage = stage_;
    row.before = link_.lastReading();
    row.target = target;
    row.outcome = result.kind == ActResult::Kind::Sent ? JournalRow::Outcome::Sent
        : result.kind == ActResult::Kind::Failed       ? JournalRow::Outcome::Failed
                                                       : JournalRow::Outcome::Refused;
    if (row.outcome != JournalRow::Outcome::Sent)
        row.message = result.message;
    const quint64 id = journal_.record(row);
    if (row.outcome == JournalRow::Outcome::Sent)
        openRow_ = id;
}

void MoveGate::settle(JournalRow::End end, const Xyz &at)
{
    if (openRow_)
        journal_.settle(openRow_, end, at);
    openRow_ = 0;
}

void MoveGate::forget()
{
    openRow_ = 0;
    inForce_.reset();
    wayFrom_.reset();
    movingElsewhere_.reset();
    previousReading_.reset();
    jogBurst_.reset();
}

// What a good reading tells besides the position: whether a jog is still
// under way, and whether the unit came to rest away from where it was sent.
void MoveGate::takeReading(int x, int y, int z)
{
    const Xyz reading{x, y, z};
    if (jogBurst_) {
        // Arrived, or something else moved the unit: the next jog starts
        // from a fresh reading.
        if (!onTheWay(reading, jogBurst_->start, jogBurst_->target) || reading == jogBurst_->target)
            jogBurst_.reset();
        else
            link_.pollSoon();
    }
    const bool moving = previousReading_ && *previousReading_ != reading;
    movingElsewhere_.reset();
    if (moving && inForce_ && !onTheWay(reading, wayFrom_.value_or(*inForce_), *inForce_))
        movingElsewhere_ = reading;
    // An unchanged reading right after a send may only mean the move has not started.
    const bool atRest = previousReading_ && !moving && (!sinceSend_.isValid() || sinceSend_.elapsed() >= restAfter);
    previousReading_ = reading;
    if (inForce_ && reading == *inForce_) {
        settle(JournalRow::End::Arrived, reading);
    } else if (!inForce_) {
        takeAsInForce(reading);
    } else if (atRest && reading != *inForce_) {
        settle(JournalRow::End::StoppedShort, reading);
        takeAsInForce(reading);
        emit restedElsewhere(x, y, z);
    }
}

ActResult MoveGate::setLimits(const TravelLimits &limits)
{
    const QString problem = limits.problem();
    if (!problem.isEmpty())
        return {ActResult::Kind::OutOfRange, problem};
    limits_ = limits;
    return ActResult::done(limits.enabled ? tr("Limits on") : tr("Limits off"));
}

ActResult MoveGate::checkTarget(const Xyz &target)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (target[axis] < 0 || target[axis] > positionMax)
            return {ActResult::Kind::OutOfRange,
                    tr("%1 %2 is outside 0..%3").arg(QChar(u'X' + axis)).arg(target[axis]).arg(positionMax)};
    }
    return ActResult::done(QString());
}

ActResult MoveGate::checkMove(const Xyz &target) const
{
    const ActResult inTravel = checkTarget(target);
    return inTravel.ok() ? checkEnvelope(target, link_.lastReading()) : inTravel;
}

ActResult MoveGate::checkEnvelope(const Xyz &target, const std::optional<Xyz> &from) const
{
    if (!limits_.enabled)
        return ActResult::done(QString());
    for (int axis = 0; axis < 3; ++axis) {
        const int low = limits_.min[axis];
        const int high = limits_.max[axis];
        const int value = target[axis];
        if (value < low && from && from->at(axis) <= value)
            continue;
        if (value > high && from && from->at(axis) >= value)
            continue;
        if (value >= low && value <= high)
            continue;
        const QChar name(u'X' + axis);
        return {ActResult::Kind::OutOfRange,
                value < low ? tr("%1 %2 is below the limit %3").arg(name).arg(value).arg(low)
                            : tr("%1 %2 is above the limit %3").arg(name).arg(value).arg(high)};
    }
    return ActResult::done(QString());
}

ActResult MoveGate::moveTo(const Xyz &target)
{
    const ActResult checked = checkMove(target);
    if (!checked.ok()) {
        journal(target, checked);
        return checked;
    }
    jogBurst_.reset();
    const ActResult result = send(target) ? ActResult::sent(tr("Goto command sent")) : moveFailed();
    if (result.kind == ActResult::Kind::Failed)
        journal(target, result);
    return result;
}

ActResult MoveGate::jog(int dx, int dy, int dz, bool repeated)
{
    const uint8_t id = link_.drivenId();
    std::optional<Xyz> from;
    std::optional<Xyz> start;
    QString failure;
    if (jogBurst_ && jogBurst_->handle == link_.handle() && jogBurst_->id == id) {
        if (repeated)
            return {ActResult::Kind::Refused, QString()};
        from = jogBurst_->target;
        start = jogBurst_->start;
    } else {
        from = link_.positionNow(&failure);
        start = from;
    }
    jogBurst_.reset();

    ActResult result = ActResult::failed(failure);
    if (from) {
        const qint64 deltas[] = {dx, dy, dz};
        Xyz to;
        QStringList stops;
        for (int i = 0; i < 3; ++i) {
            const qint64 unclamped = from->at(i) + deltas[i];
            const qint64 wanted = std::clamp<qint64>(unclamped, 0, positionMax);
            // A jog stops at the envelope's bound; an axis outside it may
            // only come closer.
            qint64 low = 0;
            qint64 high = positionMax;
            if (limits_.enabled) {
                low = std::min(limits_.min[i], from->at(i));
                high = std::max(limits_.max[i], from->at(i));
            }
            to[i] = int(qBound(low, wanted, high));
            if (to[i] != unclamped) {
                // The bound in the way: the envelope's while it is on, else
                // the end of the travel; an axis outside may stay where it is.
                const bool up = unclamped > to[i];
                const int bound = limits_.enabled ? (up ? limits_.max[i] : limits_.min[i]) : (up ? positionMax : 0);
                const QChar axis(u'X' + i);
                stops << (to[i] == bound
                              ? tr("%1 stopped at the limit %2").arg(axis).arg(bound)
                              : tr("%1 stopped at %2, outside its limit %3").arg(axis).arg(to[i]).arg(bound));
            }
        }
        if (send(to)) {
            jogBurst_ = JogBurst{link_.handle(), id, *start, to};
            result = ActResult::sent(stops.isEmpty() ? tr("Goto command sent") : stops.join(QStringLiteral("; ")));
        } else {
            result = moveFailed();
            journal(to, result);
        }
    }
    link_.resumePolling();
    return result;
}

ActResult MoveGate::halt()
{
    jogBurst_.reset();
    QString failure;
    const std::optional<Xyz> at = link_.positionNow(&failure);
    ActResult result = ActResult::failed(failure);
    if (at) {
        settle(JournalRow::End::Halted, *at);
        const JournalRow::Source before = source_;
        setSource(JournalRow::Source::Halt);
        result = send(*at) ? ActResult::sent(tr("Goto command sent")) : moveFailed();
        if (result.kind == ActResult::Kind::Failed)
            journal(*at, result);
        source_ = before;
    }
    link_.resumePolling();
    emit halted();
    return result;
}

void MoveGate::takeAsInForce(const Xyz &at)
{
    inForce_ = at;
    wayFrom_ = at;
    movingElsewhere_.reset();
}

ActResult MoveGate::lastTarget(Xyz *target)
{
    int x = -1;
    int y = -1;
    int z = -1;
    if (kesmarctl_get_mem_position_ext(link_.handle(), link_.drivenId(), &x, &y, &z, 0) < 0) {
        link_.noteFailedCall();
        return {ActResult::Kind::NoReading, tr("No target position used yet")};
    }
    *target = {x, y, z};
    return ActResult::done(tr("Previous target position restored"));
}

// Stores the target in the device's memory position 0 and sends the device there.
bool MoveGate::send(const Xyz &target)
{
    const uint8_t id = link_.drivenId();
    if (kesmarctl_store_mem_position_ext(link_.handle(), id, target[0], target[1], target[2], 0) < 0
        || kesmarctl_goto_mem_position_ext(link_.handle(), id, 0) < 0) {
        link_.noteFailedCall();
        return false;
    }
    journal(target, ActResult::sent(QString()));
    wayFrom_ = link_.lastReading().value_or(target);
    inForce_ = target;
    movingElsewhere_.reset();
    sinceSend_.start();
    link_.pollSoon();
    emit targetSent(target[0], target[1], target[2]);
    return true;
}

ActResult MoveGate::moveFailed() const
{
    return ActResult::failed(tr("Goto failed - ") + link_.errorText());
}
