#include "journalfile.h"

#include <QDateTime>
#include <QDir>

#include <cerrno>
#include <cstring>

#include <unistd.h>

JournalFile::JournalFile(const QString &folder, QObject *parent)
    : QObject(parent)
    , folder_(folder)
    , syncTimer_(this)
{
    syncTimer_.setInterval(syncInterval);
    syncTimer_.setSingleShot(true);
    connect(&syncTimer_, &QTimer::timeout, this, &JournalFile::sync);
}

QString JournalFile::fileName(const QDate &date)
{
    return date.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".csv");
}

void JournalFile::start(const QDate &today)
{
    QDir dir(folder_);
    if (!dir.mkpath(QStringLiteral("."))) {
        fail(tr("The journal's folder %1 cannot be made").arg(QDir::toNativeSeparators(folder_)));
        return;
    }
    const QDate oldest = today.addDays(-keepDays);
    const QStringList names = dir.entryList(QDir::Files);
    for (const QString &name : names) {
        // Only a day's file, named exactly as fileName() names it (checked
        // here rather than by a name filter, which would compile a regular
        // expression).
        const QDate date = QDate::fromString(name.chopped(4), Qt::ISODate);
        if (date.isValid() && fileName(date) == name && date < oldest)
            dir.remove(name);
    }
}

bool JournalFile::openFor(const QDate &date)
{
    if (file_.isOpen() && date == date_)
        return true;
    if (file_.isOpen()) {
        sync();
        file_.close();
    }
    date_ = date;
    file_.setFileName(QDir(folder_).filePath(fileName(date)));
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fail(tr("The journal cannot be written to %1: %2")
                 .arg(QDir::toNativeSeparators(file_.fileName()), file_.errorString()));
        return false;
    }
    if (file_.size() == 0 && file_.write((JournalRow::csvHeader() + QLatin1Char('\n')).toUtf8()) < 0) {
        fail(tr("The journal cannot be written to %1: %2")
                 .arg(QDir::toNativeSeparators(file_.fileName()), file_.errorString()));
        return false;
    }
    return true;
}

void JournalFile::append(const JournalRow &row)
{
    if (failed_)
        return;
    const qint64 ms = row.endMs ? row.endMs : row.timeMs;
    if (!openFor(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).date()))
        return;
    const QByteArray line = (row.csvLine() + QLatin1Char('\n')).toUtf8();
    // Flushed: the line reaches the system now, the disk at the next sync.
    if (file_.write(line) != line.size() || !file_.flush()) {
        fail(tr("The journal cannot be written to %1: %2")
                 .arg(QDir::toNativeSeparators(file_.fileName()), file_.errorString()));
        return;
    }
    dirty_ = true;
    if (!syncTimer_.isActive())
        syncTimer_.start();
}

void JournalFile::sync()
{
    syncTimer_.stop();
    if (!dirty_ || !file_.isOpen())
        return;
    dirty_ = false;
    if (::fsync(file_.handle()) != 0)
        fail(tr("The journal cannot be synced to %1: %2")
                 .arg(QDir::toNativeSeparators(file_.fileName()), QString::fromLocal8Bit(strerror(errno))));
}

void JournalFile::finish()
{
    sync();
    file_.close();
}

void JournalFile::fail(const QString &message)
{
    if (failed_)
        return;
    failed_ = true;
    syncTimer_.stop();
    file_.close();
    emit failed(message);
}
