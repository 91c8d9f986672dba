#ifndef PANEL_H
#define PANEL_H

#include "actresult.h"
#include "coordinates.h"
#include "devicelink.h"
#include "journal.h"
#include "movegate.h"
#include "moveplans.h"
#include "panelsettings.h"
#include "positionhistory.h"
#include "positionmodel.h"
#include "targets.h"

#include <QObject>

#include <memory>

class JournalWriter;

// The panel itself, without a window: the link to the unit, the move gate
// and the plans, the named positions with their history, the targets, the
// limits and what is kept between runs. The main window, the pad and
// scripts are views of it: each act they ask for is one call here, which
// returns what came of it and tells every view (reported()), so the status
// bar shows a script's act as it shows a click.
class Panel : public QObject
{
    Q_OBJECT

public:
    using Xyz = DeviceLink::Xyz;

    // Which failure a result tells of, for how long a view shows it: a
    // failed move's message is not replaced by failed polls, a failed save's
    // goes with the next good save.
    enum class About
    {
        Move,
        Save,
        Other
    };

    explicit Panel(QObject *parent = nullptr);
    ~Panel() override;

    DeviceLink &link() { return link_; }
    const DeviceLink &link() const { return link_; }
    const MoveGate &gate() const { return gate_; }
    const MovePlans &plans() const { return plans_; }
    // The times a plan's stages are judged by; tests shorten them.
    void setPlanTiming(const MoveSequence::Timing &timing) { plans_.setTiming(timing); }
    const TravelLimits &limits() const { return gate_.limits(); }
    const Targets &targets() const { return targets_; }
    // The list views bind to it; it changes only through the acts below.
    PositionModel &positions() { return positions_; }
    const PositionModel &positions() const { return positions_; }
    PositionHistory &history() { return history_; }
    // Every target sent, refused or failed, for the Journal window and scripts.
    const Journal &journal() const { return journal_; }
    // The units every view shows and each device's frame.
    const Coordinates &coordinates() const { return coordinates_; }
    // The frame of the device driven.
    DeviceFrame frame() const { return coordinates_.frame(link_.device()); }

    // Reads the store: the port settings, the device, the limits, Retract's
    // memory and the named positions. With a `notSavingReason` nothing is
    // written in this run. Returns what the whole run must know (that nothing
    // is saved, or where a damaged file is kept), else empty.
    QString load(const QString &notSavingReason = QString());
    // What load() returned: what the whole run must know, or empty.
    QString standing() const { return standing_; }
    // The pad's group of the store, kept as the pad gives it.
    QVariantMap padGroup() const { return padGroup_; }
    ActResult setPadGroup(const QVariantMap &group);
    // Asks for the store to be written, off this thread; how it ended is
    // reported (a failure stays until the next good save mends it).
    ActResult save();
    // Waits for every save asked for; what came of the last.
    ActResult waitForSaves();
    // The store, whose saveFinished() tells how each save ended.
    SettingsStore &settingsStore() { return settings_.store(); }
    QString settingsFile() const;

    // The connection. None of these moves the unit.
    ActResult open(const QString &port = QString());
    ActResult reconnect();
    ActResult selectDevice(int n);
    // Takes new port settings and saves them; reopens the port when it or
    // the time-out changed, or when it is not open or no longer polled.
    ActResult applyPortSettings(const PortSettings &settings);

    // The targets. setTarget() is an edit of one axis: under Follow Target
    // it is sent straight. setTargets() sends nothing.
    ActResult setTarget(int axis, int value);
    bool setTargets(int x, int y, int z) { return targets_.set(x, y, z); }
    // Goto with the targets as they are, or after putting x, y, z in them (a
    // script's Goto; refused before the targets change).
    ActResult gotoTargets(JournalRow::Source source = JournalRow::Source::Goto);
    ActResult gotoTargets(int x, int y, int z);
    bool following() const { return following_; }
    // Follow Target on takes the position now as the targets; without a
    // live reading it stays off.
    ActResult setFollowing(bool on);
    // Copy: the position now into the targets; Restore: the last target.
    // Under Follow Target the new targets are sent once, whole.
    ActResult copy();
    ActResult restore();

    // Moves of their own.
    ActResult jog(int dx, int dy, int dz, bool repeated = false,
                  JournalRow::Source source = JournalRow::Source::Script);
    // The jog key held came up: a jog still on its way halts, so the unit
    // stops with the hand.
    ActResult jogReleased();
    ActResult halt();
    ActResult retract();
    ActResult returnFromRetract();
    // Takes the limits as OK in the Limits dialog does, and saves them.
    ActResult setLimits(const TravelLimits &limits);

    // The coordinates shown; none of these moves the unit. setZero() takes
    // the live position as the device's zero; clearZero() goes back to the
    // unit's own. Each is saved.
    ActResult setUnits(Coordinates::Units units);
    ActResult setZero();
    ActResult clearZero();
    ActResult setFrame(int device, const DeviceFrame &frame);
    // Moves `distance` along the pipette of the device driven from where the
    // unit is now (negative: back), in `units`; both axes go in one target,
    // so the unit moves straight along it. A target outside the travel or
    // the envelope is refused whole: cut on one axis, it would leave the axis.
    ActResult advance(double distance, Coordinates::Units units, JournalRow::Source source);

    // The named positions. recall() puts entry `row` into the targets;
    // choose() is the operator's choice of it, which under Follow Target
    // also sends it. An entry stored for another device than the one driven
    // is refused by these and by gotoNamedPosition(): nothing changes.
    ActResult recall(int row);
    ActResult choose(int row);
    // Recalls the entry called `name` and goes there.
    ActResult gotoNamedPosition(const QString &name);
    // Stores the targets under `typed` for the device driven; the window's
    // Store may leave the name empty for a generated one (see
    // PositionModel::plan()). A name that cannot be stored, or that another
    // device's entry has, is refused whole, never cut; white space at its
    // ends is left out.
    ActResult store(const QString &typed, PositionModel::StoreMatch match);
    // Removes entry `row`. Undo and redo change the list as Store and Remove
    // do, and save it; none of them touches the targets or moves the unit.
    ActResult remove(int row);
    ActResult undo() { return step(true); }
    ActResult redo() { return step(false); }

    // The last failure any act or poll reported; empty before the first.
    QString lastFailure() const { return lastFailure_; }
    // A script asks for the window to come to the front.
    void requestRaise() { emit raiseRequested(); }

signals:
    // What came of an act, for the views to show.
    void reported(const ActResult &result, Panel::About about);
    void followingChanged(bool on);
    // Entry `row` was put into the targets: the list shows it, the name
    // field its name.
    void entryRecalled(int row, const QString &name);
    // An undo or redo changed entry `row`, or the device's entry nearest its
    // place (-1 when none): the list shows it, the targets and the name
    // field stay as they are.
    void entryChanged(int row);
    // A store under `name` was done (or found done already).
    void nameStored(const QString &name);
    void limitsChanged();
    // The units, the device driven or its frame changed: every shown
    // position may read otherwise.
    void frameChanged();
    void raiseRequested();
    // What the whole run must know changed (the journal turned itself off).
    void standingChanged(const QString &standing);

private:
    ActResult report(const ActResult &result, About about = About::Other);
    ActResult moved(const ActResult &result) { return report(result, About::Move); }
    // Sends the targets straight, as Follow Target does.
    ActResult sendTargets(JournalRow::Source source);
    void followOff(const QString &why);
    ActResult step(bool back);
    ActResult fill(int row);

    DeviceLink link_;
    Journal journal_;
    MoveGate gate_{link_, journal_};
    MovePlans plans_{link_, gate_};
    PositionModel positions_;
    PositionHistory history_{positions_};
    Targets targets_;
    Coordinates coordinates_;
    PanelSettings settings_{link_, gate_, plans_, positions_, coordinates_};
    QVariantMap padGroup_;
    QString standing_;
    std::unique_ptr<JournalWriter> journalWriter_;
    bool following_ = false;
    // Whether anything has set the targets in this run: until then the
    // first reading does.
    bool targetsSet_ = false;
    QString lastFailure_;
};

#endif // PANEL_H
