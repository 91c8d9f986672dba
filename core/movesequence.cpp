#include "movesequence.h"

#include "travel.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdlib>

namespace {

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

int MoveSequence::boundFor(int steps) const
{
    return timing_.startTime + int(qint64(steps) * 1000 / qMax(1, timing_.slowestSpeed));
}

ActResult MoveSequence::start(const QString &plan, const QList<Stage> &stages, const Xyz &from)
{
    if (isRunning())
        abort(tr("Replaced by another move"));
    plan_ = plan;
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
    stageFrom_ = from;
    previous_.reset();
    sinceSend_.start();
    deadline_.start(boundFor(distance(from, s.target)));
    emit stageChanged(s.name);
    return sent;
}

void MoveSequence::takeReading(int x, int y, int z)
{
    if (!isRunning())
        return;
    const Xyz reading{x, y, z};
    const Xyz target = stages_.at(current_).target;
    if (reading == target) {
        if (++current_ == stages_.size()) {
            end(ActResult::done(tr("Arrived at %1 %2 %3").arg(x).arg(y).arg(z)));
            return;
        }
        sendCurrent(target);
        return;
    }
    if (!onTheWay(reading, stageFrom_, target)) {
        stop(reading, tr("the unit moved off its way"));
        return;
    }
    const bool atRest = previous_ && *previous_ == reading && sinceSend_.elapsed() >= timing_.restAfter;
    previous_ = reading;
    if (atRest)
        stop(reading, tr("the unit stopped short"));
}

void MoveSequence::stop(const Xyz &at, const QString &why)
{
    end(ActResult::failed(tr("%1 stopped in the %2 stage at %3 %4 %5: %6")
                              .arg(plan_, stages_.at(current_).name)
                              .arg(at[0])
                              .arg(at[1])
                              .arg(at[2])
                              .arg(why)));
}

void MoveSequence::abort(const QString &why)
{
    if (isRunning())
        end(ActResult::failed(why));
}

void MoveSequence::abortAt(const Xyz &at, const QString &why)
{
    if (isRunning())
        stop(at, why);
}

void MoveSequence::end(const ActResult &result)
{
    deadline_.stop();
    current_ = -1;
    stages_.clear();
    previous_.reset();
    emit stageChanged(QString());
    emit finished(result);
}
