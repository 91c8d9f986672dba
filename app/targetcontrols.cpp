#include "targetcontrols.h"

#include "inputguard.h"
#include "statusmessages.h"
#include "travel.h"

#include <QCheckBox>
#include <QPointer>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>

using Failure = StatusMessages::Failure;

TargetControls::TargetControls(const Widgets &widgets, DeviceLink &link, StatusMessages &messages, QObject *parent)
    : QObject(parent)
    , ui_(widgets)
    , link_(link)
    , messages_(messages)
{
    showLimits();
    auto *guard = new InputGuard(this);
    for (int axis = 0; axis < 3; ++axis) {
        ui_.sliders[axis]->setPageStep(2050);
        ui_.sliders[axis]->setValue(ui_.boxes[axis]->value());
        connect(ui_.sliders[axis], &QSlider::valueChanged, ui_.boxes[axis], &QSpinBox::setValue);
        connect(ui_.boxes[axis], QOverload<int>::of(&QSpinBox::valueChanged), ui_.sliders[axis], &QSlider::setValue);
        guard->watch(ui_.boxes[axis], QString(QChar(u'X' + axis)));
        guard->watch(ui_.sliders[axis]);
    }
    // Under Follow Target a typed value is sent by Enter only. The focus also
    // leaves a box while the window is taken down, after Follow Target is gone.
    guard->setRevertOnLeave([follow = QPointer<QCheckBox>(ui_.follow)] { return follow && follow->isChecked(); });
    connect(guard, &InputGuard::refused, this, [this](QSpinBox *, const QString &message) {
        messages_.report({ActResult::Kind::Refused, message});
    });
}

DeviceLink::Xyz TargetControls::values() const
{
    return {ui_.boxes[0]->value(), ui_.boxes[1]->value(), ui_.boxes[2]->value()};
}

bool TargetControls::set(int x, int y, int z)
{
    const QScopedValueRollback<bool> asOne(settingAsOne_, true);
    bool changed = false;
    const int values[] = {x, y, z};
    for (int axis = 0; axis < 3; ++axis) {
        if (values[axis] < 0)
            continue;
        // Nothing outside the travel is ever shown as a target.
        const int value = std::min(values[axis], positionMax);
        const int before = ui_.boxes[axis]->value();
        fitRange(axis, value);
        ui_.boxes[axis]->setValue(value);
        ui_.sliders[axis]->setValue(value);
        changed = changed || ui_.boxes[axis]->value() != before;
    }
    return changed;
}

void TargetControls::showLimits()
{
    const DeviceLink::Xyz shown = values();
    for (int axis = 0; axis < 3; ++axis)
        fitRange(axis, shown[axis]);
}

void TargetControls::fitRange(int axis, int value)
{
    const QScopedValueRollback<bool> asOne(settingAsOne_, true);
    const TravelLimits &limits = link_.limits();
    const int low = limits.enabled ? limits.min[axis] : 0;
    const int high = limits.enabled ? limits.max[axis] : positionMax;
    ui_.boxes[axis]->setRange(std::min(low, value), std::max(high, value));
    ui_.sliders[axis]->setRange(std::min(low, value), std::max(high, value));
    const QString band = limits.enabled
        ? tr("%1 limits %2..%3 (File > Limits)").arg(QChar(u'X' + axis)).arg(low).arg(high)
        : tr("%1: no limits set, 0..%2").arg(QChar(u'X' + axis)).arg(positionMax);
    ui_.sliders[axis]->setToolTip(band);
    ui_.boxes[axis]->setToolTip(band);
}

// ---------------------------------------------------------------------------
// Follow Target, Copy and Restore

bool TargetControls::following() const
{
    return ui_.follow->isChecked();
}

// Turning Follow Target on takes the position now as the target, so the
// first change sends only the axis changed; without a live reading it stays off.
void TargetControls::followToggled(bool on)
{
    if (!on)
        return;
    const std::optional<DeviceLink::Xyz> live = link_.liveReading();
    if (!live) {
        followOff(tr("Follow Target needs a live reading of the position"));
        return;
    }
    set(live->at(0), live->at(1), live->at(2));
    messages_.report(ActResult::done(tr("Follow Target on: the targets are the position now")));
}

void TargetControls::followOff(const QString &why)
{
    if (!ui_.follow->isChecked() && why.isEmpty())
        return;
    {
        const QSignalBlocker quiet(ui_.follow);
        ui_.follow->setChecked(false);
    }
    if (!why.isEmpty())
        messages_.report(ActResult::failed(why));
}

void TargetControls::boxChanged()
{
    if (!settingAsOne_ && following())
        send();
}

ActResult TargetControls::send()
{
    const ActResult result = link_.moveTo(values());
    messages_.report(result, Failure::Move);
    return result;
}

void TargetControls::copy()
{
    // Only a reading of this connection and device that polling keeps live is
    // the position now: a greyed or left-over readout copied under Follow
    // Target would send the manipulator back to where it no longer is.
    const std::optional<DeviceLink::Xyz> live = link_.liveReading();
    if (!live) {
        messages_.report({ActResult::Kind::Refused, tr("No live position to copy")});
        return;
    }
    // Under Follow Target the copied target is sent once, whole; a failed
    // send keeps its message.
    if (set(live->at(0), live->at(1), live->at(2)) && following() && !send().ok())
        return;
    messages_.report(ActResult::done(tr("Current position copied into target values")));
}

void TargetControls::restore()
{
    DeviceLink::Xyz target;
    const ActResult restored = link_.lastTarget(&target);
    if (restored.ok() && set(target[0], target[1], target[2]) && following() && !send().ok())
        return;
    messages_.report(restored);
}
