#include "devicelink.h"

#include "travel.h"

#include <QtGlobal>

DeviceLink::DeviceLink(QObject *parent)
    : QObject(parent)
{
    timer_.setInterval(settings_.update);
    connect(&timer_, &QTimer::timeout, this, &DeviceLink::poll);
}

void DeviceLink::setPortSettings(const PortSettings &settings)
{
    settings_ = settings;
    if (settings_.port.isEmpty())
        settings_.port = PortSettings::defaultPort();
}

void DeviceLink::setPollInterval(int ms)
{
    timer_.setInterval(qMax(PortSettings::minUpdate, ms));
}

const char *DeviceLink::stateWord(State state)
{
    // In the order of State.
    static const char *const words[]
        = {QT_TR_NOOP("not connected"), QT_TR_NOOP("reading"), QT_TR_NOOP("stale"), QT_TR_NOOP("stopped")};
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
        failure_ = tr("Can not open %1 - %2").arg(port, ctl_.errorText());
        timer_.stop();
        refreshState();
        return ActResult::failed(failure_);
    }
    failedPolls_ = 0;
    reading_.reset();
    // The device shown is the one driven, so it is selected on every new
    // connection; a failure there is reported as any failed selection is.
    const ActResult selected = selectDevice(device_);
    if (!selected.ok())
        return selected;
    return ActResult::done(tr("%1 opened").arg(port));
}

ActResult DeviceLink::reconnect()
{
    // The library is told the connection ends also while none is open: it
    // takes the null handle, and callers have always seen this close.
    if (!ctl_.isOpen())
        kesmarctl_close(nullptr);
    ctl_.close();
    return open();
}

ActResult DeviceLink::selectDevice(int n)
{
    if (n < minDevice || n > maxDevice)
        return {ActResult::Kind::OutOfRange, tr("Device %1 is outside %2..%3").arg(n).arg(minDevice).arg(maxDevice)};

    if (kesmarctl_select_dev(ctl_.handle(), deviceId(n)) >= 0) {
        const bool changed = n != device_;
        device_ = n;
        // The readings of the previous device are not this one's.
        reading_.reset();
        timer_.start();
        if (changed)
            emit deviceChanged(n);
        emit deviceSelected(n);
        refreshState();
        return ActResult::done(tr("Device %1 selected").arg(n));
    }

    // Device 1 is asked for instead, as a selection of its own: it drives
    // device 1 when it succeeds and is reported either way. The failing call
    // itself leaves the device driven as it was, and the reason it gives is
    // the library's text after the selection of device 1. Polling stops
    // either way until the operator acts.
    if (n != 1)
        emit fellBack(selectDevice(1));
    failure_ = tr("Device %1 select failed - %2").arg(n).arg(ctl_.errorText());
    reading_.reset();
    timer_.stop();
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
    refreshState();
}

// ---------------------------------------------------------------------------
// Polling

void DeviceLink::poll()
{
    int time = 0;
    if (settings_.pcmode) {
        time = timer_.interval() - 10;
    } else if (ctl_.isOpen() && kesmarctl_recv(ctl_.handle()) > 0) {
        // More input is on its way: look again soon, unless polling has
        // given up on the unit by then.
        QTimer::singleShot(50, this, [this] {
            if (failedPolls_ < maxFailedPolls)
                poll();
        });
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
        emit positionRead(readouts_[0], readouts_[1], readouts_[2]);
        return;
    }
    // The readings go stale and say so until the next good poll; polling goes
    // on at its interval until too many polls in a row have failed.
    ++failedPolls_;
    failure_ = tr("Update failed - ") + ctl_.errorText();
    if (failedPolls_ >= maxFailedPolls)
        timer_.stop();
    emit pollFailed(failure_);
    refreshState();
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

ActResult DeviceLink::moveTo(const Xyz &target)
{
    const ActResult checked = checkTarget(target);
    if (!checked.ok())
        return checked;
    jogBurst_.reset();
    return send(target) ? ActResult::sent(tr("Goto command sent")) : moveFailed();
}

ActResult DeviceLink::jog(int dx, int dy, int dz)
{
    const uint8_t id = drivenId();
    std::optional<Xyz> from;
    QString failure;
    if (jogBurst_ && jogBurst_->handle == ctl_.handle() && jogBurst_->id == id)
        from = jogBurst_->target;
    else
        from = positionNow(&failure);
    jogBurst_.reset();

    ActResult result = ActResult::failed(failure);
    if (from) {
        const qint64 deltas[] = {dx, dy, dz};
        Xyz to;
        for (int i = 0; i < 3; ++i)
            to[i] = int(qBound<qint64>(0, from->at(i) + deltas[i], positionMax));
        if (send(to)) {
            jogBurst_ = JogBurst{ctl_.handle(), id, to};
            result = ActResult::sent(tr("Goto command sent"));
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
    emit targetSent(target[0], target[1], target[2]);
    return true;
}

ActResult DeviceLink::moveFailed() const
{
    return ActResult::failed(tr("Goto failed - ") + ctl_.errorText());
}
