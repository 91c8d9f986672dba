#ifndef TARGETS_H
#define TARGETS_H

#include <QObject>

#include <array>

// The target the panel sends on Goto: three values, X, Y and Z, each within
// 0..20500. Every view shows it; it changes only through set().
class Targets : public QObject
{
    Q_OBJECT

public:
    using Xyz = std::array<int, 3>;

    explicit Targets(QObject *parent = nullptr);

    const Xyz &values() const { return values_; }
    int at(int axis) const { return values_.at(axis); }
    // Puts a whole target in as one change; a negative value leaves its axis
    // alone, one above the travel is taken as its end. Returns whether any
    // axis changed.
    bool set(int x, int y, int z);
    bool set(const Xyz &xyz) { return set(xyz[0], xyz[1], xyz[2]); }

signals:
    // After each change, with the whole target.
    void changed(int x, int y, int z);

private:
    // Until a reading, an entry or the operator sets them: Z in mid-travel.
    Xyz values_{0, 0, 10000};
};

#endif // TARGETS_H
