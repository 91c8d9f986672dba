#include "serialports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

QString readLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine()).trimmed();
}

// The terminal's device in sysfs, or "" when it has none (a virtual terminal).
QString deviceOf(const QString &sys, const QString &terminal)
{
    const QFileInfo device(sys + QStringLiteral("/class/tty/") + terminal + QStringLiteral("/device"));
    return device.exists() ? device.canonicalFilePath() : QString();
}

// "Maker Product (ttyUSB0)" from the nearest USB device above the terminal,
// else the driver's name.
QString describe(const QString &sys, const QString &terminal)
{
    QString dir = deviceOf(sys, terminal);
    for (int up = 0; up < 4 && !dir.isEmpty(); ++up) {
        const QString product = readLine(dir + QStringLiteral("/product"));
        if (!product.isEmpty()) {
            const QString maker = readLine(dir + QStringLiteral("/manufacturer"));
            return QStringLiteral("%1 (%2)").arg((maker.isEmpty() ? product : maker + ' ' + product), terminal);
        }
        dir = QFileInfo(dir).path();
    }
    const QString driver = QFileInfo(deviceOf(sys, terminal) + QStringLiteral("/driver")).canonicalFilePath();
    return driver.isEmpty() ? terminal : QStringLiteral("%1 (%2)").arg(QFileInfo(driver).fileName(), terminal);
}

// A terminal with a device of its own, other than the legacy 8250 platform
// ports (ttyS0..ttyS31), which exist whether or not any hardware is there.
bool isPort(const QString &sys, const QString &terminal)
{
    const QString device = deviceOf(sys, terminal);
    return !device.isEmpty() && !device.contains(QLatin1String("/serial8250"));
}

} // namespace

QList<SerialPort> presentSerialPorts(const QString &dev, const QString &sys)
{
    QList<SerialPort> ports;
    QSet<QString> named;
    const QDir byId(dev + QStringLiteral("/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString terminal = QFileInfo(link.symLinkTarget()).fileName();
        named << terminal;
        ports.append({link.absoluteFilePath(), describe(sys, terminal)});
    }
    const QDir terminals(sys + QStringLiteral("/class/tty"));
    for (const QString &terminal :
         terminals.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (named.contains(terminal) || !isPort(sys, terminal) || !QFileInfo::exists(dev + '/' + terminal))
            continue;
        ports.append({dev + '/' + terminal, describe(sys, terminal)});
    }
    return ports;
}
