#include "coordinateview.h"

#include "accessiblereadout.h"
#include "paddialog.h"
#include "panel.h"

#include <QAction>
#include <QActionGroup>
#include <QLCDNumber>
#include <QLabel>
#include <QStatusBar>

CoordinateView::CoordinateView(const Widgets &widgets, Panel &panel, QObject *parent)
    : QObject(parent)
    , ui_(widgets)
    , panel_(panel)
{
    auto *units = new QActionGroup(this);
    units->addAction(ui_.steps);
    units->addAction(ui_.micrometres);
    connect(ui_.steps, &QAction::triggered, &panel_, [this] { panel_.setUnits(DeviceFrame::Units::Steps); });
    connect(ui_.micrometres, &QAction::triggered, &panel_,
            [this] { panel_.setUnits(DeviceFrame::Units::Micrometres); });
    connect(ui_.zeroHere, &QAction::triggered, &panel_, &Panel::setZero);
    connect(ui_.clearZero, &QAction::triggered, &panel_, &Panel::clearZero);

    along_ = new QLabel(ui_.statusBar);
    along_->setObjectName(QStringLiteral("alongPipette"));
    along_->setToolTip(tr("Distance along the pipette from the zero (View > Distance along the pipette)"));
    ui_.statusBar->addPermanentWidget(along_);
    along_->setVisible(false);
    connect(ui_.showAlong, &QAction::toggled, this, [this](bool on) {
        along_->setVisible(on);
        showAlong();
    });

    DeviceLink &link = panel_.link();
    connect(&link, &DeviceLink::axisRead, this, [this](int axis) { showReading(axis); });
    connect(&link, &DeviceLink::positionRead, this, &CoordinateView::showAlong);
    connect(&panel_, &Panel::frameChanged, this, &CoordinateView::showFrame);
    showFrame();
}

void CoordinateView::setPad(PadDialog *pad)
{
    pad_ = pad;
    showFrame();
}

void CoordinateView::showReading(int axis)
{
    const QString text = panel_.frame().text(axis, panel_.link().readouts().at(axis), panel_.coordinates().units());
    AccessibleReadout::display(ui_.readouts[axis], text);
    if (pad_)
        pad_->showReading(axis, text);
}

void CoordinateView::showFrame()
{
    const DeviceFrame frame = panel_.frame();
    const DeviceFrame::Units units = panel_.coordinates().units();
    (units == DeviceFrame::Units::Micrometres ? ui_.micrometres : ui_.steps)->setChecked(true);
    ui_.clearZero->setEnabled(frame.zero.has_value());
    const int digits = frame.readoutDigits(units);
    for (int axis = 0; axis < 3; ++axis) {
        ui_.readouts[axis]->setDigitCount(digits);
        showReading(axis);
    }
    if (pad_) {
        pad_->setReadoutDigits(digits);
        pad_->setStepUnits(units == DeviceFrame::Units::Micrometres ? DeviceFrame::unitName(units) : QString());
    }
    showAlong();
}

void CoordinateView::showAlong()
{
    if (!along_->isVisible())
        return;
    const DeviceFrame::Units units = panel_.coordinates().units();
    const double distance = panel_.frame().alongDistance(panel_.link().readouts(), units);
    along_->setText(tr("Along the pipette: %1 %2")
                        .arg(QString::number(distance, 'f', units == DeviceFrame::Units::Steps ? 0 : 1),
                             DeviceFrame::unitName(units)));
}
