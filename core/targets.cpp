#include "targets.h"

#include "travel.h"

#include <algorithm>

Targets::Targets(QObject *parent)
    : QObject(parent)
{ }

bool Targets::set(int x, int y, int z)
{
    const Xyz before = values_;
    const int wanted[] = {x, y, z};
    for (int axis = 0; axis < 3; ++axis) {
        if (wanted[axis] >= 0)
            values_[axis] = std::min(wanted[axis], positionMax);
    }
    if (values_ == before)
        return false;
    emit changed(values_[0], values_[1], values_[2]);
    return true;
}
