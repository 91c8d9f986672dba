#include "panelclient.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDateTime>
#include <QEventLoop>
#include <QSet>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

QString noPanel(const QString &why)
{
    return QStringLiteral("no panel running (%1)").arg(why);
}

// A row as a line: "TIME device D SOURCE[ (STAGE)] [from X Y Z ]to X Y Z:
// OUTCOME[ (MESSAGE)][; END[ at X Y Z]]".
QString journalText(const JournalRow &row)
{
    QString line = JournalRow::isoTime(row.timeMs) + QStringLiteral(" device %1 ").arg(row.device)
        + JournalRow::sourceName(row.source);
    if (!row.stage.isEmpty())
        line += QStringLiteral(" (%1)").arg(row.stage);
    if (row.before)
        line += QStringLiteral(" from ") + JournalRow::xyzText(row.before);
    line += QStringLiteral(" to ") + JournalRow::xyzText(row.target) + QStringLiteral(": ")
        + JournalRow::outcomeName(row.outcome);
    if (!row.message.isEmpty())
        line += QStringLiteral(" (%1)").arg(row.message);
    if (row.end != JournalRow::End::Open) {
        line += QStringLiteral("; ") + JournalRow::endName(row.end);
        if (row.end != JournalRow::End::Arrived)
            line += QStringLiteral(" at ") + JournalRow::xyzText(row.at);
    }
    return line;
}

} // namespace

QString escaped(const QString &text, const std::function<bool(QChar)> &escape)
{
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        if (escape(c))
            line += QStringLiteral("\\u%1").arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, u'0'));
        else
            line += c;
    }
    return line;
}

QString printable(const QString &text)
{
    return escaped(text, [](QChar c) {
        return c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
    });
}

bool PanelClient::connectToPanel()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        error_ = noPanel(QStringLiteral("no session bus: %1").arg(bus.lastError().message()));
        return false;
    }
    KesmarBus::registerTypes();
    proxy_ = std::make_unique<KesmarControlProxy>(KesmarBus::service, KesmarBus::path, bus);
    // Subscribed before any call, so no reading that a call causes is missed.
    connect(proxy_.get(), &KesmarControlProxy::PositionChanged, this, [this](int x, int y, int z) {
        reading_ = {x, y, z};
    });
    // Only an end that follows a stage seen here is the end of a sequence
    // started from here: one that another act replaced ends first.
    connect(proxy_.get(), &KesmarControlProxy::StageChanged, this,
            [this](const QString &stage, bool failed, const QString &message) {
                if (!stage.isEmpty())
                    sawStage_ = true;
                else if (sawStage_)
                    sequenceEnd_ = qMakePair(failed, message);
            });
    auto *watcher = new QDBusServiceWatcher(KesmarBus::service, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        error_ = QStringLiteral("the panel closed");
        emit panelClosed();
    });
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &PanelClient::panelReturned);
    if (!bus.interface()->isServiceRegistered(KesmarBus::service)) {
        error_ = noPanel(QStringLiteral("%1 is not on the session bus").arg(KesmarBus::service));
        return false;
    }
    return true;
}

bool PanelClient::check(QDBusPendingCall call)
{
    call.waitForFinished();
    if (!call.isError())
        return true;
    const QDBusError e = call.error();
    error_ = e.type() == QDBusError::ServiceUnknown ? noPanel(e.message()) : e.message();
    return false;
}

bool PanelClient::waitForPosition(const QList<int> &target, int timeoutMs)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, [&] {
        const QString last = reading_.isEmpty()
            ? QStringLiteral("no reading came")
            : QStringLiteral("last reading %1 %2 %3").arg(reading_[0]).arg(reading_[1]).arg(reading_[2]);
        error_ = QStringLiteral("%1 %2 %3 not reached within %4 ms; %5")
                     .arg(target[0])
                     .arg(target[1])
                     .arg(target[2])
                     .arg(timeoutMs)
                     .arg(last);
        loop.exit(1);
    });
    connect(proxy_.get(), &KesmarControlProxy::PositionChanged, &loop, [&] {
        if (reading_ == target)
            loop.exit(0);
    });
    connect(this, &PanelClient::panelClosed, &loop, [&] { loop.exit(1); });
    connect(proxy_.get(), &KesmarControlProxy::Halted, &loop, [&] {
        error_ = QStringLiteral("halted");
        loop.exit(1);
    });
    // No reading will come once polling has stopped or the port is closed.
    connect(proxy_.get(), &KesmarControlProxy::StateChanged, &loop, [&](const QString &state) {
        if (state != QLatin1String("stopped") && state != QLatin1String("not connected"))
            return;
        error_ = QStringLiteral("%1 %2 %3 not reached: the panel's connection is %4")
                     .arg(target[0])
                     .arg(target[1])
                     .arg(target[2])
                     .arg(state);
        loop.exit(1);
    });
    if (reading_ == target)
        return true;
    deadline.start(timeoutMs);
    return loop.exec() == 0;
}

bool PanelClient::waitForSequence(int timeoutMs)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, [&] {
        error_ = QStringLiteral("the move did not end within %1 ms").arg(timeoutMs);
        loop.exit(1);
    });
    const auto ended = [&] {
        if (!sequenceEnd_)
            return false;
        error_ = sequenceEnd_->second;
        loop.exit(sequenceEnd_->first ? 1 : 0);
        return true;
    };
    connect(proxy_.get(), &KesmarControlProxy::StageChanged, &loop, ended);
    connect(this, &PanelClient::panelClosed, &loop, [&] { loop.exit(1); });
    connect(proxy_.get(), &KesmarControlProxy::Halted, &loop, [&] {
        error_ = QStringLiteral("halted");
        loop.exit(1);
    });
    if (sequenceEnd_) {
        error_ = sequenceEnd_->second;
        return !sequenceEnd_->first;
    }
    deadline.start(timeoutMs);
    return loop.exec() == 0;
}

void PanelClient::watch(bool csv)
{
    QTextStream out(stdout);
    if (csv)
        out << "time,x,y,z,state\n" << Qt::flush;
    const QString separator = csv ? QStringLiteral(",") : QStringLiteral(" ");
    const auto now = [] {
        return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    };
    connect(proxy_.get(), &KesmarControlProxy::PositionChanged, this, [&](int x, int y, int z) {
        out << now() << separator << x << separator << y << separator << z << (csv ? "," : "") << '\n' << Qt::flush;
    });
    // A line of its own for every state, so a gap in the readings reads as one.
    const auto showState = [&](const QString &state) {
        out << now() << (csv ? QStringLiteral(",,,,") : QStringLiteral(" state ")) << printable(state) << '\n'
            << Qt::flush;
    };
    const auto askState = [&] {
        QDBusPendingReply<QString> reply = proxy_->State();
        reply.waitForFinished();
        if (!reply.isError())
            showState(reply.value());
    };
    connect(proxy_.get(), &KesmarControlProxy::StateChanged, this, showState);
    connect(this, &PanelClient::panelClosed, this, [&] { showState(QStringLiteral("panel closed")); });
    connect(this, &PanelClient::panelReturned, this, askState);
    askState();
    QEventLoop loop;
    loop.exec();
}

bool PanelClient::printJournal(int n, bool csv, bool follow)
{
    QTextStream out(stdout);
    // The rows printed and whether they had ended then: a row told again
    // while the reply was on its way is printed once.
    QHash<quint64, bool> printed;
    const auto print = [&](const JournalRow &row) {
        const bool ended = row.end != JournalRow::End::Open;
        const auto seen = printed.constFind(row.id);
        if (seen != printed.constEnd() && (*seen || !ended))
            return;
        printed.insert(row.id, ended);
        out << (csv ? row.csvLine() : journalText(row)) << '\n' << Qt::flush;
    };
    // Subscribed before the call, so no row comes between the two unseen.
    if (follow)
        connect(proxy_.get(), &KesmarControlProxy::MoveJournaled, this, print);
    QDBusPendingReply<JournalRowList> reply = proxy_->Journal(n);
    if (!check(reply))
        return false;
    if (csv)
        out << JournalRow::csvHeader() << '\n';
    for (const JournalRow &row : reply.value())
        print(row);
    out << Qt::flush;
    if (follow) {
        QEventLoop loop;
        loop.exec();
    }
    return true;
}
