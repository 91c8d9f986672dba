#include "travellimits.h"

#include <QCoreApplication>

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
    if (approach < 0 || approach > positionMax)
        return tr("The approach distance must lie within 0..%1").arg(positionMax);
    return QString();
}

int TravelLimits::shortOf(int target) const
{
    const int stop = outwardUp ? target + approach : target - approach;
    return qBound(0, stop, positionMax);
}
