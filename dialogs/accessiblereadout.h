#ifndef ACCESSIBLEREADOUT_H
#define ACCESSIBLEREADOUT_H

#include <QAccessibleWidget>

class QLCDNumber;

// What a screen reader gets of a position readout (a QLCDNumber): its name
// with the value ("X position 10250"), the value itself through the value
// interface, and a name and a value change event whenever a reading changes
// it. Qt's own interface for the number gives only its accessible name.
class AccessibleReadout : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit AccessibleReadout(QLCDNumber *readout);

    // Shows `text` (a number: whole steps, or micrometres with a decimal) in
    // the readout and tells a screen reader when it changed. Installs the
    // interface for every QLCDNumber on its first call.
    static void display(QLCDNumber *readout, const QString &text);
    static void display(QLCDNumber *readout, int value) { display(readout, QString::number(value)); }
    // Installs the interface for every QLCDNumber of the program (once).
    static void install();

    QString text(QAccessible::Text t) const override;
    void *interface_cast(QAccessible::InterfaceType t) override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant &) override { }
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

private:
    QLCDNumber *readout() const;
};

#endif // ACCESSIBLEREADOUT_H
