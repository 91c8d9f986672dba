#ifndef STATUSMESSAGES_H
#define STATUSMESSAGES_H

#include "actresult.h"

#include <QObject>
#include <QString>

class QStatusBar;

// The main window's status bar as the one place that shows what came of the
// operator's acts, deciding by a result's kind how long it stays: a failure
// until something replaces it (or, for some, until it mends), anything else
// for a second. A standing message, when set, shows whenever no other does.
// A message too long for the window is read whole in the tool tip.
class StatusMessages : public QObject
{
    Q_OBJECT

public:
    // Which failure a message that stays tells of: a failed move's message
    // is not replaced by failed polls, a failed poll's goes with the next good
    // one, a failed save's with the next good save.
    enum class Failure
    {
        None,
        Move,
        Poll,
        Save,
        Other
    };

    explicit StatusMessages(QStatusBar *bar);

    void report(const ActResult &result, Failure failure = Failure::Other);
    // A failed poll shows unless a failed move's message stays: the operator
    // must see that the manipulator was not sent.
    void reportPollFailure(const QString &message);
    // The message of a failure that has mended goes, unless another replaced it.
    void clearFailure(Failure failure);
    // What the whole run must know, such as that nothing is saved; shown at once.
    void setStanding(const QString &message);
    // The last failure message, shown or not; empty before the first.
    QString lastFailure() const { return lastFailure_; }

private:
    QStatusBar *bar_;
    Failure shown_ = Failure::None;
    QString lastFailure_;
    QString standing_;
};

#endif // STATUSMESSAGES_H
