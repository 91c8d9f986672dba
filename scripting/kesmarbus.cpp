#include "kesmarbus.h"

#include <QDBusArgument>
#include <QDBusMetaType>

namespace KesmarBus {

const QString service = QStringLiteral("org.quellmark.KesmarControl");
const QString path = QStringLiteral("/KesmarControl");
const QString interface = QStringLiteral("org.quellmark.KesmarControl1");

const QString errorFailed = interface + QStringLiteral(".Error.Failed");
const QString errorOutOfRange = interface + QStringLiteral(".Error.OutOfRange");
const QString errorNoReading = interface + QStringLiteral(".Error.NoReading");
const QString errorUnknownPosition = interface + QStringLiteral(".Error.UnknownPosition");

void registerTypes()
{
    qDBusRegisterMetaType<Position>();
    qDBusRegisterMetaType<NamedPositionList>();
    // The generated code names the list by its alias.
    qRegisterMetaType<NamedPositionList>("NamedPositionList");
}

} // namespace KesmarBus

QDBusArgument &operator<<(QDBusArgument &argument, const Position &position)
{
    argument.beginStructure();
    argument << position.name << position.x << position.y << position.z;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Position &position)
{
    argument.beginStructure();
    argument >> position.name >> position.x >> position.y >> position.z;
    argument.endStructure();
    return argument;
}
