#ifndef DEVICELINK_H
#define DEVICELINK_H

#include "actresult.h"
#include "kesmarctlowner.h"
#include "movesequence.h"
#include "portsettings.h"
#include "travellimits.h"

#include <QElapsedTimer>
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
    static constexpr int minDevice = 0;
    static constexpr int maxDevice = 99;
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
    // The reading while polling keeps it live, else empty.
    std::optional<Xyz> liveReading() const;

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
    // Sends the device straight to `target` (stored in its memory position
    // 0, then gone to), within 0..20500 and the envelope; ends a sequence.
    ActResult moveTo(const Xyz &target);
    // Goto: in order (out, sideways, in) while ordered moves are on, else
    // straight.
    ActResult go(const Xyz &target);
    // Remembers the live position and takes the unit out along the retract
    // axis to the safe coordinate. A unit out there already, or on its way,
    // keeps the position remembered for its device.
    ActResult retract();
    // Takes the unit back to the remembered position in order, stopping the
    // approach distance short on the retract axis; refused on another device.
    ActResult returnFromRetract();
    // The position Retract remembered and its device, if any.
    struct Retracted
    {
        int device;
        Xyz position;

        // The keys "retractdevice", "retractx", "retracty", "retractz" of
        // the settings group "limits"; empty when any is missing or damaged.
        static std::optional<Retracted> fromGroup(const QVariantMap &group);
        void addTo(QVariantMap &group) const;
    };
    std::optional<Retracted> retracted() const { return retracted_; }
    void setRetracted(const std::optional<Retracted> &retracted) { retracted_ = retracted; }
    // The stage of the sequence under way ("retract", "lateral",
    // "approach"), empty when none.
    QString stage() const { return sequence_.stage(); }
    // Jogs by dx, dy, dz from where the device stands, each axis kept within
    // 0..20500. While a jog is under way and nothing else moved the unit
    // (every reading since lies between the jog's start and its target), the
    // next one starts from its target, so quick presses add up; otherwise
    // from a fresh reading. A `repeated` jog (a held key) is refused until
    // the one under way has arrived, so the unit stops with the hand.
    ActResult jog(int dx, int dy, int dz, bool repeated = false);
    // Sends the device to the position it reports now, so it stops there.
    // Never refused; `halted` is signalled whatever came of it.
    ActResult halt();
    // Where the unit was last sent, or where it stood when first read on
    // this connection and device; empty before either.
    std::optional<Xyz> targetInForce() const { return inForce_; }
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
    // Someone asked for a halt.
    void halted();
    // A sequence moved on to `stage`, or ended (empty).
    void stageChanged(const QString &stage);
    // A sequence ended: arrived, or why not.
    void sequenceFinished(const ActResult &result);
    // Retract remembered a position.
    void retractedChanged();
    // The unit came to rest at `at`, away from the target in force: moved
    // from its front panel, by another program, or stopped short. That
    // position is the one in force from now on.
    void restedElsewhere(int x, int y, int z);
    // The device driven changed (a selection, or the fallback to device 1).
    void deviceChanged(int n);

private:
    uint8_t deviceId(int n) const;
    uint8_t drivenId() const { return deviceId(device_); }
    bool readPosition(int time, int *x, int *y, int *z);
    std::optional<Xyz> positionNow(QString *failure);
    bool send(const Xyz &target);
    ActResult moveFailed() const;
    ActResult sendChecked(const Xyz &target);
    ActResult checkEnvelope(const Xyz &target, const std::optional<Xyz> &from) const;
    ActResult startSequence(const Xyz &target, const Xyz &from, int approachTarget);
    void refreshState();
    void pollSoon();
    void forgetDevice();
    void noteReading(const Xyz &reading);

    KesmarCtl ctl_;
    PortSettings settings_;
    int device_ = 1;
    QTimer timer_;
    QTimer soon_; // the one poll due soon, after a move or while the unit reports
    int failedPolls_ = 0; // in a row
    State state_ = State::NotConnected;
    Xyz readouts_{0, 0, 0}; // what the readouts show, axis by axis
    std::optional<Xyz> reading_;
    QString failure_;
    std::optional<Xyz> inForce_;
    TravelLimits limits_;
    MoveSequence sequence_;
    std::optional<Retracted> retracted_;
    // When the last move was sent: a reading that has not changed is taken
    // as the unit at rest only once the move has had time to start.
    QElapsedTimer sinceSend_;
    // The reading before the last, to see the unit at rest.
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

#endif // DEVICELINK_H
