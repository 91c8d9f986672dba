#ifndef PANELCLIENT_H
#define PANELCLIENT_H

#include "kesmarcontrolproxy.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <memory>
#include <optional>

#include <functional>

class QDBusPendingCall;

// `text` with every character for which `escape` holds written as \uXXXX.
QString escaped(const QString &text, const std::function<bool(QChar)> &escape);

// Text from the bus as the terminal should get it: every control character
// (an escape sequence, a line break, a bell) written as \uXXXX, so the panel
// cannot move the cursor, recolour or clear the screen of whoever reads it.
QString printable(const QString &text);

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
    // Runs the event loop until an ordered move that started after
    // connectToPanel() ends: true when it arrived; false when it did not
    // (its message), on a halt ("halted"), when the panel closes or
    // `timeoutMs` pass.
    bool waitForSequence(int timeoutMs);
    // Prints a line for every reading and for every change of the connection
    // state, the panel's going away and coming back included, until the
    // process is interrupted.
    void watch(bool csv);
    // Prints the journal's last `n` rows, oldest first, a line each (as CSV
    // with a header line when `csv`). With `follow` it goes on with a line
    // for every new row and for every end of a move, until interrupted.
    // False with the panel's message when the journal cannot be read.
    bool printJournal(int n, bool csv, bool follow);

    QString error() const { return error_; }

signals:
    void panelClosed();
    // The panel is on the bus again after it closed.
    void panelReturned();

private:
    std::unique_ptr<KesmarControlProxy> proxy_;
    QList<int> reading_;
    // The stages seen since connectToPanel(), and how the last one ended.
    bool sawStage_ = false;
    std::optional<QPair<bool, QString>> sequenceEnd_;
    QString error_;
};

#endif // PANELCLIENT_H
