#ifndef INSTANCELOCK_H
#define INSTANCELOCK_H

#include <QCoreApplication>
#include <QLockFile>
#include <QString>

// One program per settings store: a lock file beside the store (the store's
// name with ".lock" for its suffix). A second program would overwrite the
// first one's positions, and could not open the port the first one holds.
//
// Taking it never waits and never locks out for good: a lock that no running
// program holds (left by a crash or a power cut: naming a process that is
// gone, empty, unreadable or garbage) is taken over. When the lock cannot be
// made, or anything other than a lock file is in its way or in the way of the
// lock QSettings keeps beside the store file, the program may run but must
// not write the store: failure() says why.
class InstanceLock
{
    Q_DECLARE_TR_FUNCTIONS(InstanceLock)

public:
    enum class Result
    {
        Locked, // this program holds the lock
        HeldByOther, // another running program holds it: runningPid()
        Failed // no lock: failure()
    };

    explicit InstanceLock(const QString &storeFile);

    Result lock();
    // The process that holds the lock after HeldByOther, 0 if unknown.
    qint64 runningPid() const { return pid; }
    // Why there is no lock after Failed, in plain words.
    QString failure() const { return reason; }
    QString fileName() const { return path; }

private:
    QString whyNotCreated() const;

    QString storeFile;
    QString path;
    QLockFile file;
    qint64 pid = 0;
    QString reason;
};

#endif // INSTANCELOCK_H
