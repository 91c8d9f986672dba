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
    qDBusRegisterMetaType<JournalRow>();
    qDBusRegisterMetaType<JournalRowList>();
    qRegisterMetaType<JournalRowList>("JournalRowList");
}

} // namespace KesmarBus

namespace {

void putXyz(QDBusArgument &argument, const std::optional<JournalRow::Xyz> &xyz)
{
    const JournalRow::Xyz value = xyz.value_or(JournalRow::Xyz{});
    argument << value[0] << value[1] << value[2];
}

std::optional<JournalRow::Xyz> takeXyz(const QDBusArgument &argument, bool present)
{
    JournalRow::Xyz value{};
    argument >> value[0] >> value[1] >> value[2];
    return present ? std::optional(value) : std::nullopt;
}

} // namespace

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

QDBusArgument &operator<<(QDBusArgument &argument, const JournalRow &row)
{
    argument.beginStructure();
    argument << qulonglong(row.id) << qlonglong(row.timeMs) << row.device << JournalRow::sourceName(row.source)
             << row.stage << row.before.has_value();
    putXyz(argument, row.before);
    putXyz(argument, row.target);
    putXyz(argument, row.distance());
    argument << JournalRow::outcomeName(row.outcome) << row.message << JournalRow::endName(row.end);
    putXyz(argument, row.at);
    argument << qlonglong(row.endMs);
    argument.endStructure();
    return argument;
}

// Words it does not know (from a newer panel) read as the first of their kind.
const QDBusArgument &operator>>(const QDBusArgument &argument, JournalRow &row)
{
    qulonglong id = 0;
    qlonglong time = 0, endTime = 0;
    QString source, outcome, end;
    bool hasBefore = false;
    argument.beginStructure();
    argument >> id >> time >> row.device >> source >> row.stage >> hasBefore;
    row.before = takeXyz(argument, hasBefore);
    row.target = takeXyz(argument, true).value();
    takeXyz(argument, false); // the distance, which the row computes
    argument >> outcome >> row.message >> end;
    row.id = id;
    row.timeMs = time;
    row.source = JournalRow::sourceFromName(source).value_or(JournalRow::Source::Goto);
    row.outcome = JournalRow::outcomeFromName(outcome).value_or(JournalRow::Outcome::Sent);
    row.end = JournalRow::endFromName(end).value_or(JournalRow::End::Open);
    row.at = takeXyz(argument, row.end != JournalRow::End::Open);
    argument >> endTime;
    row.endMs = endTime;
    argument.endStructure();
    return argument;
}
