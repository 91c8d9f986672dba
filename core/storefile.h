#ifndef STOREFILE_H
#define STOREFILE_H

#include "settingsstore.h"

#include <QCoreApplication>
#include <QMap>
#include <QString>
#include <QVariant>

#include <optional>
#include <sys/types.h>

// The store's file on the disk, written so that it is whole or not at all:
// staged beside the file in a new file with the store's own permission bits,
// read back, synced, renamed over the store, then the folder synced.
class StoreFile
{
    Q_DECLARE_TR_FUNCTIONS(StoreFile)

public:
    // The group of the port settings and the array of the named positions.
    static QString settingsGroup() { return QStringLiteral("settings"); }
    static QString positionsArray() { return QStringLiteral("positions"); }

    // Writes `stored` and the keys `kept` (those the store does not write
    // itself) as the whole of `file`.
    static SaveResult write(const QString &file, const QMap<QString, QVariant> &kept, const StoredSettings &stored);
    // Writes `bytes` as a new file at `path` with `mode`; why not, or empty.
    static QString writeWhole(const QString &path, const QByteArray &bytes, mode_t mode);
    // The permission bits of the file at `path`, if there is one.
    static std::optional<mode_t> mode(const QString &path);
};

#endif // STOREFILE_H
