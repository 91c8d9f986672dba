#ifndef FAKEKESMARCTL_H
#define FAKEKESMARCTL_H

#include "libkesmarctl.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <functional>

// Scripted test double of the control library. It records every call with
// its arguments and the time it was made, and answers with what the test set.
namespace Fake {

struct Call
{
    QString name;
    QVariantList args; // handle arguments are recorded as quintptr
    qint64 atMs; // milliseconds since reset()
};

struct Position
{
    int result = 0;
    int x = 0, y = 0, z = 0; // written to the outputs, also on failure
};

struct Script
{
    bool openSucceeds = true;
    uint8_t connectionId = 'A'; // byte at offset 4 of the connection record
    int selectResult = 0;
    int recvResult = 0;
    Position position;
    int storeResult = 0;
    int gotoResult = 0;
    Position memPosition{-1, 0, 0, 0}; // nothing stored yet
    // The text the library gives for its last failure; a null text is allowed.
    QByteArray errorText = "fake failure";
    bool errorTextIsNull = false;

    // Optional hooks that decide a call's result; they override the fields.
    std::function<int(uint8_t id)> onSelect;
    std::function<int()> onRecv;
    std::function<Position(uint8_t id, int time)> onPosition;
};

// The script of the calls to come and the record of those made.
Script &script();
QList<Call> &calls();

// Forgets all calls and restores the default script; restarts the clock.
void reset();

// Names of the calls made, in order, optionally only those named `filter`.
QStringList callNames();
QList<Call> callsNamed(const QString &name);
int count(const QString &name);

// The targets sent since reset(), one "x y z" per store call; a store that
// is not directly followed by the goto of the same device and memory
// position 0 is marked " (no goto)".
QStringList sentTargets();

// Connection records handed out by open and not yet closed.
int openConnections();
// The handle the last successful open handed out, as calls record handles
// (quintptr); kept across reset().
QVariant lastOpened();

} // namespace Fake

#endif // FAKEKESMARCTL_H
