#include "devicelink.h"

#include "portaccess.h"
#include "travel.h"

#include <QStringList>
#include <QtGlobal>

#include <algorithm>

namespace {

// How long after a send an unchanged reading is taken as the unit at rest, ms.
constexpr qint64 restAfter = 500;

} // namespace

DeviceLink::DeviceLink(QObject *parent)
    : QObject(parent)
    , sequence_([this](const Xyz &target) { return sendChecked(target); })
{
    // Queued: a stage's send comes after the event loop has run, never in the
    // same stretch as the poll that read the arrival, so that a slow read and
    // a send that times out never hold the program up back to back.
    connect(this, &DeviceLink::positionRead, &sequence_, &MoveSequence::takeReading, Qt::QueuedConnection);
    connect(&sequence_, &MoveSequence::stageChanged, this, &DeviceLink::stageChanged);
    connect(&sequence_, &MoveSequence::finished, this, &DeviceLink::sequenceFinished);
    // A sequence cannot see its stages arrive without readings.
    connect(this, &DeviceLink::stateChanged, this, [this](State state) {
        if (state == State::NotConnected || state == State::Stopped)
            sequence_.abort(tr("Stopped: the readings are %1").arg(tr(stateWord(state))));
    });
    timer_.setInterval(settings_.update);
    connect(&timer_, &QTimer::timeout, this, &DeviceLink::poll);
    soon_.setSingleShot(true);
    // Unless polling has given up on the unit by then.
    connect(&soon_, &QTimer::timeout, this, [this] {
        if (failedPolls_ < maxFailedPolls)
            poll();
    });
}

void DeviceLink::setPortSettings(const PortSettings &settings)
{
    settings_ = settings;
    if (settings_.port.isEmpty())
        settings_.port = PortSettings::defaultPort();
    settings_.timeout = qBound(PortSettings::minTimeout, settings_.timeout, PortSettings::maxTimeout);
}

void DeviceLink::setPollInterval(int ms)
{
    timer_.setInterval(qMax(PortSettings::minUpdate, ms));
}

const char *DeviceLink::stateWord(State state)
{
    // In the order of State.
    static const char *const words[] = {QT_TR_NOOP("not connected"), QT_TR_NOOP("reading"), QT_TR_NOOP("stale"),
                                        QT_TR_NOOP("stopped"), QT_TR_NOOP("waiting")};
    return words[int(state)];
}

std::optional<DeviceLink::Xyz> DeviceLink::liveReading() const
{
    return state_ == State::Reading ? reading_ : std::nullopt;
}

uint8_t DeviceLink::deviceId(int n) const
{
    if (n == 0 && ctl_.isOpen())
        return ctl_.handle()->id;
    return static_cast<uint8_t>(48 + n);
}

// ---------------------------------------------------------------------------
// The connection

ActResult DeviceLink::open()
{
    const QString port = settings_.port;
    if (!ctl_.open(port, settings_.timeout)) {
        // A port this account may not open says what to do about it.
        const QString hint = portAccessHint(port);
        failure_ = tr("Can not open %1 - %2").arg(port, ctl_.errorText())
            + (hint.isEmpty() ? QString() : QStringLiteral("; ") + hint);
        timer_.stop();
        refreshState();
        return ActResult::failed(failure_);
    }
    failedPolls_ = 0;
    // The device shown is the one driven, so it is selected on every new
    // connection; a failure there is reported as any failed selection is.
    const ActResult selected = selectDevice(device_);
    if (!selected.ok())
        return selected;
    return ActResult::done(tr("%1 opened").arg(port));
}

ActResult DeviceLink::reconnect()
{
    ctl_.close();
    return open();
}

ActResult DeviceLink::selectDevice(int n)
{
    if (n < minDevice || n > maxDevice)
        return {ActResult::Kind::OutOfRange, tr("Device %1 is outside %2..%3").arg(n).arg(minDevice).arg(maxDevice)};

    const bool changed = n != device_;
    // Whatever the outcome, the readings, the target in force and a jog
    // under way are the previous device's or connection's.
    forgetDevice();
    if (kesmarctl_select_dev(ctl_.handle(), deviceId(n)) >= 0) {
        device_ = n;
        timer_.start();
        // The first reading of this device comes at once.
        soon_.start(0);
        if (changed)
            emit deviceChanged(n);
        emit deviceSelected(n);
        refreshState();
        return ActResult::done(tr("Device %1 selected").arg(n));
    }

    failure_ = tr("Device %1 select failed - %2").arg(n).arg(ctl_.errorText());
    // Device 1 is driven from now on, selected again where the unit answers
    // (after the event loop has run: a unit that did not answer would hold
    // the program up a second time); polling stops until the operator acts.
    const int before = device_;
    device_ = 1;
    if (n != 1) {
        QTimer::singleShot(0, this, [this] {
            if (device_ == 1 && ctl_.isOpen() && kesmarctl_select_dev(ctl_.handle(), deviceId(1)) >= 0)
                emit deviceSelected(1);
        });
    }
    if (before != 1 || changed)
        emit deviceChanged(1);
    timer_.stop();
    soon_.stop();
    refreshState();
    return ActResult::failed(failure_);
}

void DeviceLink::resumePolling()
{
    timer_.start();
    refreshState();
}

void DeviceLink::stopPolling()
{
    timer_.stop();
    soon_.stop();
    refreshState();
}

void DeviceLink::forgetDevice()
{
    // A sequence's stages were meant for the device it started on.
    sequence_.abort(tr("Stopped: the connection or the device changed"));
    reading_.reset();
    previousReading_.reset();
    inForce_.reset();
    jogBurst_.reset();
}

// The next poll comes soon, unless one is due sooner.
void DeviceLink::pollSoon()
{
    if (!soon_.isActive() || soon_.remainingTime() > soonPoll)
        soon_.start(soonPoll);
}

// ---------------------------------------------------------------------------
// Polling

void DeviceLink::poll()
{
    // Whichever poll comes first stands for the one due soon as well.
    soon_.stop();
    int time = 0;
    if (settings_.pcmode) {
        time = qBound(0, timer_.interval() - 10, maxPcWait);
    } else if (ctl_.isOpen() && kesmarctl_recv(ctl_.handle()) > 0) {
        // More input is on its way: look again soon.
        pollSoon();
    }

    int xyz[3] = {-1, -1, -1};
    const bool read = readPosition(time, &xyz[0], &xyz[1], &xyz[2]);
    // Each axis the library gave is shown, also from a failed read; the
    // reading is what the readouts then show.
    for (int axis = 0; axis < 3; ++axis) {
        if (xyz[axis] < 0)
            continue;
        readouts_[axis] = xyz[axis];
        emit axisRead(axis, xyz[axis]);
    }

    if (read) {
        failedPolls_ = 0;
        failure_.clear();
        reading_ = readouts_;
        refreshState();
        noteReading(readouts_);
        emit positionRead(readouts_[0], readouts_[1], readouts_[2]);
        return;
    }
    // The readings go stale and say so until the next good poll; polling goes
    // on at its interval, counted from now, so the program waits for one
    // time-out at a time, until too many polls in a row have failed.
    ++failedPolls_;
    failure_ = tr("Update failed - ") + ctl_.errorText();
    soon_.stop();
    if (failedPolls_ >= maxFailedPolls)
        timer_.stop();
    else if (timer_.isActive())
        timer_.start();
    emit pollFailed(failure_);
    refreshState();
}

// What a good reading tells besides the position: whether a jog is still
// under way, and whether the unit came to rest away from where it was sent.
void DeviceLink::noteReading(const Xyz &reading)
{
    if (jogBurst_) {
        bool between = true;
        for (int i = 0; i < 3; ++i) {
            const auto [low, high] = std::minmax(jogBurst_->start[i], jogBurst_->target[i]);
            between = between && reading[i] >= low && reading[i] <= high;
        }
        // Arrived, or something else moved the unit: the next jog starts
        // from a fresh reading.
        if (!between || reading == jogBurst_->target)
            jogBurst_.reset();
    }
    const bool moving = previousReading_ && *previousReading_ != reading;
    // An unchanged reading right after a send may only mean the move has not started.
    const bool atRest = previousReading_ && !moving && (!sinceSend_.isValid() || sinceSend_.elapsed() >= restAfter);
    previousReading_ = reading;
    if (moving || jogBurst_)
        pollSoon();
    if (!inForce_) {
        inForce_ = reading;
    } else if (atRest && reading != *inForce_) {
        inForce_ = reading;
        emit restedElsewhere(reading[0], reading[1], reading[2]);
    }
}

// Reads the position of the driven device; the device reports each
// coordinate in its low 16 bits, as a signed number. On failure the outputs
// keep what the library left in them.
bool DeviceLink::readPosition(int time, int *x, int *y, int *z)
{
    if (kesmarctl_get_position_ext(ctl_.handle(), drivenId(), time, x, y, z) < 0)
        return false;
    *x = static_cast<qint16>(*x & 0xffff);
    *y = static_cast<qint16>(*y & 0xffff);
    *z = static_cast<qint16>(*z & 0xffff);
    return true;
}

// The one place that decides the state, from the connection, the polling
// timer and the failed polls.
void DeviceLink::refreshState()
{
    State now = State::Reading;
    if (!ctl_.isOpen())
        now = State::NotConnected;
    else if (!timer_.isActive())
        now = State::Stopped;
    else if (failedPolls_ > 0)
        now = State::Stale;
    else if (!reading_)
        now = State::Waiting;
    if (now == state_)
        return;
    state_ = now;
    emit stateChanged(now);
}

// ---------------------------------------------------------------------------
// Moves

ActResult DeviceLink::checkTarget(const Xyz &target)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (target[axis] < 0 || target[axis] > positionMax)
            return {ActResult::Kind::OutOfRange,
                    tr("%1 %2 is outside 0..%3").arg(QChar(u'X' + axis)).arg(target[axis]).arg(positionMax)};
    }
    return ActResult::done(QString());
}

ActResult DeviceLink::setLimits(const TravelLimits &limits)
{
    const QString problem = limits.problem();
    if (!problem.isEmpty())
        return {ActResult::Kind::OutOfRange, problem};
    limits_ = limits;
    return ActResult::done(limits.enabled ? tr("Limits on") : tr("Limits off"));
}

ActResult DeviceLink::checkMove(const Xyz &target) const
{
    const ActResult inTravel = checkTarget(target);
    return inTravel.ok() ? checkEnvelope(target, reading_) : inTravel;
}

// As checkEnvelope(), for a move that starts at `from`: an axis outside the
// envelope there may stay or come closer on the same side, never cross it.
ActResult DeviceLink::checkEnvelope(const Xyz &target, const std::optional<Xyz> &from) const
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

ActResult DeviceLink::sendChecked(const Xyz &target)
{
    const ActResult checked = checkMove(target);
    if (!checked.ok())
        return checked;
    jogBurst_.reset();
    return send(target) ? ActResult::sent(tr("Goto command sent")) : moveFailed();
}

ActResult DeviceLink::moveTo(const Xyz &target)
{
    const ActResult result = sendChecked(target);
    // A move of the operator's replaces a sequence under way; a refused one does not.
    if (result.ok())
        sequence_.abort(tr("Replaced by another move"));
    return result;
}

ActResult DeviceLink::go(const Xyz &target)
{
    if (!limits_.ordered)
        return moveTo(target);
    const std::optional<Xyz> from = liveReading();
    if (!from)
        return {ActResult::Kind::NoReading, tr("An ordered move needs a live reading of the position")};
    return startSequence(target, *from, target[limits_.axis]);
}

// The stages of an ordered move from `from` to `target`, the retract axis
// ending at `approachTarget`: out to the safe coordinate unless further out
// already, sideways, in. Every stage is checked before the first is sent, so
// a sequence is refused whole rather than stopped half-way.
ActResult DeviceLink::startSequence(const Xyz &target, const Xyz &from, int approachTarget)
{
    const int axis = limits_.axis;
    const Xyz out = limits_.retracted(from);
    Xyz lateral = target;
    lateral[axis] = out[axis];
    Xyz in = target;
    in[axis] = approachTarget;
    const QList<MoveSequence::Stage> stages{
        {QStringLiteral("retract"), out}, {QStringLiteral("lateral"), lateral}, {QStringLiteral("approach"), in}};
    ActResult checked = checkTarget(target);
    std::optional<Xyz> at = from;
    for (const MoveSequence::Stage &stage : stages) {
        if (checked.ok())
            checked = checkEnvelope(stage.target, at);
        at = stage.target;
    }
    if (!checked.ok())
        return checked;
    return sequence_.start(stages, from);
}

ActResult DeviceLink::retract()
{
    const std::optional<Xyz> from = liveReading();
    if (!from)
        return {ActResult::Kind::NoReading, tr("Retract needs a live reading of the position")};
    const Xyz out = limits_.retracted(*from);
    const ActResult checked = checkEnvelope(out, from);
    if (!checked.ok())
        return checked;
    // The position to return to is one in place, not one on the way out or
    // already out: a second Retract keeps the one remembered first.
    const bool outAlready = out == *from || sequence_.isRunning();
    if (!outAlready || !retracted_ || retracted_->device != device_) {
        retracted_ = Retracted{device_, *from};
        emit retractedChanged();
    }
    return sequence_.start({{QStringLiteral("retract"), out}}, *from);
}

ActResult DeviceLink::returnFromRetract()
{
    if (!retracted_)
        return {ActResult::Kind::Refused, tr("Nothing to return to: Retract first")};
    if (retracted_->device != device_)
        return {ActResult::Kind::Refused,
                tr("The retracted position belongs to device %1, not %2").arg(retracted_->device).arg(device_)};
    const std::optional<Xyz> from = liveReading();
    if (!from)
        return {ActResult::Kind::NoReading, tr("Return needs a live reading of the position")};
    const Xyz &back = retracted_->position;
    const int axis = limits_.axis;
    // Short of the position, but never further out than the way over it.
    int stop = limits_.shortOf(back[axis]);
    const int over = limits_.retracted(*from)[axis];
    if (limits_.furtherOut(stop, over) && !limits_.furtherOut(back[axis], over))
        stop = over;
    return startSequence(back, *from, stop);
}

std::optional<DeviceLink::Retracted> DeviceLink::Retracted::fromGroup(const QVariantMap &group)
{
    bool ok[4] = {};
    const int device = group.value(QStringLiteral("retractdevice")).toString().toInt(&ok[0]);
    const Xyz position{group.value(QStringLiteral("retractx")).toString().toInt(&ok[1]),
                       group.value(QStringLiteral("retracty")).toString().toInt(&ok[2]),
                       group.value(QStringLiteral("retractz")).toString().toInt(&ok[3])};
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || device < minDevice || device > maxDevice || !checkTarget(position).ok())
        return std::nullopt;
    return Retracted{device, position};
}

void DeviceLink::Retracted::addTo(QVariantMap &group) const
{
    group.insert(QStringLiteral("retractdevice"), device);
    group.insert(QStringLiteral("retractx"), position[0]);
    group.insert(QStringLiteral("retracty"), position[1]);
    group.insert(QStringLiteral("retractz"), position[2]);
}

ActResult DeviceLink::jog(int dx, int dy, int dz, bool repeated)
{
    const uint8_t id = drivenId();
    std::optional<Xyz> from;
    std::optional<Xyz> start;
    QString failure;
    if (jogBurst_ && jogBurst_->handle == ctl_.handle() && jogBurst_->id == id) {
        if (repeated)
            return {ActResult::Kind::Refused, QString()};
        from = jogBurst_->target;
        start = jogBurst_->start;
    } else {
        from = positionNow(&failure);
        start = from;
    }
    jogBurst_.reset();

    ActResult result = ActResult::failed(failure);
    if (from) {
        const qint64 deltas[] = {dx, dy, dz};
        Xyz to;
        QStringList stops;
        for (int i = 0; i < 3; ++i) {
            const qint64 wanted = std::clamp<qint64>(from->at(i) + deltas[i], 0, positionMax);
            // A jog stops at the envelope's bound; an axis outside it may
            // only come closer.
            qint64 low = 0;
            qint64 high = positionMax;
            if (limits_.enabled) {
                low = std::min(limits_.min[i], from->at(i));
                high = std::max(limits_.max[i], from->at(i));
            }
            to[i] = int(qBound(low, wanted, high));
            if (to[i] != wanted)
                stops << tr("%1 stopped at the limit %2").arg(QChar(u'X' + i)).arg(to[i]);
        }
        if (send(to)) {
            sequence_.abort(tr("Replaced by another move"));
            jogBurst_ = JogBurst{ctl_.handle(), id, *start, to};
            result = ActResult::sent(stops.isEmpty() ? tr("Goto command sent") : stops.join(QStringLiteral("; ")));
        } else {
            result = moveFailed();
        }
    }
    resumePolling();
    return result;
}

ActResult DeviceLink::halt()
{
    jogBurst_.reset();
    QString failure;
    const std::optional<Xyz> at = positionNow(&failure);
    ActResult result = ActResult::failed(failure);
    if (at)
        result = send(*at) ? ActResult::sent(tr("Goto command sent")) : moveFailed();
    resumePolling();
    // Said first, so whoever waits for the sequence hears of the halt itself.
    emit halted();
    sequence_.abort(tr("Halted"));
    return result;
}

ActResult DeviceLink::lastTarget(Xyz *target)
{
    int x = -1;
    int y = -1;
    int z = -1;
    if (kesmarctl_get_mem_position_ext(ctl_.handle(), drivenId(), &x, &y, &z, 0) < 0)
        return {ActResult::Kind::NoReading, tr("No target position used yet")};
    *target = {x, y, z};
    return ActResult::done(tr("Previous target position restored"));
}

// The position the device reports now, within 0..20500, read without waiting
// for a move to end. A failed read fails the move it was for.
std::optional<DeviceLink::Xyz> DeviceLink::positionNow(QString *failure)
{
    int x = -1;
    int y = -1;
    int z = -1;
    if (!readPosition(0, &x, &y, &z)) {
        *failure = moveFailed().message;
        return std::nullopt;
    }
    return Xyz{qBound(0, x, positionMax), qBound(0, y, positionMax), qBound(0, z, positionMax)};
}

// Stores the target in the device's memory position 0 and sends the device there.
bool DeviceLink::send(const Xyz &target)
{
    const uint8_t id = drivenId();
    if (kesmarctl_store_mem_position_ext(ctl_.handle(), id, target[0], target[1], target[2], 0) < 0
        || kesmarctl_goto_mem_position_ext(ctl_.handle(), id, 0) < 0)
        return false;
    inForce_ = target;
    sinceSend_.start();
    pollSoon();
    emit targetSent(target[0], target[1], target[2]);
    return true;
}

ActResult DeviceLink::moveFailed() const
{
    return ActResult::failed(tr("Goto failed - ") + ctl_.errorText());
}
