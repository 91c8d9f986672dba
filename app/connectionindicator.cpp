#include "connectionindicator.h"

#include "devicelink.h"

ConnectionIndicator::ConnectionIndicator(const DeviceLink &link, QWidget *parent)
    : QToolButton(parent)
    , link_(link)
{
    setObjectName(QStringLiteral("connectionIndicator"));
    setAutoRaise(true);
    connect(&link, &DeviceLink::stateChanged, this, &ConnectionIndicator::refresh);
    connect(&link, &DeviceLink::deviceChanged, this, &ConnectionIndicator::refresh);
    // While the readings are live there is nothing to repair.
    connect(this, &QToolButton::clicked, this, [this] {
        if (link_.state() != DeviceLink::State::Reading)
            emit reconnectRequested();
    });
    refresh();
}

void ConnectionIndicator::refresh()
{
    const DeviceLink::State state = link_.state();
    const QString word = tr(DeviceLink::stateWord(state));
    const QString device = QString::number(link_.device());
    const QString portName = link_.portSettings().port;
    // A long port name keeps its distinctive end in the text and shows whole
    // in the tool tip, so it cannot widen the window.
    const QString port = fontMetrics().elidedText(portName, Qt::ElideLeft, 300);
    setText(tr("%1, device %2: %3").arg(port, device, word));
    const QString whole = tr("%1, device %2: %3").arg(portName, device, word);
    if (state == DeviceLink::State::Reading)
        setToolTip(whole);
    else
        setToolTip(whole + QLatin1Char('\n') + link_.failure() + QLatin1Char('\n') + tr("Click to reconnect."));
}
