#include "journalrow.h"

#include <QDateTime>

namespace {

// The words, in the order of the enums.
const std::array<const char *, JournalRow::sourceCount> sourceNames{
    "Goto",   "Follow Target", "list entry", "Copy",    "Restore",  "pad", "key",
    "script", "Retract",       "Return",     "Advance", "Withdraw", "Halt"};
const std::array<const char *, 3> outcomeNames{"sent", "refused", "failed"};
const std::array<const char *, 4> endNames{"", "arrived", "stopped short", "halted"};

template <class Enum, size_t n>
std::optional<Enum> fromName(const std::array<const char *, n> &names, const QString &name)
{
    for (size_t i = 0; i < n; ++i) {
        if (name == QLatin1String(names[i]))
            return Enum(i);
    }
    return std::nullopt;
}

// A field as CSV has it: quoted, with its quotes doubled, when it holds a
// comma, a quote or a line break, or starts or ends with a space.
QString csvField(const QString &field)
{
    const bool quote = field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"'))
        || field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'))
        || (!field.isEmpty() && (field.front().isSpace() || field.back().isSpace()));
    if (!quote)
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

void addXyz(QStringList &fields, const std::optional<JournalRow::Xyz> &xyz)
{
    for (int axis = 0; axis < 3; ++axis)
        fields << (xyz ? QString::number(xyz->at(axis)) : QString());
}

} // namespace

std::optional<JournalRow::Xyz> JournalRow::distance() const
{
    if (!before)
        return std::nullopt;
    return Xyz{target[0] - before->at(0), target[1] - before->at(1), target[2] - before->at(2)};
}

QString JournalRow::sourceName(Source source)
{
    return QLatin1String(sourceNames.at(size_t(source)));
}

QString JournalRow::outcomeName(Outcome outcome)
{
    return QLatin1String(outcomeNames.at(size_t(outcome)));
}

QString JournalRow::endName(End end)
{
    return QLatin1String(endNames.at(size_t(end)));
}

std::optional<JournalRow::Source> JournalRow::sourceFromName(const QString &name)
{
    return fromName<Source>(sourceNames, name);
}

std::optional<JournalRow::Outcome> JournalRow::outcomeFromName(const QString &name)
{
    return fromName<Outcome>(outcomeNames, name);
}

std::optional<JournalRow::End> JournalRow::endFromName(const QString &name)
{
    return fromName<End>(endNames, name);
}

QString JournalRow::xyzText(const std::optional<Xyz> &xyz)
{
    return xyz ? QStringLiteral("%1 %2 %3").arg(xyz->at(0)).arg(xyz->at(1)).arg(xyz->at(2)) : QString();
}

QString JournalRow::isoTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString JournalRow::csvHeader()
{
    return QStringLiteral("id,time,device,source,stage,before_x,before_y,before_z,target_x,target_y,target_z,"
                          "distance_x,distance_y,distance_z,outcome,message,end,at_x,at_y,at_z,end_time");
}

QString JournalRow::csvLine() const
{
    QStringList fields{QString::number(id), isoTime(timeMs), QString::number(device), sourceName(source), stage};
    addXyz(fields, before);
    addXyz(fields, target);
    addXyz(fields, distance());
    fields << outcomeName(outcome) << message << endName(end);
    addXyz(fields, at);
    fields << (endMs ? isoTime(endMs) : QString());
    for (QString &field : fields)
        field = csvField(field);
    return fields.join(QLatin1Char(','));
}
