#include "fakekesmarctl.h"

#include <QSet>

namespace Fake {
namespace {

struct State
{
    Script script;
    QList<Call> calls;
    QElapsedTimer clock;
    QSet<kesmarctl_connection *> open;
    quintptr lastOpened = 0;
};

State &state()
{
    static State s;
    if (!s.clock.isValid())
        s.clock.start();
    return s;
}

quintptr ptr(const void *p)
{
    return reinterpret_cast<quintptr>(p);
}

void record(const char *name, const QVariantList &args)
{
    state().calls.append(Call{QString::fromLatin1(name), args, state().clock.elapsed()});
}

} // namespace

Script &script()
{
    return state().script;
}

QList<Call> &calls()
{
    return state().calls;
}

void reset()
{
    State &s = state();
    s.script = Script();
    s.calls.clear();
    s.clock.restart();
}

QStringList callNames()
{
    QStringList names;
    for (const Call &call : state().calls)
        names << call.name;
    return names;
}

QList<Call> callsNamed(const QString &name)
{
    QList<Call> result;
    for (const Call &call : state().calls) {
        if (call.name == name)
            result << call;
    }
    return result;
}

int count(const QString &name)
{
    return callsNamed(name).size();
}

int openConnections()
{
    return state().open.size();
}

// The targets sent, one "x y z" per store call; a store that is not
// directly followed by the goto of the same device and memory position 0
// is marked.
QStringList sentTargets()
{
    QStringList out;
    const QList<Call> calls = Fake::calls();
    for (int i = 0; i < calls.size(); ++i) {
        if (calls[i].name != QLatin1String("store_mem_position_ext"))
            continue;
        const QVariantList a = calls[i].args;
        const QString xyz = QStringLiteral("%1 %2 %3").arg(a[2].toInt()).arg(a[3].toInt()).arg(a[4].toInt());
        const bool moved = i + 1 < calls.size() && calls[i + 1].name == QLatin1String("goto_mem_position_ext")
            && calls[i + 1].args == QVariantList({a[0], a[1], 0}) && a[5] == 0;
        out << (moved ? xyz : xyz + " (no goto)");
    }
    return out;
}

QVariant lastOpened()
{
    return QVariant::fromValue(state().lastOpened);
}

} // namespace Fake

using Fake::ptr;
using Fake::record;
using Fake::state;

extern "C" {

kesmarctl_connection *kesmarctl_open(const char *port, int timeout)
{
    // Port names come in the file system's encoding, UTF-8 here.
    record("open", {QString::fromUtf8(port), timeout});
    if (!state().script.openSucceeds)
        return nullptr;
    auto *connection = new kesmarctl_connection{0, state().script.connectionId};
    state().open.insert(connection);
    state().lastOpened = ptr(connection);
    return connection;
}

int kesmarctl_close(kesmarctl_connection *handle)
{
    record("close", {ptr(handle)});
    if (state().open.remove(handle))
        delete handle;
    return 0;
}

int kesmarctl_select_dev(kesmarctl_connection *handle, uint8_t dev)
{
    record("select_dev", {ptr(handle), int(dev)});
    const Fake::Script &s = state().script;
    return s.onSelect ? s.onSelect(dev) : s.selectResult;
}

int kesmarctl_recv(kesmarctl_connection *handle)
{
    record("recv", {ptr(handle)});
    const Fake::Script &s = state().script;
    return s.onRecv ? s.onRecv() : s.recvResult;
}

int kesmarctl_get_position_ext(kesmarctl_connection *handle, uint8_t dev, int time, int *x, int *y, int *z)
{
    record("get_position_ext", {ptr(handle), int(dev), time, *x, *y, *z});
    const Fake::Script &s = state().script;
    const Fake::Position p = s.onPosition ? s.onPosition(dev, time) : s.position;
    *x = p.x;
    *y = p.y;
    *z = p.z;
    return p.result;
}

int kesmarctl_store_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int x, int y, int z, int pos)
{
    record("store_mem_position_ext", {ptr(handle), int(dev), x, y, z, pos});
    return state().script.storeResult;
}

int kesmarctl_goto_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int pos)
{
    record("goto_mem_position_ext", {ptr(handle), int(dev), pos});
    return state().script.gotoResult;
}

int kesmarctl_get_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int *x, int *y, int *z, int pos)
{
    record("get_mem_position_ext", {ptr(handle), int(dev), *x, *y, *z, pos});
    const Fake::Position &p = state().script.memPosition;
    *x = p.x;
    *y = p.y;
    *z = p.z;
    return p.result;
}

const char *kesmarctl_last_errorstr(kesmarctl_connection *handle)
{
    record("last_errorstr", {ptr(handle)});
    const Fake::Script &s = state().script;
    return s.errorTextIsNull ? nullptr : s.errorText.constData();
}
}
