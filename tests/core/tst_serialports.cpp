// The serial ports Settings offers, found in a made-up /dev and /sys.
#include "serialports.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSerialPorts : public QObject
{
    Q_OBJECT

private slots:
    void found_data();
    void found();
};

namespace {

void write(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text + '\n');
}

void link(const QString &target, const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QVERIFY(QFile::link(target, path));
}

// Makes one terminal from its description "name device [maker/product] [by-id name]": device is
// "usb", "platform" (a legacy 8250 placeholder), "pnp" (a real serial port) or "none" (virtual).
void make(const QString &root, const QString &entry)
{
    const QStringList part = entry.split(QLatin1Char(' '));
    const QString name = part[0], kind = part[1];
    write(root + "/dev/" + name, {});
    if (kind == QLatin1String("none")) {
        QDir().mkpath(root + "/sys/class/tty/" + name);
        return;
    }
    QString device;
    if (kind == QLatin1String("usb")) {
        const QString usb = root + "/sys/devices/pci0/usb1/1-" + name;
        const QStringList names = part[2].split(QLatin1Char('/'));
        if (!names[0].isEmpty())
            write(usb + "/manufacturer", names[0].toUtf8());
        write(usb + "/product", names[1].toUtf8());
        device = usb + "/1-1:1.0/" + name;
    } else {
        device = root
            + (kind == QLatin1String("platform") ? "/sys/devices/platform/serial8250/" : "/sys/devices/pnp0/00:04/")
            + name;
        QDir().mkpath(root + "/sys/bus/drivers/port");
        link(root + "/sys/bus/drivers/port", device + "/driver");
    }
    QDir().mkpath(device);
    link(device, root + "/sys/class/tty/" + name + "/device");
    if (part.size() > 3)
        link("../../" + name, root + "/dev/serial/by-id/" + part[3]);
}

} // namespace

void TestSerialPorts::found_data()
{
    QTest::addColumn<QStringList>("terminals");
    QTest::addColumn<QStringList>("expected"); // "path | description", the root left out

    QTest::newRow("a USB adapter under its by-id name, with maker and product")
        << QStringList{"ttyUSB0 usb Quellmark/Unit_A1 usb-Quellmark_Unit_A1-if00-port0"}
        << QStringList{"/dev/serial/by-id/usb-Quellmark_Unit_A1-if00-port0 | Quellmark Unit_A1 (ttyUSB0)"};
    QTest::newRow("by-id names first, then the terminals no name leads to")
        << QStringList{"ttyACM0 usb /Board", "ttyUSB1 usb Maker/Cable usb-Maker_Cable-if00"}
        << QStringList{"/dev/serial/by-id/usb-Maker_Cable-if00 | Maker Cable (ttyUSB1)",
                       "/dev/ttyACM0 | Board (ttyACM0)"};
    QTest::newRow("placeholders and virtual terminals left out, a real port kept")
        << QStringList{"ttyS0 pnp", "ttyS1 platform", "tty1 none", "console none"}
        << QStringList{"/dev/ttyS0 | port (ttyS0)"};
    QTest::newRow("nothing there") << QStringList() << QStringList();
}

void TestSerialPorts::found()
{
    QFETCH(QStringList, terminals);
    QFETCH(QStringList, expected);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QDir().mkpath(root.path() + "/sys/class/tty");
    for (const QString &terminal : terminals) {
        make(root.path(), terminal);
        if (QTest::currentTestFailed())
            return;
    }
    QStringList seen;
    for (const SerialPort &port : presentSerialPorts(root.path() + "/dev", root.path() + "/sys"))
        seen << port.path.mid(root.path().size()) + " | " + port.description;
    QCOMPARE(seen, expected);
}

QTEST_GUILESS_MAIN(TestSerialPorts)
#include "tst_serialports.moc"
