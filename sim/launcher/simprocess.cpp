#include "simprocess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

SimProcess::SimProcess(Waits waits)
    : waits_(waits)
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SimProcess::~SimProcess()
{
    if (!running())
        return;
    // SIGTERM ends it cleanly and removes the link, with or without its input.
    process_.terminate();
    if (!process_.waitForFinished(ReactionMs)) {
        process_.kill();
        process_.waitForFinished(ReactionMs);
    }
}

bool SimProcess::start(const QStringList &arguments, const QString &link)
{
    if (!link.isEmpty())
        linkPath_ = link;
    else if (linkPath_.isEmpty())
        linkPath_ = dir_.filePath(QStringLiteral("kesmarsim"));
    QStringList args{QStringLiteral("--link"), linkPath_, QStringLiteral("--exit-on-eof")};
    args += arguments;
    process_.start(QStringLiteral(KESMARSIM_PATH), args);
    ptyPath_ = readLine();
    if (!ptyPath_.startsWith(QLatin1Char('/'))) {
        lastError_
            = QStringLiteral("kesmarsim printed no terminal path but '%1' (%2)").arg(ptyPath_, process_.errorString());
        return false;
    }
    return true;
}

void SimProcess::pause(bool forOutput, qint64 remainingMs)
{
    const int ms = int(qBound<qint64>(1, remainingMs, 200));
    if (waits_ == Waits::Blocking) {
        if (forOutput)
            process_.waitForReadyRead(ms);
        else
            process_.waitForFinished(ms);
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (forOutput)
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
    else
        QObject::connect(&process_, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                         &QEventLoop::quit);
    loop.exec();
}

QString SimProcess::readLine()
{
    const QDeadlineTimer deadline(ReactionMs);
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || !running())
            return {};
        pause(true, deadline.remainingTime());
    }
    return QString::fromUtf8(process_.readLine()).trimmed();
}

QString SimProcess::command(const QString &line)
{
    lastOutput_.clear();
    process_.write(line.toUtf8() + '\n');
    for (;;) {
        const QString answer = readLine();
        if (answer.isEmpty() || answer.startsWith(QLatin1String("ok")) || answer.startsWith(QLatin1String("error")))
            return answer;
        lastOutput_ << answer;
    }
}

bool SimProcess::kill()
{
    process_.kill();
    return waitForExit();
}

bool SimProcess::stop()
{
    process_.terminate();
    return waitForExit();
}

bool SimProcess::waitForExit()
{
    const QDeadlineTimer deadline(ReactionMs);
    while (running() && !deadline.hasExpired())
        pause(false, deadline.remainingTime());
    return !running();
}
