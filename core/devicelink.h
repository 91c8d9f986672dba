#ifndef DEVICELINK_H
#define DEVICELINK_H

#include "actresult.h"
#include "kesmarctlowner.h"
#include "portsettings.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>

// The link to the control unit: the connection, its port settings, the
// device driven, polling and the readings it brings. It sends no move: that
// is the move gate's, which uses its handle. Each act returns what came of
// it; signals tell what changed.
class DeviceLink : public QObject
{
    Q_OBJECT

public:
    // How far the readings can be trusted: polled at the set interval
    // (Reading), not read since the last failed poll (Stale), not polled any
    // more (Stopped), no port open (NotConnected), or polled but not read yet
    // since the port was opened or the device changed (Waiting).
    enum class State
    {
        NotConnected,
        Reading,
        Stale,
        Stopped,
        Waiting
    };
    Q_ENUM(State)

    using Xyz = std::array<int, 3>;

    // A unit that fails this many polls in a row is taken as gone: polling
    // stops rather than hold up the program once per interval.
    static constexpr int maxFailedPolls = 3;
    // After a move the next poll comes this soon, in ms, so the readouts
    // follow it from its start; so does the next look while the unit reports.
    static constexpr int soonPoll = 50;
    // In PC mode the unit is asked to wait at most this long, in ms, for a
    // move to end before it answers, so a Halt is never held up longer.
    static constexpr int maxPcWait = 50;

    explicit DeviceLink(QObject *parent = nullptr);

    // The port settings the next open uses. The polling interval is taken
    // from them only by setPollInterval.
    const PortSettings &portSettings() const { return settings_; }
    void setPortSettings(const PortSettings &settings);
    int pollInterval() const { return timer_.interval(); }
    void setPollInterval(int ms);

    // The device polls and moves address (device n is id 48+n; 0 the unit's
    // own manipulator). Before the first open it is the one that will be
    // selected.
    int device() const { return device_; }
    void setDevice(int n) { device_ = n; }

    // Opens the configured port (closing any open connection first), selects
    // the device and starts polling. Nothing moves.
    ActResult open();
    // Closes the port, opens it again and resumes polling; nothing moves.
    ActResult reconnect();
    // Selects device n and polls it. When that fails, device 1 is selected
    // again and polling stops.
    ActResult selectDevice(int n);

    State state() const { return state_; }
    // The word for a state, untranslated: "reading", "stale", "stopped",
    // "waiting" or "not connected".
    static const char *stateWord(State state);
    // Why the readings are not live, for the operator; empty while they are.
    QString failure() const { return failure_; }
    bool isOpen() const { return ctl_.isOpen(); }
    bool isPolling() const { return timer_.isActive(); }
    // The last good reading of this connection and device, whatever the
    // state; empty before the first.
    std::optional<Xyz> lastReading() const { return reading_; }
    // What the readouts show, axis by axis, live or not.
    const Xyz &readouts() const { return readouts_; }
    // The reading while polling keeps it live, else empty.
    std::optional<Xyz> liveReading() const;

    // The library's handle of this connection, null while none is open; the
    // id of the device driven; the library's text for the last failure.
    kesmarctl_connection *handle() const { return ctl_.handle(); }
    uint8_t drivenId() const { return deviceId(device_); }
    QString errorText() const { return ctl_.errorText(); }
    // The position the device reports now, within 0..20500, read without
    // waiting for a move to end; empty when the read failed, `failure` then
    // says why in a move's words.
    std::optional<Xyz> positionNow(QString *failure);
    // The next poll comes soon, unless one is due sooner: after a move, so the
    // readouts follow it from its start.
    void pollSoon();

    // One time-out at a time: a library call that failed (it may have waited
    // its whole time-out) holds the next call back until the event loop has
    // run, so the program never waits for two time-outs in a row. Every call
    // that fails is noted here; mayCall() is false from then until
    // breathed() says the event loop has run. A poll due meanwhile comes
    // then; every other caller goes through whenFree().
    void noteFailedCall();
    bool mayCall() const { return !breather_.isActive(); }
    // Runs `call` now if calls may go, else once they may again, in the
    // order asked; not at all if `context` is gone by then.
    void whenFree(QObject *context, const std::function<void()> &call);

public slots:
    // Restarts polling at the set interval, as after a move.
    void resumePolling();
    void stopPolling();
    // Reads the position once; on a good read the readings go live.
    void poll();

signals:
    // One axis of a poll's answer, also from a poll that failed when the
    // library still gave that axis.
    void axisRead(int axis, int value);
    // After every good poll.
    void positionRead(int x, int y, int z);
    // A poll failed; `message` says why.
    void pollFailed(const QString &message);
    void stateChanged(DeviceLink::State state);
    // Device n was selected on the unit (also device 1 after a failed selection).
    void deviceSelected(int n);
    // The readings, and whatever was sent, belong to a connection or device
    // that is no longer the one driven: said before a new one is selected.
    void forgetting();
    // The device driven changed (a selection, or the fallback to device 1).
    void deviceChanged(int n);
    // The event loop has run since the last failed call: calls may go again.
    void breathed();

private:
    uint8_t deviceId(int n) const;
    bool readPosition(int time, int *x, int *y, int *z);
    void refreshState();
    void forgetDevice();

    KesmarCtl ctl_;
    PortSettings settings_;
    int device_ = 1;
    QTimer timer_;
    QTimer soon_; // the one poll due soon, after a move or while the unit reports
    QTimer breather_; // runs while a failed call holds the next one back
    bool pollHeld_ = false; // a poll came due while it ran
    int failedPolls_ = 0; // in a row
    State state_ = State::NotConnected;
    Xyz readouts_{0, 0, 0}; // what the readouts show, axis by axis
    std::optional<Xyz> reading_;
    // The reading before the last: while they differ the unit moves, and
    // the next poll comes soon.
    std::optional<Xyz> previousReading_;
    QString failure_;
};

#endif // DEVICELINK_H
