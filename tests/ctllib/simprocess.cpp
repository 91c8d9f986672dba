#include "simprocess.h"

#include <QDeadlineTimer>

SimProcess::SimProcess()
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SimProcess::~SimProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(ReactionMs)) {
            process_.kill();
            process_.waitForFinished(ReactionMs);
        }
    }
}

bool SimProcess::start(const QStringList &arguments, const QString &link)
{
    linkPath_ = link.isEmpty() ? dir_.filePath(QStringLiteral("kesmarsim")) : link;
    QStringList args{QStringLiteral("--link"), linkPath_, QStringLiteral("--exit-on-eof")};
    args += arguments;
    process_.start(QStringLiteral(KESMARSIM_PATH), args);
    if (!process_.waitForStarted(ReactionMs)) {
        lastError_ = QStringLiteral("kesmarsim did not start: ") + process_.errorString();
        return false;
    }
    ptyPath_ = readLine();
    if (!ptyPath_.startsWith(QLatin1Char('/'))) {
        lastError_ = QStringLiteral("kesmarsim printed no terminal path but '%1'").arg(ptyPath_);
        return false;
    }
    return true;
}

QString SimProcess::readLine()
{
    const QDeadlineTimer deadline(ReactionMs);
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
            return {};
        process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
    return QString::fromUtf8(process_.readLine()).trimmed();
}

QString SimProcess::command(const QString &line)
{
    lastOutput_.clear();
    process_.write(line.toUtf8() + '\n');
    process_.waitForBytesWritten(ReactionMs);
    for (;;) {
        const QString answer = readLine();
        if (answer.isEmpty() || answer.startsWith(QLatin1String("ok")) || answer.startsWith(QLatin1String("error")))
            return answer;
        lastOutput_ << answer;
    }
}

bool SimProcess::stop()
{
    process_.terminate();
    return waitForExit();
}

bool SimProcess::waitForExit()
{
    return process_.state() == QProcess::NotRunning || process_.waitForFinished(ReactionMs);
}
