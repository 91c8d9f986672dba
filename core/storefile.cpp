#include "storefile.h"

#include "storeescapes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSettings>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes all of `bytes` to `fd`. Returns the system's reason when it cannot.
QString writeAll(int fd, const QByteArray &bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return qt_error_string(n < 0 ? errno : EIO);
        done += n;
    }
    return QString();
}

// Why the disk did not take a file of about `size` bytes: the system's answer
// to writing that much into a new file at `path` (a full disk, the file size
// limit), which is removed again.
QString whyNoRoom(const QString &path, qint64 size)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return qt_error_string(errno);
    QString failure = writeAll(fd, QByteArray(int(std::clamp<qint64>(size, 64 * 1024, 64 * 1024 * 1024)), '\n'));
    ::close(fd);
    ::unlink(name.constData());
    return failure.isEmpty() ? QStringLiteral("the file written was incomplete") : failure;
}

// Whether the file at `path` holds every key of `written` with its value, as
// a QSettings reader that has not seen it before reads it.
bool holdsTheSame(const QString &path, const QSettings &written)
{
    const QSettings read(path, QSettings::IniFormat);
    QStringList keys = written.allKeys();
    QStringList readKeys = read.allKeys();
    keys.sort();
    readKeys.sort();
    if (read.status() == QSettings::AccessError || keys != readKeys)
        return false;
    return std::all_of(keys.cbegin(), keys.cend(), [&](const QString &key) {
        const QVariant a = written.value(key);
        const QVariant b = read.value(key);
        // Numbers and flags come back as text.
        return a.userType() == b.userType() ? a == b : a.toString() == b.toString();
    });
}

// Makes sure the writes of a rename in `folder` are on the disk. A file
// system that cannot sync a folder keeps its renames anyway.
QString syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return qt_error_string(errno);
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    const int error = errno;
    ::close(fd);
    return synced ? QString() : qt_error_string(error);
}

} // namespace

// Writes a new file whole or not at all, with the permission bits `mode`:
// every write is checked and the data synced before the file takes its name.
// Returns the reason of a failure.
QString StoreFile::writeWhole(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return out.errorString();
    QString failure = ::fchmod(out.handle(), mode) == 0 ? QString() : qt_error_string(errno);
    if (failure.isEmpty())
        failure = writeAll(out.handle(), bytes);
    if (failure.isEmpty() && ::fsync(out.handle()) != 0)
        failure = qt_error_string(errno);
    if (failure.isEmpty() && !out.commit())
        failure = out.errorString();
    return failure;
}

// The permission bits of the file at `path`; those of a new file where there
// is none.
std::optional<mode_t> StoreFile::mode(const QString &path)
{
    struct stat st
    { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return mode_t(st.st_mode & 07777);
}

SaveResult StoreFile::write(const QString &file, const QMap<QString, QVariant> &kept, const StoredSettings &stored)
{
    const auto failed = [&file](const QString &reason) {
        return SaveResult{SaveResult::Kind::Failed,
                          tr("Settings not saved - cannot write %1 (%2)").arg(QDir::toNativeSeparators(file), reason)};
    };
    const QString folder = QFileInfo(file).path();
    QDir().mkpath(folder);
    {
        // The common failures (no folder, no right to write) are seen
        // before anything is written.
        QSaveFile probe(file);
        if (!probe.open(QIODevice::WriteOnly))
            return failed(probe.errorString());
        probe.cancelWriting();
    }

    // The new store is made beside the file, under a name of its own, in a
    // new file with the store's permission bits: nothing of the old file is
    // in it but the keys the store carries over. QSettings writes it in its
    // own format. Its writer does not see when the disk takes only part of
    // the file, so the staged file is read back under another name before it
    // takes the store's place in one rename.
    // A name of its own for every save: QSettings keeps what it read of a
    // file name, and must not see an earlier attempt's keys.
    static std::atomic<quint64> saves{0};
    const QString staging = file + QStringLiteral(".saving-%1-%2").arg(QCoreApplication::applicationPid()).arg(++saves);
    const QString checked = staging + QStringLiteral(".check");
    const auto removeStaged = qScopeGuard([&] {
        QFile::remove(staging);
        QFile::remove(checked);
    });
    // Asked while what was staged still takes its room on the disk.
    const auto cutShort = [&] {
        return failed(whyNoRoom(checked + QStringLiteral(".room"), 2 * QFileInfo(file).size()));
    };
    QFile::remove(staging);
    {
        const std::optional<mode_t> mode = StoreFile::mode(file);
        const int fd = ::open(QFile::encodeName(staging).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              mode.value_or(0666));
        if (fd < 0)
            return failed(qt_error_string(errno));
        // The store's own bits, whatever the process's mask.
        const bool moded = !mode || ::fchmod(fd, *mode) == 0;
        const int error = errno;
        ::close(fd);
        if (!moded)
            return failed(qt_error_string(error));
    }

    QSettings writer(staging, QSettings::IniFormat);
    // No codec: all text outside ASCII is written as escapes, as earlier
    // builds wrote it, and comes back exactly as it was.
    for (auto key = kept.cbegin(); key != kept.cend(); ++key)
        writer.setValue(key.key(), key.value());
    writer.beginGroup(settingsGroup());
    writer.setValue(QStringLiteral("port"), stored.port.port);
    writer.setValue(QStringLiteral("dev"), stored.device);
    writer.setValue(QStringLiteral("update"), stored.port.update);
    writer.setValue(QStringLiteral("timeout"), stored.port.timeout);
    writer.setValue(QStringLiteral("pcmode"), stored.port.pcmode);
    writer.endGroup();
    writer.beginWriteArray(positionsArray());
    for (int i = 0; i < stored.positions.size(); ++i) {
        const Position &p = stored.positions.at(i);
        writer.setArrayIndex(i);
        writer.setValue(QStringLiteral("name"), p.name);
        writer.setValue(QStringLiteral("x"), p.x);
        writer.setValue(QStringLiteral("y"), p.y);
        writer.setValue(QStringLiteral("z"), p.z);
        // An entry stored before positions had a device is written as it was read.
        if (p.device != Position::noDevice)
            writer.setValue(QStringLiteral("device"), p.device);
    }
    writer.endArray();
    for (auto group = stored.groups.cbegin(); group != stored.groups.cend(); ++group) {
        for (auto value = group.value().cbegin(); value != group.value().cend(); ++value)
            writer.setValue(group.key() + QLatin1Char('/') + value.key(), value.value());
    }
    writer.sync();
    // Text outside ASCII as escapes, as every build writes it; the check below
    // reads the escaped file back.
    const bool escaped = writer.status() == QSettings::NoError && escapeStoreFile(staging);
    if (writer.status() != QSettings::NoError || !escaped)
        return cutShort();
    if (!QFile::rename(staging, checked))
        return failed(tr("cannot rename the new store file"));
    if (!holdsTheSame(checked, writer))
        return cutShort();

    QFile synced(checked);
    if (!synced.open(QIODevice::ReadOnly))
        return failed(synced.errorString());
    if (::fsync(synced.handle()) != 0)
        return failed(qt_error_string(errno));
    if (::rename(QFile::encodeName(checked).constData(), QFile::encodeName(file).constData()) != 0)
        return failed(qt_error_string(errno));
    // Without this a power cut may bring the previous store back.
    const QString unsynced = syncFolder(folder);
    if (!unsynced.isEmpty())
        return failed(unsynced);
    return SaveResult();
}
