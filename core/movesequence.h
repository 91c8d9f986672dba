#ifndef MOVESEQUENCE_H
#define MOVESEQUENCE_H

#include "actresult.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <array>
#include <functional>

// A move in stages, each sent once the one before has arrived, seen in the
// readings: out along the retract axis, then sideways, then back in. A stage
// that does not arrive within a bound worked out from its distance ends the
// sequence, and nothing more is sent; so does a halt or a failed send.
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

    // Sends a stage's target; the link's gate, with its checks.
    using Send = std::function<ActResult(const Xyz &)>;

    explicit MoveSequence(Send send, QObject *parent = nullptr);

    // How long a stage of `distance` steps may take to arrive, in ms.
    static int boundFor(int distance);

    // Starts the stages from `from`, the position now. Stages that would not
    // move the unit are left out. Returns what came of the first send.
    ActResult start(const QList<Stage> &stages, const Xyz &from);
    bool isRunning() const { return current_ >= 0; }
    QString stage() const { return isRunning() ? stages_.at(current_).name : QString(); }

public slots:
    // A good reading: a stage whose target it is has arrived.
    void takeReading(int x, int y, int z);
    // Ends the sequence where it is, nothing more sent.
    void abort(const QString &why);

signals:
    void stageChanged(const QString &stage);
    // The sequence ended: arrived (Done) or not (Failed, with why).
    void finished(const ActResult &result);

private:
    ActResult sendCurrent(const Xyz &from);
    void end(const ActResult &result);

    Send send_;
    QList<Stage> stages_;
    int current_ = -1;
    QTimer deadline_;
};

#endif // MOVESEQUENCE_H
