#include "scriptbridge.h"

#include "journal.h"
#include "kesmarcontrol1adaptor.h"
#include "panel.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include <cmath>

ScriptBridge::ScriptBridge(Panel &panel, QObject *parent)
    : QObject(parent)
    , panel_(panel)
{
    KesmarBus::registerTypes();
    new KesmarControl1Adaptor(this);
    connect(&panel.link(), &DeviceLink::positionRead, this, &ScriptBridge::PositionChanged);
    connect(&panel.link(), &DeviceLink::stateChanged, this,
            [this](DeviceLink::State state) { emit StateChanged(QString::fromLatin1(DeviceLink::stateWord(state))); });
    connect(&panel.gate(), &MoveGate::halted, this, &ScriptBridge::Halted);
    // The end is told by finished, with its outcome.
    connect(&panel.plans(), &MovePlans::stageChanged, this, [this](const QString &stage) {
        if (!stage.isEmpty())
            emit StageChanged(stage, false, QString());
    });
    connect(&panel.plans(), &MovePlans::finished, this,
            [this](const ActResult &result) { emit StageChanged(QString(), !result.ok(), result.message); });
}

ScriptBridge::~ScriptBridge()
{
    if (!registered_)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The name goes first, so nobody reaches the name without the object.
    bus.interface()->unregisterService(KesmarBus::service);
    bus.unregisterObject(KesmarBus::path);
}

bool ScriptBridge::registerOnSessionBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qInfo("Scripting unavailable: no session bus (%s)", qPrintable(bus.lastError().message()));
        return false;
    }
    // The object is in place before the name shows on the bus: a client that
    // sees the name appear may call at once.
    if (!bus.registerObject(KesmarBus::path, this)) {
        qInfo("Scripting unavailable: %s could not be registered (%s)", qPrintable(KesmarBus::path),
              qPrintable(bus.lastError().message()));
        return false;
    }
    // Another panel holding the name keeps it: no queueing, no replacing.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        KesmarBus::service, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        qInfo("Scripting unavailable: %s is held by another panel", qPrintable(KesmarBus::service));
        bus.unregisterObject(KesmarBus::path);
        return false;
    }
    registered_ = true;
    return true;
}

bool ScriptBridge::raiseRunningPanel(qint64 pid)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // Another panel, on another store, may hold the name.
    const QDBusReply<uint> owner = bus.interface()->servicePid(KesmarBus::service);
    if (!owner.isValid() || qint64(owner.value()) != pid)
        return false;
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(KesmarBus::service, KesmarBus::path,
                                                                       KesmarBus::interface, QStringLiteral("Raise")));
    return reply.type() == QDBusMessage::ReplyMessage;
}

// The D-Bus error that stands for a failed result's kind.
static QString errorName(ActResult::Kind kind)
{
    switch (kind) {
    case ActResult::Kind::OutOfRange:
        return KesmarBus::errorOutOfRange;
    case ActResult::Kind::NoReading:
        return KesmarBus::errorNoReading;
    case ActResult::Kind::Unknown:
        return KesmarBus::errorUnknownPosition;
    default:
        return KesmarBus::errorFailed;
    }
}

// Answers the call with the D-Bus error that stands for the result's kind.
void ScriptBridge::reply(const ActResult &result)
{
    if (!result.ok())
        sendErrorReply(errorName(result.kind), result.message);
}

// Runs an act that calls the library, and answers the call with its result
// and, when it succeeded, with `value` (if given). Right after a failed call,
// before the event loop has run again, the act waits for that (see
// DeviceLink::noteFailedCall) and the call is answered then.
void ScriptBridge::act(const std::function<ActResult()> &act, const std::function<QVariant()> &value)
{
    DeviceLink &link = panel_.link();
    if (link.mayCall() || !calledFromDBus()) {
        reply(act());
        return;
    }
    setDelayedReply(true);
    const QDBusMessage call = message();
    QDBusConnection bus = connection();
    link.whenFree(this, [=] {
        const ActResult result = act();
        if (!result.ok())
            bus.send(call.createErrorReply(errorName(result.kind), result.message));
        else
            bus.send(call.createReply(value ? QVariantList{value()} : QVariantList()));
    });
}

std::optional<std::array<int, 3>> ScriptBridge::liveReading()
{
    const DeviceLink &link = panel_.link();
    const std::optional<DeviceLink::Xyz> reading = link.lastReading();
    if (!reading) {
        reply({ActResult::Kind::NoReading, tr("No reading yet")});
        return std::nullopt;
    }
    // Only readings that polling keeps live are the position now.
    if (link.state() != DeviceLink::State::Reading) {
        reply({ActResult::Kind::NoReading,
               tr("The last reading, %1 %2 %3, is %4")
                   .arg(reading->at(0))
                   .arg(reading->at(1))
                   .arg(reading->at(2))
                   .arg(QString::fromLatin1(DeviceLink::stateWord(link.state())))});
        return std::nullopt;
    }
    return reading;
}

int ScriptBridge::Position(int &y, int &z)
{
    const auto reading = liveReading();
    if (!reading)
        return 0;
    y = reading->at(1);
    z = reading->at(2);
    return reading->at(0);
}

int ScriptBridge::PositionRelative(int &y, int &z)
{
    const auto reading = liveReading();
    if (!reading)
        return 0;
    const std::optional<DeviceLink::Xyz> zero = panel_.frame().zero;
    const DeviceLink::Xyz origin = zero.value_or(DeviceLink::Xyz{0, 0, 0});
    y = reading->at(1) - origin[1];
    z = reading->at(2) - origin[2];
    return reading->at(0) - origin[0];
}

void ScriptBridge::SetZero()
{
    reply(panel_.setZero());
}

void ScriptBridge::ClearZero()
{
    reply(panel_.clearZero());
}

void ScriptBridge::Advance(double distance)
{
    if (!(distance > 0) || !std::isfinite(distance))
        return reply({ActResult::Kind::OutOfRange, tr("Advance takes a distance above 0 µm")});
    act([this, distance] {
        return panel_.advance(distance, DeviceFrame::Units::Micrometres, JournalRow::Source::Script);
    });
}

void ScriptBridge::Withdraw(double distance)
{
    if (!(distance > 0) || !std::isfinite(distance))
        return reply({ActResult::Kind::OutOfRange, tr("Withdraw takes a distance above 0 µm")});
    act([this, distance] {
        return panel_.advance(-distance, DeviceFrame::Units::Micrometres, JournalRow::Source::Script);
    });
}

int ScriptBridge::Target(int &y, int &z)
{
    const Targets::Xyz &t = panel_.targets().values();
    y = t[1];
    z = t[2];
    return t[0];
}

void ScriptBridge::Goto(int x, int y, int z)
{
    act([this, x, y, z] { return panel_.gotoTargets(x, y, z); });
}

void ScriptBridge::MoveBy(int dx, int dy, int dz)
{
    act([this, dx, dy, dz] { return panel_.jog(dx, dy, dz); });
}

void ScriptBridge::Halt()
{
    act([this] { return panel_.halt(); });
}

NamedPositionList ScriptBridge::Positions()
{
    return panel_.positions().positions();
}

void ScriptBridge::GotoPosition(const QString &name)
{
    act([this, name] { return panel_.gotoNamedPosition(name); });
}

void ScriptBridge::StorePosition(const QString &name)
{
    const ActResult stored = panel_.store(name, PositionModel::StoreMatch::NameOnly);
    SettingsStore &store = panel_.settingsStore();
    if (!stored.ok() || store.isSettled()) {
        reply(stored);
        return;
    }
    // Answered once the save that holds the new entry has ended.
    setDelayedReply(true);
    const QDBusMessage call = message();
    QDBusConnection bus = connection();
    const quint64 save = store.lastSave();
    auto *answer = new QObject(this);
    connect(&store, &SettingsStore::saveFinished, answer, [=, &store](quint64 last, const SaveResult &result) mutable {
        if (last < save)
            return;
        bus.send(result.kind == SaveResult::Kind::Saved
                     ? call.createReply()
                     : call.createErrorReply(KesmarBus::errorFailed, result.message));
        disconnect(&store, nullptr, answer, nullptr);
        answer->deleteLater();
    });
}

int ScriptBridge::Device()
{
    return panel_.link().device();
}

void ScriptBridge::SelectDevice(int n)
{
    // Selecting the device in use again changes nothing, as for the operator.
    if (n != panel_.link().device())
        reply(panel_.selectDevice(n));
}

QString ScriptBridge::State()
{
    return QString::fromLatin1(DeviceLink::stateWord(panel_.link().state()));
}

QString ScriptBridge::LastError()
{
    return panel_.lastFailure();
}

bool ScriptBridge::Limits(int &xmin, int &xmax, int &ymin, int &ymax, int &zmin, int &zmax)
{
    const TravelLimits &limits = panel_.limits();
    xmin = limits.min[0];
    xmax = limits.max[0];
    ymin = limits.min[1];
    ymax = limits.max[1];
    zmin = limits.min[2];
    zmax = limits.max[2];
    return limits.enabled;
}

void ScriptBridge::SetLimits(bool enabled, int xmin, int xmax, int ymin, int ymax, int zmin, int zmax)
{
    TravelLimits limits = panel_.limits();
    limits.enabled = enabled;
    limits.min = {xmin, ymin, zmin};
    limits.max = {xmax, ymax, zmax};
    reply(panel_.setLimits(limits));
}

QString ScriptBridge::Retract()
{
    act([this] { return panel_.retract(); }, [this] { return QVariant(panel_.plans().stage()); });
    return panel_.plans().stage();
}

QString ScriptBridge::Return()
{
    act([this] { return panel_.returnFromRetract(); }, [this] { return QVariant(panel_.plans().stage()); });
    return panel_.plans().stage();
}

void ScriptBridge::Raise()
{
    panel_.requestRaise();
}

void ScriptBridge::setJournal(const ::Journal *journal)
{
    if (journal_)
        disconnect(journal_, nullptr, this, nullptr);
    journal_ = journal;
    if (!journal)
        return;
    // Queued: the bus's time is not the recorder's, who may be about to move.
    connect(journal, &::Journal::rowAdded, this, &ScriptBridge::MoveJournaled, Qt::QueuedConnection);
    connect(journal, &::Journal::rowChanged, this, &ScriptBridge::MoveJournaled, Qt::QueuedConnection);
}

JournalRowList ScriptBridge::Journal(int n)
{
    if (n < 0) {
        reply({ActResult::Kind::OutOfRange, tr("The number of rows, %1, is negative").arg(n)});
        return {};
    }
    return journal_ ? journal_->last(n) : JournalRowList();
}
