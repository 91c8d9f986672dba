#ifndef MOVESEQUENCE_H
#define MOVESEQUENCE_H

#include "actresult.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>

// A plan of moves in stages, made for one act: each stage is sent once the
// one before has arrived, seen in the readings. A plan ends, never to send
// again, as soon as its moment has passed: the unit comes to rest short of
// the stage's target (two equal readings away from it, once the move has had
// time to start), a reading shows a move the plan did not send (off the way
// from the stage's start to its target), the stage's time runs out, a send
// fails, or its owner aborts it (a halt, another move, a device, connection
// or limits change). Every end goes through finished().
class MoveSequence : public QObject
{
    Q_OBJECT

public:
    using Xyz = std::array<int, 3>;

    struct Stage
    {
        QString name; // "retract", "lateral" or "approach"
        Xyz target;
    };

    // Sends a stage's target; the gate, with its checks.
    using Send = std::function<ActResult(const Xyz &)>;

    // How long a stage may take: `startTime` ms and a step per ms at
    // `slowestSpeed` steps per second; an unchanged reading counts as the
    // unit at rest once `restAfter` ms have passed since the send.
    struct Timing
    {
        int startTime = 3000;
        int slowestSpeed = 100;
        int restAfter = 500;
    };

    explicit MoveSequence(Send send, QObject *parent = nullptr);

    void setTiming(const Timing &timing) { timing_ = timing; }
    // How long a stage of `distance` steps may take to arrive, in ms.
    int boundFor(int distance) const;

    // Starts the stages of the plan called `plan` ("Goto", "Retract",
    // "Return") from `from`, the position now. Stages that would not move
    // the unit are left out. Returns what came of the first send.
    ActResult start(const QString &plan, const QList<Stage> &stages, const Xyz &from);
    bool isRunning() const { return current_ >= 0; }
    QString stage() const { return isRunning() ? stages_.at(current_).name : QString(); }

public slots:
    // A good reading: the stage under way arrives, goes on, or has ended.
    void takeReading(int x, int y, int z);
    // Ends the plan where it is, nothing more sent.
    void abort(const QString &why);
    // As abort(), saying in which stage and at `at`.
    void abortAt(const Xyz &at, const QString &why);

signals:
    void stageChanged(const QString &stage);
    // The plan ended: arrived (Done) or not (Failed, with why).
    void finished(const ActResult &result);

private:
    ActResult sendCurrent(const Xyz &from);
    // Ends the plan in the stage under way, at `at`, for `why`.
    void stop(const Xyz &at, const QString &why);
    void end(const ActResult &result);

    Send send_;
    Timing timing_;
    QString plan_;
    QList<Stage> stages_;
    int current_ = -1;
    Xyz stageFrom_{}; // where the stage under way started
    std::optional<Xyz> previous_; // the reading before, in this stage
    QElapsedTimer sinceSend_;
    QTimer deadline_;
};

#endif // MOVESEQUENCE_H
