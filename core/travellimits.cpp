#include "travellimits.h"

#include <QCoreApplication>
#include <QStringList>

#include <optional>

namespace {

// The retract axis and the outward direction are stored as words: "X", "Y"
// or "Z", and "up" (towards larger coordinates) or "down".
const QStringList axisNames{QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("Z")};
const char *const boundKeys[3][2] = {{"xmin", "xmax"}, {"ymin", "ymax"}, {"zmin", "zmax"}};

// A whole number within 0..20500 stored under `key`, if there is one.
std::optional<int> storedCoordinate(const QVariantMap &group, const QString &key)
{
    bool ok = false;
    const int value = group.value(key).toString().toInt(&ok);
    if (!ok || value < 0 || value > positionMax)
        return std::nullopt;
    return value;
}

// A stored true or false, if there is one.
std::optional<bool> storedSwitch(const QVariantMap &group, const QString &key)
{
    const QString text = group.value(key).toString();
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    return std::nullopt;
}

} // namespace

QString TravelLimits::problem() const
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("TravelLimits", text);
    };
    for (int i = 0; i < 3; ++i) {
        const QChar name(u'X' + i);
        if (min[i] < 0 || max[i] > positionMax)
            return tr("%1 limits must lie within 0..%2").arg(name).arg(positionMax);
        if (min[i] > max[i])
            return tr("%1 minimum %2 is above its maximum %3").arg(name).arg(min[i]).arg(max[i]);
    }
    if (axis < 0 || axis > 2)
        return tr("The retract axis must be X, Y or Z");
    if (safe < 0 || safe > positionMax)
        return tr("The safe coordinate must lie within 0..%1").arg(positionMax);
    // Ordered moves go out to the safe coordinate: it must be a place the
    // envelope lets them go.
    if (enabled && ordered && (safe < min[axis] || safe > max[axis]))
        return tr("The safe coordinate %1 lies outside the %2 limits %3..%4")
            .arg(safe)
            .arg(QChar(u'X' + axis))
            .arg(min[axis])
            .arg(max[axis]);
    if (approach < 0 || approach > positionMax)
        return tr("The approach distance must lie within 0..%1").arg(positionMax);
    return QString();
}

int TravelLimits::shortOf(int target) const
{
    const int stop = outwardUp ? target + approach : target - approach;
    return qBound(0, stop, positionMax);
}

TravelLimits::Xyz TravelLimits::retracted(const Xyz &from) const
{
    Xyz out = from;
    if (!furtherOut(from[axis], safe))
        out[axis] = safe;
    return out;
}

TravelLimits TravelLimits::fromGroup(const QVariantMap &group)
{
    TravelLimits limits;
    limits.enabled = storedSwitch(group, QStringLiteral("enabled")).value_or(false);
    for (int i = 0; i < 3; ++i) {
        const std::optional<int> low = storedCoordinate(group, QLatin1String(boundKeys[i][0]));
        const std::optional<int> high = storedCoordinate(group, QLatin1String(boundKeys[i][1]));
        // Bounds are taken as a pair: one without the other, or a minimum
        // above its maximum, is no envelope the operator set.
        if (low && high && *low <= *high) {
            limits.min[i] = *low;
            limits.max[i] = *high;
        }
    }
    limits.ordered = storedSwitch(group, QStringLiteral("ordered")).value_or(false);
    const int axis = axisNames.indexOf(group.value(QStringLiteral("axis")).toString());
    if (axis >= 0)
        limits.axis = axis;
    limits.outwardUp = group.value(QStringLiteral("outward")).toString() != QLatin1String("down");
    limits.safe = storedCoordinate(group, QStringLiteral("safe")).value_or(limits.safe);
    limits.approach = storedCoordinate(group, QStringLiteral("approach")).value_or(limits.approach);
    // A safe coordinate the envelope no longer takes is brought to its edge.
    if (!limits.problem().isEmpty())
        limits.safe = qBound(limits.min[limits.axis], limits.safe, limits.max[limits.axis]);
    return limits;
}

QVariantMap TravelLimits::toGroup() const
{
    QVariantMap group{{QStringLiteral("enabled"), enabled},
                      {QStringLiteral("ordered"), ordered},
                      {QStringLiteral("axis"), axisNames.at(axis)},
                      {QStringLiteral("outward"), outwardUp ? QStringLiteral("up") : QStringLiteral("down")},
                      {QStringLiteral("safe"), safe},
                      {QStringLiteral("approach"), approach}};
    for (int i = 0; i < 3; ++i) {
        group.insert(QLatin1String(boundKeys[i][0]), min[i]);
        group.insert(QLatin1String(boundKeys[i][1]), max[i]);
    }
    return group;
}
