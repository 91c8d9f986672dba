#include "settingsstore.h"

#include "storeescapes.h"
#include "storefile.h"

#include "travel.h"

#include <QCoreApplication>
#include <QDateTime>
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

const QString organization = QStringLiteral("quellmark");
const QString application = QStringLiteral("orvex");
const QString settingsGroup = StoreFile::settingsGroup();
const QString positionsArray = StoreFile::positionsArray();

// The entries of the "positions" array that can actually be read, found
// among `keys` (all keys of the file).
struct StoredEntries
{
    // Array indexes in ascending order: those present in the store up to its
    // stored size. A damaged store may claim billions of entries or hold one
    // numbered far out; only entries that exist are visited.
    QList<int> indexes;
    // Whether any entry has a device key: without one none is looked up.
    bool withDevices = false;
};

StoredEntries storedEntries(const QStringList &keys, int storedSize)
{
    StoredEntries entries;
    if (storedSize <= 0)
        return entries;
    QList<int> &indexes = entries.indexes;
    const QString prefix = positionsArray + QLatin1Char('/');
    const QString deviceKey = QStringLiteral("/device");
    for (const QString &key : keys) {
        if (!key.startsWith(prefix))
            continue;
        const qsizetype slash = key.indexOf(QLatin1Char('/'), prefix.size());
        if (slash < 0)
            continue;
        entries.withDevices = entries.withDevices || key.endsWith(deviceKey);
        // Entry i is kept under the plain decimal number i + 1; "01" is never read.
        const QStringView group = QStringView(key).mid(prefix.size(), slash - prefix.size());
        if (group.isEmpty() || group.size() > 10 || group.front() == QLatin1Char('0')
            || !std::all_of(group.begin(), group.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            continue;
        const qlonglong number = group.toLongLong();
        // An entry's keys mostly come one after another.
        if (number <= storedSize && (indexes.isEmpty() || indexes.constLast() != number - 1))
            indexes.append(int(number - 1));
    }
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    return entries;
}

// A coordinate of the current entry, or why it cannot be one: a whole number
// within int's range is read, anything else or nothing is not.
std::optional<int> storedCoordinate(const QSettings &settings, const QString &key, QString *why)
{
    const QVariant stored = settings.value(key);
    if (!stored.isValid()) {
        *why = key + QStringLiteral(" is missing");
        return std::nullopt;
    }
    bool ok = false;
    const QString text = stored.toString();
    const int value = text.toInt(&ok);
    if (!ok) {
        *why = QStringLiteral("%1 is \"%2\", not a whole number").arg(key, text.left(40));
        return std::nullopt;
    }
    // Loaded, it would be sent as the nearest end of the travel.
    if (value < 0 || value > positionMax) {
        *why = QStringLiteral("%1 is %2, outside 0..%3").arg(key).arg(value).arg(positionMax);
        return std::nullopt;
    }
    return value;
}

// The device of the current entry, or why it cannot be one: an entry stored
// before positions had a device has no key and belongs to none; else a
// device number is read, anything else is not (loaded as none, the entry
// would be offered to every device).
std::optional<int> storedDevice(const QSettings &settings, QString *why)
{
    const QVariant stored = settings.value(QStringLiteral("device"));
    if (!stored.isValid())
        return Position::noDevice;
    bool ok = false;
    const QString text = stored.toString();
    const int device = text.toInt(&ok);
    if (!ok || device < minDevice || device > maxDevice) {
        *why = QStringLiteral("device is \"%1\", not one of %2..%3").arg(text.left(40)).arg(minDevice).arg(maxDevice);
        return std::nullopt;
    }
    return device;
}

// Whether the file at `path` may be opened for reading: a pipe, a device or a
// socket in its place could hold the reader for ever.
bool mayRead(const QString &path)
{
    const QFileInfo info(path);
    return !info.exists() || info.isFile() || info.isDir();
}

// The keys among `keys` that the store does not write itself and that
// `settings` holds, with their values: all but the connection settings and
// the positions array.
QMap<QString, QVariant> keysOfOthers(const QSettings &settings, const QStringList &keys)
{
    static const QStringList ownSettings{QStringLiteral("port"), QStringLiteral("dev"), QStringLiteral("update"),
                                         QStringLiteral("timeout"), QStringLiteral("pcmode")};
    const QString positionsPrefix = positionsArray + QLatin1Char('/');
    const QString settingsPrefix = settingsGroup + QLatin1Char('/');
    QMap<QString, QVariant> kept;
    for (const QString &key : keys) {
        if (key.startsWith(positionsPrefix)
            || (key.startsWith(settingsPrefix) && ownSettings.contains(QStringView(key).mid(settingsPrefix.size()))))
            continue;
        const QVariant value = settings.value(key);
        if (value.isValid())
            kept.insert(key, value);
    }
    return kept;
}

QList<SettingsStore *> &liveStores()
{
    static QList<SettingsStore *> stores;
    return stores;
}

} // namespace

SettingsStore::SettingsStore(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<SaveResult>();
    writer_.setMaxThreadCount(1);
    liveStores().append(this);
}

SettingsStore::~SettingsStore()
{
    liveStores().removeOne(this);
    waitForSaves();
}

QString SettingsStore::fileName()
{
    // QSettings reads the file it is made for, at once. One made for a name
    // that is never used tells the store's folder without opening the store.
    const QSettings beside(QSettings::NativeFormat, QSettings::UserScope, organization,
                           QStringLiteral(".%1-path").arg(application));
    return QFileInfo(beside.fileName()).path() + QLatin1Char('/') + application + QStringLiteral(".conf");
}

StoredSettings SettingsStore::load(LoadReport *report)
{
    StoredSettings stored;
    kept_.clear();
    keptKnown_ = true;
    if (!mayRead(file)) {
        switchSavingOff(tr("%1 is not a plain file").arg(QDir::toNativeSeparators(file)));
        return stored;
    }
    // With saving off another program may be saving into the same folder.
    if (!isSavingOff())
        removeLeftovers();
    QSettings settings(organization, application);
    // Text typed into the file with an editor is UTF-8; the escapes that
    // saving writes read the same with it.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    settings.setIniCodec("UTF-8");
#endif
    settings.beginGroup(settingsGroup);
    bool isNumber = false;
    const int device = settings.value(QStringLiteral("dev"), 1).toInt(&isNumber);
    stored.device = isNumber && device >= 0 && device <= maxDevice ? device : 1;
    PortSettings &port = stored.port;
    const QString portName = settings.value(QStringLiteral("port"), port.port).toString();
    port.port = portName.isEmpty() ? PortSettings::defaultPort() : portName;
    port.timeout = settings.value(QStringLiteral("timeout"), port.timeout).toInt();
    port.update = qMax(PortSettings::minUpdate, settings.value(QStringLiteral("update"), port.update).toInt());
    port.pcmode = settings.value(QStringLiteral("pcmode"), port.pcmode).toBool();
    settings.endGroup();

    const int storedSize = settings.beginReadArray(positionsArray);
    settings.endArray();
    // Every key, once: the positions' entries and the other groups are found among them.
    const QStringList keys = settings.allKeys();
    const StoredEntries present = storedEntries(keys, storedSize);
    int unreadable = 0;
    // Without a size none of the entries can be read, and the next save would
    // write over them: they count as unreadable, so the file is kept first.
    bool sized = false;
    settings.value(positionsArray + QStringLiteral("/size")).toString().toInt(&sized);
    settings.beginGroup(positionsArray);
    const int entries = sized ? 0 : int(settings.childGroups().size());
    settings.endGroup();
    if (entries > 0) {
        unreadable = entries;
        qWarning("%d stored positions not loaded: the list's size is missing or not a number", entries);
    }
    settings.beginReadArray(positionsArray);
    for (const int i : present.indexes) {
        settings.setArrayIndex(i);
        const QString name = settings.value(QStringLiteral("name")).toString();
        QString why;
        const std::optional<int> x = storedCoordinate(settings, QStringLiteral("x"), &why);
        const std::optional<int> y = x ? storedCoordinate(settings, QStringLiteral("y"), &why) : std::nullopt;
        const std::optional<int> z = y ? storedCoordinate(settings, QStringLiteral("z"), &why) : std::nullopt;
        std::optional<int> device;
        if (z)
            device = present.withDevices ? storedDevice(settings, &why) : Position::noDevice;
        if (name.isEmpty())
            why = QStringLiteral("it has no name");
        // Loaded as 0, a damaged coordinate would send the manipulator there
        // on the first recall.
        if (!why.isEmpty()) {
            ++unreadable;
            const QString named
                = name.isEmpty() ? QString() : QStringLiteral(" \"%1\"").arg(name.left(60).simplified());
            qWarning("Stored position %d%s not loaded: %s", i + 1, qPrintable(named), qPrintable(why));
            continue;
        }
        stored.positions.append(Position(name, *x, *y, *z, *device));
    }
    settings.endArray();

    // The groups of the program's other parts, as the file holds them.
    for (const QString &key : keys) {
        const qsizetype slash = key.indexOf(QLatin1Char('/'));
        if (slash < 0)
            continue;
        const QStringView group = QStringView(key).left(slash);
        if (group != settingsGroup && group != positionsArray)
            stored.groups[group.toString()].insert(key.mid(slash + 1), settings.value(key));
    }
    // What the user's file itself holds besides, not the system's defaults
    // (`keys` has both).
    settings.setFallbacksEnabled(false);
    kept_ = keysOfOthers(settings, keys);

    // With saving off nothing is written, the copy included; nothing is lost.
    if (unreadable > 0 && !isSavingOff()) {
        const QString keptAs = keepDamagedCopy(file);
        if (report && !keptAs.isEmpty()) {
            report->keptAs = keptAs;
            report->message = tr("%1 stored positions could not be read; the file as it was is kept as %2")
                                  .arg(unreadable)
                                  .arg(QDir::toNativeSeparators(keptAs));
        }
    }
    if (report)
        report->unreadable = unreadable;
    return stored;
}

// Copies the store file as it is beside it, named after the time and with
// the store's permission bits, before anything overwrites the entries that
// could not be read; only the newest copies are kept. Returns the copy's
// path; without a copy, saving is switched off so that nothing is lost.
QString SettingsStore::keepDamagedCopy(const QString &path)
{
    // Entries from a file of the system's defaults leave nothing of the user's to lose.
    if (!QFileInfo::exists(path))
        return QString();
    QFile original(path);
    if (!original.open(QIODevice::ReadOnly)) {
        switchSavingOff(tr("the damaged store cannot be read for a copy (%1)").arg(original.errorString()));
        return QString();
    }
    const QByteArray bytes = original.readAll();
    const QString prefix = QFileInfo(path).fileName() + QStringLiteral(".damaged-");
    const QString stem = path + QStringLiteral(".damaged-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH-mm-ss"));
    QString copy = stem;
    // A copy made earlier in the same second stays as it is.
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = stem + QLatin1Char('-') + QString::number(n);
    const QString failure = StoreFile::writeWhole(copy, bytes, StoreFile::mode(path).value_or(0600));
    if (!failure.isEmpty()) {
        switchSavingOff(tr("no copy of the damaged store can be kept as %1 (%2)").arg(copy, failure));
        return QString();
    }
    // Oldest first: by the time in the name, then by the number after it.
    QDir folder = QFileInfo(path).dir();
    QStringList copies = folder.entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden);
    const auto order = [&prefix](const QString &name) {
        const QString rest = name.mid(prefix.size());
        const QString time = rest.left(19);
        return std::make_pair(time, rest.size() > 20 ? rest.mid(20).toInt() : 1);
    };
    std::sort(copies.begin(), copies.end(), [&](const QString &a, const QString &b) { return order(a) < order(b); });
    for (int i = 0; i + keptDamagedCopies < copies.size(); ++i)
        folder.remove(copies.at(i));
    return copy;
}

// Removes what a save that was cut short (a crash, a kill, a power cut) left
// beside the store: its staged and checked files and their locks.
void SettingsStore::removeLeftovers()
{
    const QFileInfo store(file);
    QDir folder = store.dir();
    // This process's own are saves under way in another store object.
    const QString own = store.fileName() + QStringLiteral(".saving-%1-").arg(QCoreApplication::applicationPid());
    const QString left = store.fileName() + QStringLiteral(".saving-");
    int removed = 0;
    // Filtered here rather than by a name filter, which would compile a
    // regular expression (and keep its library in memory) for a handful of names.
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        removed += name.startsWith(left) && !name.startsWith(own) && folder.remove(name) ? 1 : 0;
    if (removed > 0)
        qWarning("Removed %d files left beside %s by a save that was cut short", removed,
                 qPrintable(QDir::toNativeSeparators(file)));
}

SettingsStore::Job SettingsStore::job(const StoredSettings &stored)
{
    // Saved without a load: the other keys are those the file holds now.
    if (!keptKnown_ && mayRead(file)) {
        QSettings settings(file, QSettings::IniFormat);
        kept_ = keysOfOthers(settings, settings.allKeys());
    }
    keptKnown_ = true;
    Job next{stored, kept_, ++asked_};
    // The groups given stay in the file when a later save leaves them out.
    for (auto group = stored.groups.cbegin(); group != stored.groups.cend(); ++group) {
        for (auto value = group.value().cbegin(); value != group.value().cend(); ++value)
            kept_.insert(group.key() + QLatin1Char('/') + value.key(), value.value());
    }
    return next;
}

SaveResult SettingsStore::save(const StoredSettings &stored)
{
    saveLater(stored);
    return waitForSaves();
}

quint64 SettingsStore::saveLater(const StoredSettings &stored)
{
    if (isSavingOff()) {
        const quint64 number = ++asked_;
        const SaveResult off{SaveResult::Kind::Off, savingOffMessage()};
        {
            const QMutexLocker lock(&mutex_);
            last_ = off;
        }
        QMetaObject::invokeMethod(
            this, [this, number, off] { tell(number, off); }, Qt::QueuedConnection);
        return number;
    }
    Job next = job(stored);
    const quint64 number = next.number;
    const QMutexLocker lock(&mutex_);
    waiting_ = std::move(next);
    if (!writing_) {
        writing_ = true;
        writer_.start([this] { writeJobs(); });
    }
    return number;
}

// The writing thread: the snapshot waiting, then any newer one, until none waits.
void SettingsStore::writeJobs()
{
    QMutexLocker lock(&mutex_);
    while (waiting_) {
        const Job next = std::move(*waiting_);
        waiting_.reset();
        lock.unlock();
        const SaveResult result = StoreFile::write(file, next.kept, next.stored);
        QMetaObject::invokeMethod(
            this, [this, number = next.number, result] { tell(number, result); }, Qt::QueuedConnection);
        lock.relock();
        last_ = result;
    }
    writing_ = false;
    idle_.wakeAll();
}

void SettingsStore::tell(quint64 last, const SaveResult &result)
{
    settled_ = std::max(settled_, last);
    emit saveFinished(last, result);
}

SaveResult SettingsStore::waitForSaves()
{
    QMutexLocker lock(&mutex_);
    while (writing_)
        idle_.wait(&mutex_);
    return last_;
}

void SettingsStore::waitForAllSaves()
{
    for (SettingsStore *store : liveStores())
        store->waitForSaves();
}

void SettingsStore::switchSavingOff(const QString &reason)
{
    if (!isSavingOff())
        offReason = reason;
}

QString SettingsStore::savingOffMessage() const
{
    return isSavingOff() ? tr("Settings are not saved in this run - %1").arg(offReason) : QString();
}
