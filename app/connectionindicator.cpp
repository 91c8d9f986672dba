#include "connectionindicator.h"

#include "panel.h"

#include <QKeyEvent>

ConnectionIndicator::ConnectionIndicator(const Panel &panel, QWidget *parent)
    : QToolButton(parent)
    , panel_(panel)
{
    const DeviceLink &link = panel.link();
    setObjectName(QStringLiteral("connectionIndicator"));
    setAutoRaise(true);
    connect(&link, &DeviceLink::stateChanged, this, &ConnectionIndicator::refresh);
    connect(&link, &DeviceLink::deviceChanged, this, &ConnectionIndicator::refresh);
    connect(&panel.plans(), &MovePlans::stageChanged, this, &ConnectionIndicator::refresh);
    connect(&panel, &Panel::limitsChanged, this, &ConnectionIndicator::refresh);
    connect(&panel, &Panel::frameChanged, this, &ConnectionIndicator::refresh);
    // While the readings are live there is nothing to repair.
    connect(this, &QToolButton::clicked, this, [this] {
        if (panel_.link().state() != DeviceLink::State::Reading)
            emit reconnectRequested();
    });
    refresh();
}

void ConnectionIndicator::refresh()
{
    const DeviceLink &link = panel_.link();
    const DeviceLink::State state = link.state();
    const QString word = tr(DeviceLink::stateWord(state));
    const QString device = QString::number(link.device());
    const QString portName = link.portSettings().port;
    // A long port name keeps its distinctive end in the text and shows whole
    // in the tool tip, so it cannot widen the window.
    const QString port = fontMetrics().elidedText(portName, Qt::ElideLeft, 300);
    // While a sequence moves the unit, its stage stands for the state.
    const QString stage = panel_.plans().stage();
    QString shown = stage.isEmpty() ? word : tr("moving: %1").arg(stage);
    // Positions read from a zero of the operator's own, which the readouts
    // alone do not tell.
    QString zero;
    if (const auto at = panel_.frame().zero) {
        shown += tr(", zero set");
        zero = QLatin1Char('\n')
            + tr("Positions from the zero at %1 %2 %3 (View > Clear zero)")
                  .arg(at->at(0))
                  .arg(at->at(1))
                  .arg(at->at(2));
    }
    setText(tr("%1, device %2: %3").arg(port, device, shown));
    const TravelLimits &limits = panel_.limits();
    const QString envelope = limits.enabled ? tr("Limits on: X %1..%2, Y %3..%4, Z %5..%6")
                                                  .arg(limits.min[0])
                                                  .arg(limits.max[0])
                                                  .arg(limits.min[1])
                                                  .arg(limits.max[1])
                                                  .arg(limits.min[2])
                                                  .arg(limits.max[2])
                                            : tr("Limits off");
    const QString whole = tr("%1, device %2: %3").arg(portName, device, shown) + QLatin1Char('\n') + envelope + zero;
    if (state == DeviceLink::State::Reading)
        setToolTip(whole);
    else
        setToolTip(whole + QLatin1Char('\n') + link.failure() + QLatin1Char('\n') + tr("Click to reconnect."));
}

// A tool button takes Space only (which is Halt here); Enter and Return press it as a click does.
void ConnectionIndicator::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        click();
        return;
    }
    QToolButton::keyPressEvent(event);
}
