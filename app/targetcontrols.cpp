#include "targetcontrols.h"

#include "coordinatebox.h"
#include "inputguard.h"
#include "panel.h"
#include "statusmessages.h"
#include "travel.h"

#include <QCheckBox>
#include <QPointer>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>

TargetControls::TargetControls(const Widgets &widgets, Panel &panel, StatusMessages &messages, QObject *parent)
    : QObject(parent)
    , ui_(widgets)
    , panel_(panel)
{
    auto *guard = new InputGuard(this);
    for (int axis = 0; axis < 3; ++axis) {
        ui_.sliders[axis]->setPageStep(2050);
        connect(ui_.sliders[axis], &QSlider::valueChanged, ui_.boxes[axis], &QSpinBox::setValue);
        connect(ui_.boxes[axis], QOverload<int>::of(&QSpinBox::valueChanged), ui_.sliders[axis], &QSlider::setValue);
        guard->watch(ui_.boxes[axis], QString(QChar(u'X' + axis)));
        guard->watch(ui_.sliders[axis]);
    }
    showFrame();
    const Targets::Xyz &now = panel_.targets().values();
    show(now[0], now[1], now[2]);
    connect(&panel_, &Panel::frameChanged, this, &TargetControls::showFrame);
    connect(&panel_.targets(), &Targets::changed, this, &TargetControls::show);
    connect(&panel_, &Panel::limitsChanged, this, &TargetControls::showLimits);
    connect(&panel_, &Panel::followingChanged, ui_.follow, [this](bool on) {
        const QSignalBlocker quiet(ui_.follow);
        ui_.follow->setChecked(on);
    });
    // Under Follow Target a typed value is sent by Enter only. The focus also
    // leaves a box while the window is taken down, after Follow Target is gone.
    guard->setRevertOnLeave([follow = QPointer<QCheckBox>(ui_.follow)] { return follow && follow->isChecked(); });
    connect(guard, &InputGuard::refused, &messages, [&messages](QSpinBox *, const QString &message) {
        messages.report({ActResult::Kind::Refused, message});
    });
}

void TargetControls::show(int x, int y, int z)
{
    const QScopedValueRollback<bool> showing(showing_, true);
    const int values[] = {x, y, z};
    for (int axis = 0; axis < 3; ++axis) {
        fitRange(axis, values[axis]);
        ui_.boxes[axis]->setValue(values[axis]);
        ui_.sliders[axis]->setValue(values[axis]);
    }
}

void TargetControls::showLimits()
{
    const Targets::Xyz &shown = panel_.targets().values();
    for (int axis = 0; axis < 3; ++axis)
        fitRange(axis, shown[axis]);
}

void TargetControls::showFrame()
{
    const QScopedValueRollback<bool> showing(showing_, true);
    const DeviceFrame frame = panel_.frame();
    for (int axis = 0; axis < 3; ++axis)
        ui_.boxes[axis]->setCoordinates(frame, axis, panel_.coordinates().units());
    showLimits();
}

void TargetControls::fitRange(int axis, int value)
{
    const QScopedValueRollback<bool> showing(showing_, true);
    const TravelLimits &limits = panel_.limits();
    const int low = limits.enabled ? limits.min[axis] : 0;
    const int high = limits.enabled ? limits.max[axis] : positionMax;
    ui_.boxes[axis]->setRange(std::min(low, value), std::max(high, value));
    ui_.sliders[axis]->setRange(std::min(low, value), std::max(high, value));
    const CoordinateBox *box = ui_.boxes[axis];
    // Micrometres are named; steps, the unit's own, are not.
    const QString unit = panel_.coordinates().units() == DeviceFrame::Units::Micrometres
        ? QLatin1Char(' ') + DeviceFrame::unitName(DeviceFrame::Units::Micrometres)
        : QString();
    const QString band = limits.enabled ? tr("%1 limits %2..%3%4 (File > Limits)")
                                              .arg(QChar(u'X' + axis))
                                              .arg(box->shownText(low), box->shownText(high), unit)
                                        : tr("%1: no limits set, %2..%3%4")
                                              .arg(QChar(u'X' + axis))
                                              .arg(box->shownText(0), box->shownText(positionMax), unit);
    ui_.sliders[axis]->setToolTip(band);
    ui_.boxes[axis]->setToolTip(band);
}

void TargetControls::boxChanged(int axis)
{
    // Under Follow Target the edit is sent: right after a failed call, only
    // once the event loop has run (see DeviceLink::whenFree).
    if (!showing_) {
        const int value = ui_.boxes[axis]->value();
        panel_.link().whenFree(this, [this, axis, value] { panel_.setTarget(axis, value); });
    }
}

void TargetControls::followToggled(bool on)
{
    panel_.setFollowing(on);
    // Left off when it could not be turned on.
    if (panel_.following() != on) {
        const QSignalBlocker quiet(ui_.follow);
        ui_.follow->setChecked(panel_.following());
    }
}
