#ifndef PANELCLIENT_H
#define PANELCLIENT_H

#include "kesmarcontrolproxy.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QDBusPendingCall;

// The running panel as the command-line client reaches it on the session bus.
// Failures keep the message to print in error().
class PanelClient : public QObject
{
    Q_OBJECT

public:
    // False when no panel is running or there is no session bus.
    bool connectToPanel();
    KesmarControlProxy &panel() { return *proxy_; }

    // Waits for the reply; false with the panel's message on a failure.
    bool check(QDBusPendingCall call);
    // Runs the event loop until a reading equals `target` (true) or `timeoutMs`
    // pass, the panel closes or its polling stops (false). Readings are counted
    // from connectToPanel() on, so a wait after a call sees what came since.
    bool waitForPosition(const QList<int> &target, int timeoutMs);
    // Prints a line for every reading and for every change of the connection
    // state, the panel's going away and coming back included, until the
    // process is interrupted.
    void watch(bool csv);

    QString error() const { return error_; }

signals:
    void panelClosed();
    // The panel is on the bus again after it closed.
    void panelReturned();

private:
    std::unique_ptr<KesmarControlProxy> proxy_;
    QList<int> reading_;
    QString error_;
};

#endif // PANELCLIENT_H
