#ifndef DEVICELINK_H
#define DEVICELINK_H

#include "actresult.h"
#include "kesmarctlowner.h"
#include "portsettings.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <optional>

// The link to the control unit: the connection, its port settings, the
// device driven, polling and the readings it brings, and every move. It is
// the one gate for moves: the window, the pad and scripts ask it, and nothing
// else calls the library's motion functions. Each act returns what came of it;
// signals tell what changed.
class DeviceLink : public QObject
{
    Q_OBJECT

public:
    // How far the readings can be trusted: polled at the set interval
    // (Reading), not read since the last failed poll (Stale), not polled any
    // more (Stopped), or no port open (NotConnected).
    enum class State
    {
        NotConnected,
        Reading,
        Stale,
        Stopped
    };
    Q_ENUM(State)

    using Xyz = std::array<int, 3>;

    // A unit that fails this many polls in a row is taken as gone: polling
    // stops rather than hold up the program once per interval.
    static constexpr int maxFailedPolls = 3;
    static constexpr int minDevice = 0;
    static constexpr int maxDevice = 99;

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
    // instead (fellBack tells what came of it) and polling stops.
    ActResult selectDevice(int n);

    State state() const { return state_; }
    // The word for a state, untranslated: "reading", "stale", "stopped" or
    // "not connected".
    static const char *stateWord(State state);
    // Why the readings are not live, for the operator; empty while they are.
    QString failure() const { return failure_; }
    bool isOpen() const { return ctl_.isOpen(); }
    bool isPolling() const { return timer_.isActive(); }
    // The last good reading of this connection and device, whatever the
    // state; empty before the first.
    std::optional<Xyz> lastReading() const { return reading_; }
    // The reading while polling keeps it live, else empty.
    std::optional<Xyz> liveReading() const;

    // Refuses a target with an axis outside 0..20500, naming it.
    static ActResult checkTarget(const Xyz &target);
    // Sends the device to `target` (stored in its memory position 0, then
    // gone to), each axis within 0..20500.
    ActResult moveTo(const Xyz &target);
    // Jogs by dx, dy, dz from where the device stands, each axis kept within
    // 0..20500. Jogs that follow one another with no other move in between
    // add up: each starts from the target of the one before.
    ActResult jog(int dx, int dy, int dz);
    // Sends the device to the position it reports now, so it stops there.
    ActResult halt();
    // The last target sent to the device (its memory position 0).
    ActResult lastTarget(Xyz *target);

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
    // A move went out to the device.
    void targetSent(int x, int y, int z);
    // Device n was selected on the unit (also device 1 after a failed selection).
    void deviceSelected(int n);
    // The device driven changed (a selection, or the fallback to device 1).
    void deviceChanged(int n);
    // A selection failed and device 1 was asked for instead, with `result`;
    // sent before the failed selection returns.
    void fellBack(const ActResult &result);

private:
    uint8_t deviceId(int n) const;
    uint8_t drivenId() const { return deviceId(device_); }
    bool readPosition(int time, int *x, int *y, int *z);
    std::optional<Xyz> positionNow(QString *failure);
    bool send(const Xyz &target);
    ActResult moveFailed() const;
    void refreshState();

    KesmarCtl ctl_;
    PortSettings settings_;
    int device_ = 1;
    QTimer timer_;
    int failedPolls_ = 0; // in a row
    State state_ = State::NotConnected;
    Xyz readouts_{0, 0, 0}; // what the readouts show, axis by axis
    std::optional<Xyz> reading_;
    QString failure_;

    // The last jog while no other move has followed it, and whom it was sent to.
    struct JogBurst
    {
        const kesmarctl_connection *handle;
        uint8_t id;
        Xyz target;
    };
    std::optional<JogBurst> jogBurst_;
};

#endif // DEVICELINK_H
