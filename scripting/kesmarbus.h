#ifndef KESMARBUS_H
#define KESMARBUS_H

#include "journalrow.h"
#include "position.h"

#include <QList>
#include <QMetaType>
#include <QString>

class QDBusArgument;

// The named positions as they travel on the bus, a(siii). A name of its own,
// since the interface's members include one called Position.
using NamedPositionList = QList<Position>;
// Rows of the journal of moves as they travel on the bus, a(txissbiiiiiiiiisssiiix).
using JournalRowList = QList<JournalRow>;

// Names of the panel's scripting interface on the session bus, shared by the
// panel and the command-line client. org.quellmark.KesmarControl1.xml beside
// this file is the reference for the members.
namespace KesmarBus {

extern const QString service;
extern const QString path;
extern const QString interface;

// The D-Bus errors the panel answers with.
extern const QString errorFailed;
extern const QString errorOutOfRange;
extern const QString errorNoReading;
extern const QString errorUnknownPosition;

// Makes NamedPositionList and JournalRowList known to QtDBus. Call once
// before the first call, reply or signal that carries them.
void registerTypes();

} // namespace KesmarBus

QDBusArgument &operator<<(QDBusArgument &argument, const Position &position);
const QDBusArgument &operator>>(const QDBusArgument &argument, Position &position);
QDBusArgument &operator<<(QDBusArgument &argument, const JournalRow &row);
const QDBusArgument &operator>>(const QDBusArgument &argument, JournalRow &row);

Q_DECLARE_METATYPE(Position)

#endif // KESMARBUS_H
