#ifndef SETTINGSSTORE_H
#define SETTINGSSTORE_H

#include "portsettings.h"
#include "position.h"

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QVariantMap>
#include <QWaitCondition>

#include <optional>

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
Q_DECLARE_METATYPE(SaveResult)

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
//
// Saves run off the calling thread from a snapshot (the list of positions is
// shared, not copied), one at a time; a snapshot still waiting for its turn
// is replaced by a newer one, whose save then stands for both.
class SettingsStore : public QObject
{
    Q_OBJECT

public:
    // The device numbers a store may name; any other loads as device 1.
    // Copies of a damaged store kept beside it, the newest ones.
    static constexpr int keptDamagedCopies = 5;

    explicit SettingsStore(QObject *parent = nullptr);
    // Waits for the last save.
    ~SettingsStore() override;

    // Path of the store file. Nothing at that path is opened to find it.
    static QString fileName();

    // Reads the store. Missing or damaged values load as their defaults, the
    // polling interval has its floor, and only entries "1".."size" of the
    // positions array with a name, three whole coordinates and, when they
    // have one, a device number load. When any entry is skipped, the file as
    // it was is first copied beside it; if no copy can be made, saving is
    // switched off for this run. Files left beside the store by a save that
    // was cut short are removed first.
    StoredSettings load(LoadReport *report = nullptr);

    // Writes the whole store: the program's keys as given, the positions
    // array with exactly the entries given, and every other key as the file
    // held it when it was loaded or as an earlier save gave it (a key left
    // out of a group keeps what the file holds for it). Returns once the file
    // is written, after any save still under way.
    SaveResult save(const StoredSettings &settings);
    // The same save, written off this thread; returns its number. The end of
    // each save is told by saveFinished().
    quint64 saveLater(const StoredSettings &settings);
    // Waits until every save asked for has ended; returns how the last ended
    // (Saved when none was asked for).
    SaveResult waitForSaves();
    // Whether every save asked for has ended and been told by saveFinished().
    bool isSettled() const { return settled_ == asked_; }
    // The number of the last save asked for.
    quint64 lastSave() const { return asked_; }
    // Waits for the saves of every store of this process.
    static void waitForAllSaves();

    // From now on nothing is written; every save answers Off with the
    // message "Settings are not saved in this run - <reason>".
    void switchSavingOff(const QString &reason);
    bool isSavingOff() const { return !offReason.isEmpty(); }
    QString savingOffMessage() const;

signals:
    // The saves numbered up to `last` have ended, as `result` says: a save
    // replaced by a newer one ends as that one does.
    void saveFinished(quint64 last, const SaveResult &result);

private:
    struct Job
    {
        StoredSettings stored;
        QMap<QString, QVariant> kept; // the keys the store does not write itself
        quint64 number = 0;
    };

    QString keepDamagedCopy(const QString &path);
    void removeLeftovers();
    Job job(const StoredSettings &stored);
    void writeJobs();
    void tell(quint64 last, const SaveResult &result);

    const QString file = fileName();
    QString offReason;
    QMap<QString, QVariant> kept_;
    bool keptKnown_ = false;
    quint64 asked_ = 0;
    quint64 settled_ = 0;

    // Shared with the writing thread.
    QMutex mutex_;
    QWaitCondition idle_;
    std::optional<Job> waiting_;
    bool writing_ = false;
    SaveResult last_;
    QThreadPool writer_;
};

#endif // SETTINGSSTORE_H
