#include "devicelink.h"

#include "portaccess.h"
#include "travel.h"

#include <QtGlobal>

DeviceLink::DeviceLink(QObject *parent)
    : QObject(parent)
{
    timer_.setInterval(settings_.update);
    connect(&timer_, &QTimer::timeout, this, &DeviceLink::poll);
    soon_.setSingleShot(true);
    // Unless polling has given up on the unit by then.
    connect(&soon_, &QTimer::timeout, this, [this] {
        if (failedPolls_ < maxFailedPolls)
            poll();
    });
    // A zero timer fires once the event loop has dealt with what was due
    // before it: other timers overdue since the call began, and the events
    // posted meanwhile (which, should they call, wait for breathed()).
    breather_.setSingleShot(true);
    breather_.setInterval(0);
    connect(&breather_, &QTimer::timeout, this, [this] {
        emit breathed();
        // Unless something that waited has called and failed again.
        if (pollHeld_ && mayCall() && timer_.isActive()) {
            pollHeld_ = false;
            poll();
        }
    });
}

void DeviceLink::noteFailedCall()
{
    breather_.start();
}

void DeviceLink::whenFree(QObject *context, const std::function<void()> &call)
{
    if (mayCall()) {
        call();
        return;
    }
    auto *waiting = new QObject(context);
    connect(this, &DeviceLink::breathed, waiting, [this, waiting, call] {
        // A call that waited with this one may have gone first and failed.
        if (!mayCall())
            return;
        disconnect(this, nullptr, waiting, nullptr);
        waiting->deleteLater();
        call();
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
    noteFailedCall();
    // Device 1 is driven from now on, selected again where the unit answers
    // (after the event loop has run: a unit that did not answer would hold
    // the program up a second time); polling stops until the operator acts.
    const int before = device_;
    device_ = 1;
    if (n != 1) {
        QTimer::singleShot(0, this, [this] {
            if (device_ != 1 || !ctl_.isOpen())
                return;
            if (kesmarctl_select_dev(ctl_.handle(), deviceId(1)) >= 0)
                emit deviceSelected(1);
            else
                noteFailedCall();
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
    emit forgetting();
    reading_.reset();
    previousReading_.reset();
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
    if (!mayCall()) {
        pollHeld_ = true;
        return;
    }
    pollHeld_ = false;
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
        // While the unit moves, the readouts follow it closely.
        if (previousReading_ && *previousReading_ != readouts_)
            pollSoon();
        previousReading_ = readouts_;
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

// Reads the position of the driven device; the device reports each
// coordinate in its low 16 bits, as a signed number. On failure the outputs
// keep what the library left in them.
bool DeviceLink::readPosition(int time, int *x, int *y, int *z)
{
    if (kesmarctl_get_position_ext(ctl_.handle(), drivenId(), time, x, y, z) < 0) {
        noteFailedCall();
        return false;
    }
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

// The position the device reports now, within 0..20500, read without waiting
// for a move to end. A failed read fails the move it was for.
std::optional<DeviceLink::Xyz> DeviceLink::positionNow(QString *failure)
{
    int x = -1;
    int y = -1;
    int z = -1;
    if (!readPosition(0, &x, &y, &z)) {
        *failure = tr("Goto failed - ") + ctl_.errorText();
        return std::nullopt;
    }
    return Xyz{qBound(0, x, positionMax), qBound(0, y, positionMax), qBound(0, z, positionMax)};
}
