#ifndef SCRIPTBRIDGE_H
#define SCRIPTBRIDGE_H

#include "actresult.h"
#include "kesmarbus.h"

#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>

#include <array>
#include <optional>

class Journal;
class Panel;

// The running panel's scripting interface on the session bus: a view of the
// panel, as the window is. Members that act call the panel's act for the
// widget they stand for, so every view shows what a script did; members that
// read ask the panel. A failed act answers with the D-Bus error of its
// result's kind. The generated adaptor calls these slots and relays the
// signals.
class ScriptBridge : public QObject, protected QDBusContext
{
    Q_OBJECT

public:
    explicit ScriptBridge(Panel &panel, QObject *parent = nullptr);
    // Gives the name back, so a panel started later can take it.
    ~ScriptBridge() override;

    // Puts the interface on the session bus. Without a session bus, or with
    // the name held by another panel, it logs why scripting is unavailable
    // and returns false; the panel works as before.
    bool registerOnSessionBus();

    // Asks the panel that holds the name on the session bus, if it is the
    // process `pid`, to bring its window to the front; false when none did.
    static bool raiseRunningPanel(qint64 pid);

    // The journal that Journal() reads and MoveJournaled follows; none
    // before it is set. It must outlive the bridge.
    void setJournal(const ::Journal *journal);

public slots:
    int Position(int &y, int &z);
    int Target(int &y, int &z);
    void Goto(int x, int y, int z);
    void MoveBy(int dx, int dy, int dz);
    void Halt();
    NamedPositionList Positions();
    void GotoPosition(const QString &name);
    void StorePosition(const QString &name);
    int Device();
    void SelectDevice(int n);
    QString State();
    QString LastError();
    bool Limits(int &xmin, int &xmax, int &ymin, int &ymax, int &zmin, int &zmax);
    void SetLimits(bool enabled, int xmin, int xmax, int ymin, int ymax, int zmin, int zmax);
    QString Retract();
    QString Return();
    void Raise();
    JournalRowList Journal(int n);
    int PositionRelative(int &y, int &z);
    void SetZero();
    void ClearZero();
    void Advance(double distance);
    void Withdraw(double distance);

signals:
    void PositionChanged(int x, int y, int z);
    void StateChanged(const QString &state);
    void StageChanged(const QString &stage, bool failed, const QString &message);
    void Halted();
    void MoveJournaled(const JournalRow &row);

private:
    void reply(const ActResult &result);
    // The live reading, or none after an error reply saying why.
    std::optional<std::array<int, 3>> liveReading();
    void act(const std::function<ActResult()> &act, const std::function<QVariant()> &value = {});

    Panel &panel_;
    bool registered_ = false;
    const ::Journal *journal_ = nullptr;
};

#endif // SCRIPTBRIDGE_H
