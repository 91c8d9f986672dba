#include "instancelock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

QString lockPath(const QString &storeFile)
{
    const QFileInfo store(storeFile);
    return store.path() + QLatin1Char('/') + store.completeBaseName() + QStringLiteral(".lock");
}

} // namespace

InstanceLock::InstanceLock(const QString &storeFile)
    : storeFile(storeFile)
    , path(lockPath(storeFile))
    , file(path)
{
    // Only whether its owner still runs decides, never the lock's age.
    file.setStaleLockTime(0);
}

InstanceLock::Result InstanceLock::lock()
{
    QDir().mkpath(QFileInfo(path).path());
    // A folder, a pipe or a device where a lock file belongs: reading it as a
    // lock could wait for ever, and so would QSettings on its own lock.
    for (const QString &lockFile : {path, storeFile + QStringLiteral(".lock")}) {
        const QFileInfo info(lockFile);
        if ((info.exists() || info.isSymLink()) && !info.isFile()) {
            const QString shown = QDir::toNativeSeparators(lockFile);
            reason = info.isDir() ? tr("%1 is a folder where a lock file belongs").arg(shown)
                                  : tr("%1 is where a lock file belongs but is not a plain file").arg(shown);
            return Result::Failed;
        }
    }

    if (file.tryLock(0))
        return Result::Locked;
    if (file.error() == QLockFile::LockFailedError) {
        // QLockFile takes over a lock only when it names a process that is
        // gone; an empty or garbage one, as a power cut leaves, it would keep
        // for ever. Any lock that no running program holds open is taken
        // over; one that cannot even be opened was not made by this program.
        if (!file.removeStaleLockFile() && !QFile(path).open(QIODevice::ReadOnly))
            QFile::remove(path);
        if (file.tryLock(0))
            return Result::Locked;
    }
    if (file.error() == QLockFile::LockFailedError) {
        QString host;
        QString application;
        file.getLockInfo(&pid, &host, &application);
        return Result::HeldByOther;
    }
    reason = tr("cannot create the lock file %1 (%2)").arg(QDir::toNativeSeparators(path), whyNotCreated());
    return Result::Failed;
}

// The system's reason why a file like the lock cannot be made and written
// beside the store: no folder, no right to write, a full disk.
QString InstanceLock::whyNotCreated() const
{
    QTemporaryFile probe(path + QStringLiteral("-XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    if (probe.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n') < 0 || !probe.flush())
        return probe.errorString();
    return tr("it cannot be written");
}
