#include "movesequence.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdlib>

namespace {

// The slowest a unit is taken to travel, in steps per second, and the time a
// move may take to start, in ms.
constexpr int slowestSpeed = 100;
constexpr int startTime = 3000;

int distance(const MoveSequence::Xyz &a, const MoveSequence::Xyz &b)
{
    int most = 0;
    for (int i = 0; i < 3; ++i)
        most = std::max(most, std::abs(a[i] - b[i]));
    return most;
}

} // namespace

MoveSequence::MoveSequence(Send send, QObject *parent)
    : QObject(parent)
    , send_(std::move(send))
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        const Stage &s = stages_.at(current_);
        abort(tr("The %1 stage did not reach %2 %3 %4 within %5 s; nothing more was sent")
                  .arg(s.name)
                  .arg(s.target[0])
                  .arg(s.target[1])
                  .arg(s.target[2])
                  .arg(deadline_.interval() / 1000));
    });
}

int MoveSequence::boundFor(int steps)
{
    return startTime + int(qint64(steps) * 1000 / slowestSpeed);
}

ActResult MoveSequence::start(const QList<Stage> &stages, const Xyz &from)
{
    if (isRunning())
        abort(tr("Replaced by another move"));
    stages_.clear();
    Xyz at = from;
    for (const Stage &s : stages) {
        if (s.target == at)
            continue;
        stages_.append(s);
        at = s.target;
    }
    if (stages_.isEmpty())
        return ActResult::done(tr("Already there"));
    current_ = 0;
    return sendCurrent(from);
}

ActResult MoveSequence::sendCurrent(const Xyz &from)
{
    const Stage &s = stages_.at(current_);
    const ActResult sent = send_(s.target);
    if (!sent.ok()) {
        end(sent);
        return sent;
    }
    deadline_.start(boundFor(distance(from, s.target)));
    emit stageChanged(s.name);
    return sent;
}

void MoveSequence::takeReading(int x, int y, int z)
{
    if (!isRunning() || stages_.at(current_).target != Xyz{x, y, z})
        return;
    const Xyz arrived = stages_.at(current_).target;
    if (++current_ == stages_.size()) {
        end(ActResult::done(tr("Arrived at %1 %2 %3").arg(x).arg(y).arg(z)));
        return;
    }
    sendCurrent(arrived);
}

void MoveSequence::abort(const QString &why)
{
    if (isRunning())
        end(ActResult::failed(why));
}

void MoveSequence::end(const ActResult &result)
{
    deadline_.stop();
    current_ = -1;
    stages_.clear();
    emit stageChanged(QString());
    emit finished(result);
}
