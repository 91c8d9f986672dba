#ifndef SETTINGSSTORE_H
#define SETTINGSSTORE_H

#include "portsettings.h"
#include "position.h"

#include <QCoreApplication>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>

// Everything the settings store holds: the connection settings, the device
// driven, the named positions, and the groups that other parts of the program
// own (the pad's "pad" group), each as its keys and values.
struct StoredSettings
{
    PortSettings port;
    int device = 1;
    QList<Position> positions;
    // A key left out of a group keeps what the file holds for it.
    QMap<QString, QVariantMap> groups;
};

// How a save ended: the file holds the new store (Saved), the previous one
// because writing failed (Failed), or nothing was written because saving is
// off in this run (Off). `message` is the operator's message, empty if saved.
struct SaveResult
{
    enum class Kind
    {
        Saved,
        Failed,
        Off
    };
    Kind kind = Kind::Saved;
    QString message;
};

// What a load could not read: the number of stored positions skipped, where
// the file as it was is kept, and the operator's message about it (empty
// when everything was read).
struct LoadReport
{
    int unreadable = 0;
    QString keptAs;
    QString message;
};

// The settings store: QSettings "quellmark"/"orvex" in the default format.
// The store is the file's only writer. A load is tolerant of any damage; a
// save writes the whole store at once, so the file holds either the new
// complete store or the previous one, whatever the disk does.
class SettingsStore
{
    Q_DECLARE_TR_FUNCTIONS(SettingsStore)

public:
    // The device numbers a store may name; any other loads as device 1.

    // Path of the store file.
    static QString fileName();

    // Reads the store. Missing or damaged values load as their defaults, the
    // polling interval has its floor, and only entries "1".."size" of the
    // positions array with a name and three whole coordinates load. When any
    // entry is skipped, the file as it was is first copied beside it; if no
    // copy can be made, saving is switched off for this run.
    StoredSettings load(LoadReport *report = nullptr);

    // Writes the whole store. The keys of the file that the store does not
    // write stay as they are.
    SaveResult save(const StoredSettings &settings);

    // From now on nothing is written; every save answers Off with the
    // message "Settings are not saved in this run - <reason>".
    void switchSavingOff(const QString &reason);
    bool isSavingOff() const { return !offReason.isEmpty(); }
    QString savingOffMessage() const;

private:
    QString keepDamagedCopy(const QString &path);

    const QString file = fileName();
    QString offReason;
    int saveCount = 0;
};

#endif // SETTINGSSTORE_H
