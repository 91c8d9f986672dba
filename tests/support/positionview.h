#ifndef POSITIONVIEW_H
#define POSITIONVIEW_H

#include "kesmarcontrol.h"
#include "widgetlookup.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>

// Named positions as the tests write and compare them: one record is the
// text "name:x,y,z"; a window's list and its combo box read as lists of these.
namespace PositionView {

inline QString rec(const QString &name, int x, int y, int z)
{
    return QStringLiteral("%1:%2,%3,%4").arg(name, QString::number(x), QString::number(y), QString::number(z));
}

inline QStringList names(const QStringList &records)
{
    QStringList list;
    for (const QString &r : records)
        list << r.left(r.lastIndexOf(QLatin1Char(':')));
    return list;
}

inline QStringList records(const KesmarControl &w)
{
    QStringList list;
    for (const Position &p : w.panel().positions().positions())
        list << rec(p.name, p.x, p.y, p.z);
    return list;
}

// The texts of the items of the window's "stores" combo box.
inline QStringList items(KesmarControl &w)
{
    const QComboBox *stores = widget<QComboBox>(w, "stores");
    QStringList list;
    for (int i = 0; i < stores->count(); ++i)
        list << stores->itemText(i);
    return list;
}

// Types each record's coordinates and name into the window and presses Store.
inline void store(KesmarControl &w, const QStringList &records)
{
    for (const QString &r : records) {
        const int colon = r.lastIndexOf(QLatin1Char(':'));
        const QStringList xyz = r.mid(colon + 1).split(QLatin1Char(','));
        widget<QSpinBox>(w, "targetX")->setValue(xyz.value(0).toInt());
        widget<QSpinBox>(w, "targetY")->setValue(xyz.value(1).toInt());
        widget<QSpinBox>(w, "targetZ")->setValue(xyz.value(2).toInt());
        widget<QLineEdit>(w, "storeName")->setText(r.left(colon));
        widget<QPushButton>(w, "pushButtonStore")->click();
    }
}

} // namespace PositionView

#endif // POSITIONVIEW_H
