#include "scriptbridge.h"

#include "kesmarcontrol.h"
#include "kesmarcontrol1adaptor.h"
#include "travel.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QStatusBar>

#include <algorithm>

ScriptBridge::ScriptBridge(KesmarControl *window)
    : QObject(window)
    , window_(window)
{
    KesmarBus::registerTypes();
    new KesmarControl1Adaptor(this);
    connect(window, &KesmarControl::positionRead, this, &ScriptBridge::PositionChanged);
    connect(window, &KesmarControl::connectionStateChanged, this, [this](KesmarControl::ConnectionState state) {
        emit StateChanged(QString::fromLatin1(KesmarControl::connectionWord(state)));
    });
}

ScriptBridge::~ScriptBridge()
{
    if (!registered_)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(KesmarBus::path);
    bus.interface()->unregisterService(KesmarBus::service);
}

bool ScriptBridge::registerOnSessionBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qInfo("Scripting unavailable: no session bus (%s)", qPrintable(bus.lastError().message()));
        return false;
    }
    // Another panel holding the name keeps it: no queueing, no replacing.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        KesmarBus::service, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        qInfo("Scripting unavailable: %s is held by another panel", qPrintable(KesmarBus::service));
        return false;
    }
    if (!bus.registerObject(KesmarBus::path, this)) {
        qInfo("Scripting unavailable: %s could not be registered (%s)", qPrintable(KesmarBus::path),
              qPrintable(bus.lastError().message()));
        bus.interface()->unregisterService(KesmarBus::service);
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

void ScriptBridge::fail(const QString &name, const QString &message)
{
    sendErrorReply(name, message);
}

int ScriptBridge::Position(int &y, int &z)
{
    const QVector<int> reading = window_->lastPosition();
    if (reading.isEmpty()) {
        fail(KesmarBus::errorNoReading, tr("No reading yet"));
        return 0;
    }
    // Only readouts that polling keeps live are the position now.
    const KesmarControl::ConnectionState state = window_->connectionState();
    if (state != KesmarControl::ConnectionState::Reading) {
        fail(KesmarBus::errorNoReading,
             tr("The last reading, %1 %2 %3, is %4")
                 .arg(reading.at(0))
                 .arg(reading.at(1))
                 .arg(reading.at(2))
                 .arg(QString::fromLatin1(KesmarControl::connectionWord(state))));
        return 0;
    }
    y = reading.at(1);
    z = reading.at(2);
    return reading.at(0);
}

int ScriptBridge::Target(int &y, int &z)
{
    const QList<int> t = window_->targets();
    y = t.at(1);
    z = t.at(2);
    return t.at(0);
}

void ScriptBridge::Goto(int x, int y, int z)
{
    const QList<int> values{x, y, z};
    for (int axis = 0; axis < 3; ++axis) {
        if (values.at(axis) < 0 || values.at(axis) > positionMax) {
            fail(KesmarBus::errorOutOfRange,
                 tr("%1 %2 is outside 0..%3").arg(QChar(u'X' + axis)).arg(values.at(axis)).arg(positionMax));
            return;
        }
    }
    QString error;
    if (!window_->gotoTargets(x, y, z, &error))
        fail(KesmarBus::errorFailed, error);
}

void ScriptBridge::MoveBy(int dx, int dy, int dz)
{
    if (!window_->moveBy(dx, dy, dz))
        fail(KesmarBus::errorFailed, window_->statusBar()->currentMessage());
}

void ScriptBridge::Halt()
{
    if (!window_->halt())
        fail(KesmarBus::errorFailed, window_->statusBar()->currentMessage());
}

NamedPositionList ScriptBridge::Positions()
{
    return window_->namedPositions();
}

void ScriptBridge::GotoPosition(const QString &name)
{
    const NamedPositionList positions = window_->namedPositions();
    const auto found
        = std::find_if(positions.cbegin(), positions.cend(), [&name](const ::Position &p) { return p.name == name; });
    if (found == positions.cend()) {
        fail(KesmarBus::errorUnknownPosition, tr("No position named %1").arg(name));
        return;
    }
    QString error;
    if (!window_->gotoNamedPosition(int(found - positions.cbegin()), &error))
        fail(KesmarBus::errorFailed, error);
}

void ScriptBridge::StorePosition(const QString &name)
{
    QString error;
    if (!window_->storeNamedPosition(name, &error))
        fail(KesmarBus::errorFailed, error);
}

int ScriptBridge::Device()
{
    return window_->selectedDevice();
}

void ScriptBridge::SelectDevice(int n)
{
    QString error;
    if (!window_->chooseDevice(n, &error))
        fail(KesmarBus::errorFailed, error);
}

QString ScriptBridge::State()
{
    return QString::fromLatin1(KesmarControl::connectionWord(window_->connectionState()));
}

QString ScriptBridge::LastError()
{
    return window_->lastFailure();
}

void ScriptBridge::Raise()
{
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
}
