#include "accessiblereadout.h"

#include "travel.h"

#include <QLCDNumber>

namespace {

QAccessibleInterface *readoutFactory(const QString &className, QObject *object)
{
    auto *readout = qobject_cast<QLCDNumber *>(object);
    if (readout && className == QLatin1String("QLCDNumber"))
        return new AccessibleReadout(readout);
    return nullptr;
}

} // namespace

AccessibleReadout::AccessibleReadout(QLCDNumber *readout)
    : QAccessibleWidget(readout, QAccessible::StaticText)
{ }

void AccessibleReadout::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(readoutFactory);
        return true;
    }();
    Q_UNUSED(installed)
}

void AccessibleReadout::display(QLCDNumber *readout, const QString &text)
{
    install();
    const double value = text.toDouble();
    const bool changed = readout->value() != value;
    readout->display(text);
    if (!changed)
        return;
    QAccessibleValueChangeEvent valueChange(readout, value);
    QAccessible::updateAccessibility(&valueChange);
    QAccessibleEvent nameChange(readout, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&nameChange);
}

QLCDNumber *AccessibleReadout::readout() const
{
    return static_cast<QLCDNumber *>(widget());
}

QString AccessibleReadout::text(QAccessible::Text t) const
{
    const QString value = QString::number(readout()->value());
    if (t == QAccessible::Value)
        return value;
    if (t == QAccessible::Name) {
        const QString name = readout()->accessibleName();
        return name.isEmpty() ? value : name + QLatin1Char(' ') + value;
    }
    return QAccessibleWidget::text(t);
}

void *AccessibleReadout::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface *>(this);
    return QAccessibleWidget::interface_cast(t);
}

QVariant AccessibleReadout::currentValue() const
{
    return readout()->value();
}

QVariant AccessibleReadout::maximumValue() const
{
    return positionMax;
}

QVariant AccessibleReadout::minimumValue() const
{
    return 0;
}

QVariant AccessibleReadout::minimumStepSize() const
{
    return 1;
}
