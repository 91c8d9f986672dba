#include "panel.h"

#include "journalwriter.h"
#include "settingsstore.h"
#include "travel.h"

#include <cmath>

Panel::Panel(QObject *parent)
    : QObject(parent)
{
    connect(&settings_.store(), &SettingsStore::saveFinished, this, [this](quint64, const SaveResult &result) {
        report(result.kind == SaveResult::Kind::Saved ? ActResult::done(QString()) : ActResult::failed(result.message),
               About::Save);
    });
    // With no entry recalled at start, the targets start where the unit
    // stands, so a Goto right away does not send it across the travel.
    connect(&targets_, &Targets::changed, this, [this] { targetsSet_ = true; });
    connect(&link_, &DeviceLink::positionRead, this, [this](int x, int y, int z) {
        if (!targetsSet_) {
            targetsSet_ = true;
            targets_.set(x, y, z);
        }
    });
    // Whatever sent it, a move's target is the target shown.
    connect(&gate_, &MoveGate::targetSent, &targets_, [this](int x, int y, int z) { targets_.set(x, y, z); });
    connect(&gate_, &MoveGate::restedElsewhere, this, [this](int x, int y, int z) {
        // The next nudge would send the other axes back where the unit was.
        if (following_)
            followOff(tr("Follow Target turned off: the unit came to rest at %1 %2 %3, not at the target")
                          .arg(x)
                          .arg(y)
                          .arg(z));
    });
    // A plan's end says how it went; one that did not arrive stays.
    connect(&plans_, &MovePlans::finished, this, &Panel::moved);
    connect(&plans_, &MovePlans::retractedChanged, this, &Panel::save);
    connect(&link_, &DeviceLink::pollFailed, this, [this](const QString &message) { lastFailure_ = message; });
    // The targets are another device's, or another connection's.
    connect(&link_, &DeviceLink::forgetting, this, [this] { followOff(QString()); });
    connect(&coordinates_, &Coordinates::changed, this, &Panel::frameChanged);
    connect(&link_, &DeviceLink::deviceChanged, this, &Panel::frameChanged);
    connect(&link_, &DeviceLink::deviceSelected, this, [this](int n) {
        settings_.setDevice(n);
        save();
    });
}

Panel::~Panel() = default;

QString Panel::settingsFile() const
{
    return SettingsStore::fileName();
}

// ---------------------------------------------------------------------------
// What is kept between runs

QString Panel::load(const QString &notSavingReason)
{
    if (!notSavingReason.isEmpty())
        settings_.store().switchSavingOff(notSavingReason);
    padGroup_ = settings_.load(&standing_);
    // Every row also goes to the day's file; a journal that cannot be
    // written turns itself off and says so, holding up nothing.
    journalWriter_ = std::make_unique<JournalWriter>(journal_, JournalWriter::defaultFolder());
    connect(journalWriter_.get(), &JournalWriter::turnedOff, this, [this](const QString &message) {
        standing_ = standing_.isEmpty() ? message : standing_ + QStringLiteral("; ") + message;
        emit standingChanged(standing_);
    });
    emit limitsChanged();
    return standing_;
}

ActResult Panel::setPadGroup(const QVariantMap &group)
{
    padGroup_ = group;
    return save();
}

ActResult Panel::save()
{
    settings_.saveLater(padGroup_);
    return ActResult::done(QString());
}

ActResult Panel::waitForSaves()
{
    const SaveResult result = settings_.waitForSaves();
    return result.kind == SaveResult::Kind::Saved ? ActResult::done(QString()) : ActResult::failed(result.message);
}

ActResult Panel::report(const ActResult &result, About about)
{
    if (result.kind == ActResult::Kind::Failed)
        lastFailure_ = result.message;
    emit reported(result, about);
    return result;
}

// ---------------------------------------------------------------------------
// The connection

ActResult Panel::open(const QString &port)
{
    if (!port.isEmpty()) {
        PortSettings settings = link_.portSettings();
        settings.port = port;
        link_.setPortSettings(settings);
    }
    followOff(QString());
    return report(link_.open());
}

ActResult Panel::reconnect()
{
    followOff(QString());
    return report(link_.reconnect());
}

ActResult Panel::selectDevice(int n)
{
    return report(link_.selectDevice(n));
}

ActResult Panel::applyPortSettings(const PortSettings &settings)
{
    const PortSettings before = link_.portSettings();
    link_.setPortSettings(settings);
    const ActResult saved = save();
    const PortSettings &now = link_.portSettings();
    const DeviceLink::State state = link_.state();
    if (now.port != before.port || now.timeout != before.timeout || state == DeviceLink::State::NotConnected
        || state == DeviceLink::State::Stopped)
        return reconnect();
    return saved;
}

// ---------------------------------------------------------------------------
// The targets and Follow Target

ActResult Panel::setTarget(int axis, int value)
{
    Xyz wanted{-1, -1, -1};
    wanted.at(axis) = value;
    if (!targets_.set(wanted) || !following_)
        return ActResult::done(QString());
    const JournalRow::Source source = JournalRow::Source::FollowTarget;
    // While someone else moves the unit, a send would drive the other axes
    // back against that move.
    if (const auto at = gate_.movingElsewhere()) {
        const QString why = tr("Follow Target turned off: the unit is moving at %1 %2 %3, not to the target")
                                .arg(at->at(0))
                                .arg(at->at(1))
                                .arg(at->at(2));
        followOff(why);
        return {ActResult::Kind::Refused, why};
    }
    return sendTargets(source);
}

ActResult Panel::sendTargets(JournalRow::Source source)
{
    gate_.setSource(source);
    const ActResult result = gate_.moveTo(targets_.values());
    // A move of the operator's replaces a plan under way; a refused one does not.
    if (result.ok())
        plans_.abort(tr("Replaced by another move"));
    return moved(result);
}

ActResult Panel::gotoTargets(JournalRow::Source source)
{
    if (gate_.limits().ordered) {
        gate_.setSource(source);
        const ActResult result = moved(plans_.go(targets_.values()));
        link_.resumePolling();
        return result;
    }
    const ActResult result = sendTargets(source);
    link_.resumePolling();
    return result;
}

ActResult Panel::gotoTargets(int x, int y, int z)
{
    // Refused before the targets change, so no view ever shows it.
    const ActResult checked = gate_.checkMove({x, y, z});
    if (!checked.ok()) {
        // Refused before the targets change, and journaled as refused.
        gate_.setSource(JournalRow::Source::Script);
        gate_.moveTo({x, y, z});
        return moved(checked);
    }
    targets_.set(x, y, z);
    return gotoTargets(JournalRow::Source::Script);
}

ActResult Panel::setFollowing(bool on)
{
    if (!on) {
        followOff(QString());
        return ActResult::done(QString());
    }
    const std::optional<Xyz> live = link_.liveReading();
    if (!live) {
        followOff(tr("Follow Target needs a live reading of the position"));
        return {ActResult::Kind::NoReading, tr("Follow Target needs a live reading of the position")};
    }
    targets_.set(*live);
    gate_.takeAsInForce(*live);
    following_ = true;
    emit followingChanged(true);
    return report(ActResult::done(tr("Follow Target on: the targets are the position now")));
}

// Follow Target goes off without a send; `why`, when given, stays in the
// status bar.
void Panel::followOff(const QString &why)
{
    const bool was = following_;
    following_ = false;
    if (was)
        emit followingChanged(false);
    if (!why.isEmpty())
        report(ActResult::failed(why));
}

ActResult Panel::copy()
{
    // Only a reading of this connection and device that polling keeps live is
    // the position now: a greyed or left-over readout copied under Follow
    // Target would send the manipulator back to where it no longer is.
    const std::optional<Xyz> live = link_.liveReading();
    if (!live)
        return report({ActResult::Kind::Refused, tr("No live position to copy")});
    // Under Follow Target the copied target is sent once, whole; a failed
    // send keeps its message.
    if (targets_.set(*live) && following_) {
        const ActResult sent = sendTargets(JournalRow::Source::Copy);
        if (!sent.ok())
            return sent;
    }
    return report(ActResult::done(tr("Current position copied into target values")));
}

ActResult Panel::restore()
{
    Xyz target;
    const ActResult restored = gate_.lastTarget(&target);
    if (restored.ok() && targets_.set(target) && following_) {
        const ActResult sent = sendTargets(JournalRow::Source::Restore);
        if (!sent.ok())
            return sent;
    }
    return report(restored);
}

// ---------------------------------------------------------------------------
// Moves of their own

ActResult Panel::jog(int dx, int dy, int dz, bool repeated, JournalRow::Source source)
{
    // A step in micrometres shorter than half the unit's own.
    if (dx == 0 && dy == 0 && dz == 0)
        return moved({ActResult::Kind::OutOfRange, tr("The step is less than one of the unit's: nothing sent")});
    gate_.setSource(source);
    const ActResult result = gate_.jog(dx, dy, dz, repeated);
    if (result.kind == ActResult::Kind::Sent)
        plans_.abort(tr("Replaced by another move"));
    return moved(result);
}

ActResult Panel::jogReleased()
{
    return gate_.jogUnderWay() ? halt() : ActResult::done(QString());
}

ActResult Panel::halt()
{
    const ActResult result = gate_.halt();
    // After the halt itself is told, so whoever waits for a plan hears of the halt first.
    plans_.abort(tr("Halted"));
    return moved(result);
}

ActResult Panel::retract()
{
    const ActResult result = moved(plans_.retract());
    link_.resumePolling();
    return result;
}

ActResult Panel::returnFromRetract()
{
    const ActResult result = moved(plans_.returnFromRetract());
    link_.resumePolling();
    return result;
}

ActResult Panel::setUnits(Coordinates::Units units)
{
    coordinates_.setUnits(units);
    save();
    return report(ActResult::done(tr("Positions shown in %1").arg(DeviceFrame::unitName(units))));
}

ActResult Panel::setZero()
{
    const std::optional<Xyz> live = link_.liveReading();
    if (!live)
        return report({ActResult::Kind::NoReading, tr("No live position to take as the zero")});
    DeviceFrame frame = this->frame();
    frame.zero = *live;
    coordinates_.setFrame(link_.device(), frame);
    save();
    return report(ActResult::done(tr("Zero set at %1 %2 %3 on device %4")
                                      .arg(live->at(0))
                                      .arg(live->at(1))
                                      .arg(live->at(2))
                                      .arg(link_.device())));
}

ActResult Panel::clearZero()
{
    DeviceFrame frame = this->frame();
    if (!frame.zero)
        return report({ActResult::Kind::Refused, tr("No zero set on device %1").arg(link_.device())});
    frame.zero.reset();
    coordinates_.setFrame(link_.device(), frame);
    save();
    return report(
        ActResult::done(tr("Zero cleared on device %1: positions from the unit's own 0").arg(link_.device())));
}

ActResult Panel::setFrame(int device, const DeviceFrame &frame)
{
    if (device < minDevice || device > maxDevice)
        return report({ActResult::Kind::OutOfRange, tr("No device %1").arg(device)});
    for (double scale : frame.scale) {
        if (!(scale > 0) || !std::isfinite(scale))
            return report({ActResult::Kind::OutOfRange, tr("A scale must be above 0 steps per µm")});
    }
    if (!(frame.angle >= 0 && frame.angle <= 90))
        return report({ActResult::Kind::OutOfRange, tr("The pipette's angle must lie within 0..90 degrees")});
    if (frame.zero && !MoveGate::checkTarget(*frame.zero).ok())
        return report({ActResult::Kind::OutOfRange, tr("A zero must lie within the travel")});
    coordinates_.setFrame(device, frame);
    save();
    return report(ActResult::done(tr("Device %1: %2 %3 %4 steps per µm, pipette at %5° in the %6 plane")
                                      .arg(device)
                                      .arg(frame.scale[0])
                                      .arg(frame.scale[1])
                                      .arg(frame.scale[2])
                                      .arg(frame.angle)
                                      .arg(frame.toGroup().value(QStringLiteral("plane")).toString().toUpper())));
}

ActResult Panel::advance(double distance, Coordinates::Units units, JournalRow::Source source)
{
    const DeviceFrame frame = this->frame();
    const Xyz step = frame.along(distance, units);
    const QString amount = QStringLiteral("%1 %2").arg(std::abs(distance)).arg(DeviceFrame::unitName(units));
    const QString what = distance < 0 ? tr("Withdraw by %1").arg(amount) : tr("Advance by %1").arg(amount);
    if (step == Xyz{0, 0, 0})
        return report({ActResult::Kind::OutOfRange, tr("%1 is less than a step").arg(what)});
    QString failure;
    const std::optional<Xyz> from = link_.positionNow(&failure);
    if (!from)
        return moved(ActResult::failed(failure));
    Xyz target;
    for (int axis = 0; axis < 3; ++axis)
        target[axis] = from->at(axis) + step[axis];
    gate_.setSource(source);
    ActResult result = gate_.moveTo(target);
    link_.resumePolling();
    if (result.kind == ActResult::Kind::Sent) {
        plans_.abort(tr("Replaced by another move"));
        result.message = tr("%1 along the pipette: to %2 %3 %4").arg(what).arg(target[0]).arg(target[1]).arg(target[2]);
    } else if (!result.ok()) {
        result.message = tr("%1 not sent: %2").arg(what, result.message);
    }
    return moved(result);
}

ActResult Panel::setLimits(const TravelLimits &limits)
{
    const ActResult result = report(gate_.setLimits(limits));
    if (!result.ok())
        return result;
    settings_.keepLimits();
    // A plan's stages were checked against the limits before.
    plans_.stopWhereItIs(tr("the limits changed"));
    emit limitsChanged();
    save();
    return result;
}

// ---------------------------------------------------------------------------
// The named positions

// Puts entry `row` into the targets. Without such an entry that is Unknown,
// with no message; another device's entry is refused and changes nothing.
ActResult Panel::fill(int row)
{
    if (row < 0 || row >= positions_.rowCount())
        return {ActResult::Kind::Unknown, QString()};
    const Position &p = positions_.at(row);
    // Another device's site, sent to this one, would drive it somewhere nobody meant.
    const int device = link_.device();
    if (!p.isFor(device))
        return report({ActResult::Kind::Refused,
                       tr("Position %1 belongs to device %2, not to device %3: nothing sent")
                           .arg(p.name)
                           .arg(p.device)
                           .arg(device)});
    // A negative coordinate stands for the lower end of the travel here.
    targets_.set(qMax(0, p.x), qMax(0, p.y), qMax(0, p.z));
    emit entryRecalled(row, p.name);
    return ActResult::done(QString());
}

ActResult Panel::recall(int row)
{
    const ActResult filled = fill(row);
    if (!filled.ok())
        return filled;
    return report(ActResult::done(tr("Position %1 restored").arg(positions_.at(row).name)));
}

ActResult Panel::choose(int row)
{
    if (!following_)
        return recall(row);
    const ActResult filled = fill(row);
    if (!filled.ok())
        return filled;
    return gotoTargets(JournalRow::Source::ListEntry);
}

ActResult Panel::gotoNamedPosition(const QString &name)
{
    const int row = positions_.find(name);
    if (row < 0)
        return {ActResult::Kind::Unknown, tr("No position named %1").arg(name)};
    // Recalled without a send of its own; Goto sends it.
    const ActResult recalled = recall(row);
    if (!recalled.ok())
        return recalled;
    return gotoTargets(JournalRow::Source::Script);
}

ActResult Panel::store(const QString &typed, PositionModel::StoreMatch match)
{
    // "Site B " is "Site B": white space at either end is no part of a name.
    const QString name = typed.trimmed();
    if (!name.isEmpty() || match == PositionModel::StoreMatch::NameOnly) {
        const ActResult checked = PositionModel::checkName(name);
        if (!checked.ok())
            return report(checked);
    }
    const auto [x, y, z] = targets_.values();
    const int device = link_.device();
    const PositionModel::StoreResult stored = positions_.plan(name, x, y, z, device, match);
    if (stored.outcome == PositionModel::StoreOutcome::Elsewhere)
        return report({ActResult::Kind::Refused, positions_.describe(stored)});
    if (stored.changed())
        history_.store(stored, x, y, z, device);
    if (!name.isEmpty())
        emit nameStored(name);
    const ActResult result = report(ActResult::done(positions_.describe(stored)));
    if (stored.changed())
        save();
    return result;
}

ActResult Panel::remove(int row)
{
    if (row < 0 || row >= positions_.rowCount())
        return {ActResult::Kind::Unknown, QString()};
    const QString name = positions_.at(row).name;
    history_.remove(row);
    // The device's entry in its place goes into the targets, except under
    // Follow Target, where that would send it.
    if (!following_)
        recall(positions_.nearestFor(row, link_.device()));
    save();
    return report(ActResult::done(tr("Position %1 removed").arg(name)));
}

ActResult Panel::step(bool back)
{
    const std::optional<PositionHistory::Step> step = history_.step(back);
    if (!step)
        return ActResult::done(QString());
    emit entryChanged(positions_.nearestFor(step->row, link_.device()));
    save();
    return report(ActResult::done((back ? tr("Undone: %1") : tr("Redone: %1")).arg(step->change)));
}
