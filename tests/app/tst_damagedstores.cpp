// Damaged settings stores: whatever the store file holds, the window starts,
// loads exactly the entries that a plain QSettings reader finds readable, and
// its close writes all of them back. The damaged files are mutants of a few
// realistic stores, made with a fixed seed so every run tests the same files.
#include "fakekesmarctl.h"
#include "positionview.h"
#include "storeescapes.h"
#include "testsettings.h"
#include "testwindow.h"

#include <QMap>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <iterator>
#include <random>

using namespace PositionView;

namespace {

// A store as the program writes it on the first close.
const QByteArray freshStore = R"ini([positions]
size=0

[settings]
dev=1
pcmode=false
port=/dev/ttyUSB0
timeout=100
update=1000
)ini";

// A dozen named positions, names with commas, escapes and characters outside
// Latin-1 written the way the store writes them.
const QByteArray namedStore = R"ini([positions]
1\name=home
1\x=0
1\y=0
1\z=0
2\name=pipette tip
2\x=10250
2\y=8000
2\z=15020
3\name=\xdcn\xef\x63\xf8\x64\xe9 \x4f4d\x7f6e \x2603
3\x=1
3\y=2
3\z=3
4\name="slice 2, left"
4\x=4100
4\y=4100
4\z=900
5\name=Zelle \x2013 links \xd83d\xde80
5\x=20500
5\y=0
5\z=20500
6\name=@@bath
6\x=7
6\y=70
6\z=700
7\name=cell 7
7\x=12000
7\y=11000
7\z=10000
8\name=\x43f\x438\x43f\x435\x442\x43a\x430
8\x=300
8\y=301
8\z=302
9\name=park
9\x=20000
9\y=20000
9\z=0
10\name=back\\slash
10\x=10
10\y=11
10\z=12
11\name=\x1f\x7f end
11\x=111
11\y=112
11\z=113
12\name=last one
12\x=5000
12\y=6000
12\z=7000
size=12

[settings]
dev=3
pcmode=false
port=/dev/ttyUSB1
timeout=250
update=500
)ini";

// PC mode, device 0, a long port path and odd but well-formed values: a
// nameless entry, coordinates out of range, a missing one, a duplicate name,
// the size ahead of the entries.
const QByteArray oddStore = R"ini([settings]
dev=0
pcmode=true
port=/dev/serial/by-id/usb-Quellmark_KC-3_0042-if00-port0
timeout=5000
update=20

[positions]
size=5
1\name=below zero
1\x=-5
1\y=-32768
1\z=-1
2\name=
2\x=1
3\name=far out
3\x=65535
3\y=70000
3\z=2147483647
4\name=no z
4\x=4
4\y=44
5\name=far out
5\x=1
5\y=2
5\z=3
)ini";

// Edited by hand: comments, blank space, CRLF line ends, raw UTF-8 bytes,
// keys outside any section and the array before the group.
const QByteArray handEditedStore = "; copied from the rig PC\r\n"
                                   "# do not edit while the program runs\r\n"
                                   "[positions]\r\n"
                                   "size = 3\r\n"
                                   "1\\name = Ecke \xc3\xa4\xc3\xb6\xc3\xbc \xe2\x9c\x93\r\n"
                                   "1\\x = 1000\r\n1\\y=2000\r\n1\\z =3000\r\n"
                                   "3\\name=\"third\"\r\n3\\z=9\r\n"
                                   "\r\n[settings]\r\n"
                                   "port = /dev/ttyACM0 \r\n"
                                   "pcmode = 1\r\n"
                                   "update=250\r\n";

// Values no key should hold, separated by '|'.
const QList<QByteArray> nastyValues
    = QByteArray("99999999999999999999|-2147483649|2147483647|2000000000|-1|1e309|0x10|nan||many|\"unterminated|"
                 "a,b,c|@Invalid()|@ByteArray(\\0\\xff)|@Variant(\\0\\0\\0\\x2\\0\\0\\0\\0\\x7)|"
                 "@Variant(\\0\\0\\x4\\0\\0|@Rect(1 2|\\|\\xd800|/dev/tty\\x416|/dev/tty\xd0\x96|"
                 "\\xd83d\\xde80|a\\0b")
          .split('|');

const QByteArray injectedLines[]
    = {"1\\x\\y=3",        "999999999\\name=a", "size=2000000000", "[positions]",   "[settings]",
       "0\\name=zero",     "-1\\name=minus",    "01\\name=lead",   "+2\\name=plus", "[positions",
       "positions\\size=", "2\\name",           "=orphan",         "[]\n1\\name=b"};

// Deterministic damage: std::mt19937's output is fixed by the standard, and
// only its raw output is used, so every platform makes the same mutants.
class Mutator
{
public:
    explicit Mutator(const QByteArray &original)
        : text(original)
    { }

    int below(int n) { return n > 0 ? int(rng() % unsigned(n)) : 0; }

    QByteArray garbage()
    {
        static const char pool[] = {'\0', '\n', '\r', '\\', '=', '[', ']', '"', '%', '@', ',', ';', 'x', '7'};
        QByteArray out = text;
        for (int edits = 1 + below(3); edits > 0; --edits) {
            QByteArray bytes;
            for (int n = 1 + below(8); n > 0; --n)
                bytes += below(2) ? pool[below(sizeof pool)] : char(0x80 + below(0x80)); // stray UTF-8 bytes
            const int at = below(out.size() + 1);
            if (below(2))
                out.insert(at, bytes);
            else
                out.replace(at, bytes.size(), bytes);
        }
        return out;
    }

    QByteArray nastyValue()
    {
        QList<QByteArray> lines = text.split('\n');
        QList<int> withValue;
        for (int i = 0; i < lines.size(); ++i) {
            if (lines.at(i).contains('='))
                withValue << i;
        }
        const int i = withValue.at(below(withValue.size()));
        changedKey = lines.at(i).left(lines.at(i).indexOf('=')).trimmed();
        lines[i] = lines.at(i).left(lines.at(i).indexOf('=') + 1) + nastyValues.at(below(nastyValues.size()));
        return lines.join('\n');
    }

    QByteArray changedKey; // the key whose value nastyValue() replaced last

    QByteArray brokenLines()
    {
        QList<QByteArray> lines = text.split('\n');
        const int i = below(lines.size());
        switch (below(5)) {
        case 0: // a duplicated key, the copy with another value
            lines.insert(i, lines.at(i) + "9");
            break;
        case 1: // a duplicated section
            return text + '\n' + text.left(below(text.size()));
        case 2:
            lines[i].replace('=', ' ');
            break;
        case 3:
            lines.removeAt(i);
            break;
        default:
            lines.insert(i, injectedLines[below(std::size(injectedLines))]);
        }
        return lines.join('\n');
    }

private:
    QByteArray text;
    std::mt19937 rng{20240611};
};

// The port name as the library receives it: in the file system's encoding,
// UTF-8 here, ending at the first NUL.
QString asPassedToOpen(const QString &port)
{
    return QString::fromUtf8(port.toUtf8().constData());
}

// A store with names and a port outside ASCII, as an earlier build wrote it.
const QByteArray earlierBuildStore = R"ini([positions]
1\name=Zelle \x2013 links \xd83d\xde80
1\x=1
1\y=2
1\z=3
2\name=\x43f\x438\x43f\x435\x442\x43a\x430 \x2603
2\x=4
2\y=5
2\z=6
3\name=Ecke \xe4\xf6\xfc \x2713
3\x=7
3\y=8
3\z=9
4\name="\x4f4d\x7f6e, a"
4\x=10
4\y=11
4\z=12
size=4

[settings]
dev=1
pcmode=false
port=/dev/serial/by-id/usb-\xdcn\xef_\x416-if00
timeout=100
update=1000
)ini";

// The same store as typed into a text editor: raw UTF-8.
const QByteArray typedStore = R"ini([positions]
1\name=Zelle – links 🚀
1\x=1
1\y=2
1\z=3
2\name=пипетка ☃
2\x=4
2\y=5
2\z=6
3\name=Ecke äöü ✓
3\x=7
3\y=8
3\z=9
4\name="位置, a"
4\x=10
4\y=11
4\z=12
size=4

[settings]
port=/dev/serial/by-id/usb-Ünï_Ж-if00
)ini";

struct StoreContent
{
    QStringList settings; // "key=value" for port, dev, update, timeout, pcmode
    QStringList records; // readable named positions, in entry order
    int storedSize = 0;
};

QStringList settingsLines(const QString &port, int dev, int update, int timeout, bool pcmode)
{
    return {"port=" + port, "dev=" + QString::number(dev), "update=" + QString::number(update),
            "timeout=" + QString::number(timeout), pcmode ? "pcmode=true" : "pcmode=false"};
}

} // namespace

class TestDamagedStores : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Every mutant rewrites the store a few times, each write synced to
        // storage; in memory those syncs cost nothing.
        if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
            qputenv("TMPDIR", "/dev/shm");
        TestSettings::isolate();
    }
    void init()
    {
        TestSettings::clear();
        Fake::reset();
    }

    void startsLoadsAndSavesWhatIsReadable_data();
    void startsLoadsAndSavesWhatIsReadable();
    void skipsEntriesWithoutWholeCoordinates_data();
    void skipsEntriesWithoutWholeCoordinates();
    void readsTextAsWrittenAndWritesItAsBefore_data();
    void readsTextAsWrittenAndWritesItAsBefore();
    void escapesUtf8AsQt5Writes_data();
    void escapesUtf8AsQt5Writes();

private:
    StoreContent readIndependently(const QByteArray &file);

    QTemporaryDir copies;
    int copyCount = 0;
};

// What a plain QSettings reader makes of a store file, with the program's
// defaults for missing keys: entries 1..size that exist and have a name.
StoreContent TestDamagedStores::readIndependently(const QByteArray &file)
{
    // A file name of its own each time, so no cached copy of an earlier file is read.
    const QString path = copies.filePath(QStringLiteral("copy%1.conf").arg(++copyCount));
    {
        QFile copy(path);
        if (!copy.open(QIODevice::WriteOnly) || copy.write(file) != file.size())
            qFatal("cannot write %s", qPrintable(path));
    }
    StoreContent content;
    {
        QSettings s(path, QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        s.setIniCodec("UTF-8"); // Qt 6 reads UTF-8 always
#endif
        const QString port = s.value("settings/port").toString();
        bool isNumber = false;
        const int dev = s.value("settings/dev", 1).toInt(&isNumber);
        content.settings
            = settingsLines(port.isEmpty() ? QStringLiteral("/dev/ttyUSB0") : port,
                            isNumber && dev >= 0 && dev <= 99 ? dev : 1, // the device spin box's range, else 1
                            qMax(20, s.value("settings/update", 1000).toInt()), // the polling interval's floor
                            qBound(10, s.value("settings/timeout", 100).toInt(), 1000), // the time-out's range
                            s.value("settings/pcmode", false).toBool());
        content.storedSize = s.value("positions/size").toInt();
        QMap<int, QString> named;
        for (const QString &key : s.allKeys()) {
            const QStringList parts = key.split(QLatin1Char('/'));
            bool ok = false;
            const int n = parts.value(1).toInt(&ok);
            if (parts.size() == 3 && parts.at(0) == "positions" && parts.at(2) == "name" && ok && n >= 1
                && n <= content.storedSize && parts.at(1) == QString::number(n) && !s.value(key).toString().isEmpty())
                named.insert(n, s.value(key).toString());
        }
        // An entry loads only with three whole coordinates within the travel, 0..20500.
        for (auto it = named.cbegin(); it != named.cend(); ++it) {
            const QString entry = QStringLiteral("positions/%1/").arg(it.key());
            bool whole[3] = {};
            const int x = s.value(entry + "x").toString().toInt(&whole[0]);
            const int y = s.value(entry + "y").toString().toInt(&whole[1]);
            const int z = s.value(entry + "z").toString().toInt(&whole[2]);
            const auto inTravel = [](int v) {
                return v >= 0 && v <= 20500;
            };
            if (whole[0] && whole[1] && whole[2] && inTravel(x) && inTravel(y) && inTravel(z))
                content.records << rec(it.value(), x, y, z);
        }
    }
    QFile::remove(path);
    return content;
}

void TestDamagedStores::startsLoadsAndSavesWhatIsReadable_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("waitForOpen");

    // Waiting for the open costs its 100 ms; the load and the save do not need
    // it, so every mutant of a port name waits and one in 32 of the others.
    int row = 0;
    auto add = [&row](const QByteArray &name, const QByteArray &file, bool portMutant = false) {
        QTest::newRow(name.constData()) << file << (portMutant || ++row % 32 == 0);
    };

    const QByteArray named = namedStore.left(namedStore.indexOf("size=12"));
    add("far entry, absurd size", named + "999999999\\name=far\n999999999\\x=9\nsize=2000000000\n");
    add("far entry, largest size", named + "2147483647\\name=far\n2147483646\\name=near\nsize=2147483647\n");
    add("size -1", named + "size=-1\n");
    add("size not a number", named + "size=twelve\n");
    add("size too large to read", named + "size=99999999999999999999\n");
    add("1 MB name", named + "13\\name=" + QByteArray(1 << 20, 'n') + "\n13\\x=1\nsize=13\n");
    add("100 kB port", namedStore + "[settings]\nport=/dev/" + QByteArray(100 << 10, 'p') + '\n', true);
    add("port with Cyrillic", freshStore + "[settings]\nport=/dev/tty\\x416\n", true);
    add("port with emoji", freshStore + "[settings]\nport=/dev/\\xd83d\\xde80\\x2603\n", true);
    add("port with raw UTF-8", freshStore + "[settings]\nport=/dev/tty\xd0\x96\xf0\x9f\x9a\x80\n", true);
    add("port with NUL", freshStore + "[settings]\nport=/dev/tty\\0S0\n", true);
    add("port is a list", freshStore + "[settings]\nport=/dev/a,/dev/b\n", true);
    add("sections twice", namedStore + oddStore);
    add("keys below entry keys", named + "1\\x\\y=3\n2\\name\\z=4\n3\\name=\n999999999\\name=a\nsize=12\n");

    const QList<QPair<QByteArray, QByteArray>> corpus
        = {{"fresh", freshStore}, {"named", namedStore}, {"odd", oddStore}, {"hand-edited", handEditedStore}};
    for (const auto &[label, original] : corpus) {
        const int step = qMax(1, original.size() / 12);
        for (int cut = 0; cut < original.size(); cut += step)
            add(label + " cut at " + QByteArray::number(cut), original.left(cut));
        Mutator mutator(original);
        for (int i = 0; i < 14; ++i)
            add(label + " garbage " + QByteArray::number(i), mutator.garbage());
        for (int i = 0; i < 18; ++i) {
            const QByteArray file = mutator.nastyValue();
            add(label + " value " + QByteArray::number(i), file, mutator.changedKey == "port");
        }
        for (int i = 0; i < 10; ++i)
            add(label + " lines " + QByteArray::number(i), mutator.brokenLines());
    }
}

void TestDamagedStores::startsLoadsAndSavesWhatIsReadable()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, waitForOpen);
    const StoreContent expected = readIndependently(file);
    TestSettings::writeStore(file);

    {
        TestWindow w;
        const PortSettings &s = w.panel().link().portSettings();
        QCOMPARE(settingsLines(s.port, w.panel().link().device(), s.update, s.timeout, s.pcmode), expected.settings);
        QCOMPARE(records(w), expected.records);
        QCOMPARE(items(w), names(expected.records));

        if (waitForOpen) {
            QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 20000);
            QCOMPARE(Fake::callsNamed("open").first().args.first().toString(), asPassedToOpen(s.port));
        }
        w.close();
        // Saving leaves the list as it was.
        QCOMPARE(records(w), expected.records);
    }

    // Every readable position comes back, renumbered from 1 without gaps.
    const StoreContent saved = readIndependently(TestSettings::readStore());
    QCOMPARE(saved.settings, expected.settings);
    QCOMPARE(saved.records, expected.records);
    QCOMPARE(saved.storedSize, expected.records.size());
}

void TestDamagedStores::skipsEntriesWithoutWholeCoordinates_data()
{
    QTest::addColumn<QByteArray>("middle"); // the coordinate lines of entry 2, named "mid"
    QTest::addColumn<QStringList>("loaded");

    const QStringList outer = {rec("first", 1, 2, 3), rec("third", 7, 8, 9)};
    QTest::newRow("x missing") << QByteArray("2\\y=5\n2\\z=6\n") << outer;
    QTest::newRow("all missing") << QByteArray() << outer;
    QTest::newRow("y not a number") << QByteArray("2\\x=4\n2\\y=far\n2\\z=6\n") << outer;
    QTest::newRow("z a fraction") << QByteArray("2\\x=4\n2\\y=5\n2\\z=1.5\n") << outer;
    QTest::newRow("x beyond int") << QByteArray("2\\x=2147483648\n2\\y=5\n2\\z=6\n") << outer;
    QTest::newRow("y a list") << QByteArray("2\\x=4\n2\\y=1,2\n2\\z=6\n") << outer;
    QTest::newRow("z empty") << QByteArray("2\\x=4\n2\\y=5\n2\\z=\n") << outer;
    QTest::newRow("x hexadecimal") << QByteArray("2\\x=0x10\n2\\y=5\n2\\z=6\n") << outer;
    // Whole numbers all, but outside the travel: skipped as damaged.
    QTest::newRow("int's limits and a sign are whole, outside the travel")
        << QByteArray("2\\x=-2147483648\n2\\y=+5\n2\\z=2147483647\n") << outer;
    QTest::newRow("a sign and the travel's bounds load")
        << QByteArray("2\\x=0\n2\\y=+5\n2\\z=20500\n")
        << QStringList{outer.first(), rec("mid", 0, 5, 20500), outer.last()};
}

void TestDamagedStores::skipsEntriesWithoutWholeCoordinates()
{
    QFETCH(QByteArray, middle);
    QFETCH(QStringList, loaded);
    TestSettings::writeStore("[positions]\n1\\name=first\n1\\x=1\n1\\y=2\n1\\z=3\n2\\name=mid\n" + middle
                             + "3\\name=third\n3\\x=7\n3\\y=8\n3\\z=9\nsize=3\n");
    if (loaded.size() == 2) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Stored position 2 \"mid\" not loaded: [xyz] is .+"));
    }
    TestWindow w;
    QCOMPARE(records(w), loaded);
    QCOMPARE(items(w), names(loaded));
}

void TestDamagedStores::readsTextAsWrittenAndWritesItAsBefore_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("written by an earlier build") << earlierBuildStore;
    QTest::newRow("typed in a text editor") << typedStore;
}

void TestDamagedStores::readsTextAsWrittenAndWritesItAsBefore()
{
    QFETCH(QByteArray, file);
    TestSettings::writeStore(file);
    const QString port = QStringLiteral("/dev/serial/by-id/usb-Ünï_Ж-if00");
    {
        TestWindow w;
        QCOMPARE(records(w),
                 QStringList({rec("Zelle – links 🚀", 1, 2, 3), rec("пипетка ☃", 4, 5, 6), rec("Ecke äöü ✓", 7, 8, 9),
                              rec("位置, a", 10, 11, 12)}));
        QCOMPARE(w.panel().link().portSettings().port, port);
        QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
        QCOMPARE(Fake::callsNamed("open").first().args.first().toString(), port);
        w.close();
    }
    // Saved as earlier builds save it, so they read it the same as well.
    QCOMPARE(TestSettings::readStore(), earlierBuildStore);
}

// What Qt 6 writes as UTF-8 becomes what Qt 5 writes, on either Qt; the test
// above sees the whole file only on Qt 6.
void TestDamagedStores::escapesUtf8AsQt5Writes_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<QByteArray>("escaped");
    QTest::newRow("hex digits after an escape") << QByteArray("1\\name=\xc3\x9c"
                                                              "n\xc3\xaf"
                                                              "c\xc3\xb8"
                                                              "d\xc3\xa9 x\n")
                                                << QByteArray(R"(1\name=\xdcn\xef\x63\xf8\x64\xe9 x)"
                                                              "\n");
    QTest::newRow("outside the basic plane") << QByteArray("n=a \xe2\x80\x93 \xf0\x9f\x9a\x80\n")
                                             << QByteArray(R"(n=a \x2013 \xd83d\xde80)"
                                                           "\n");
    QTest::newRow("quoted, with escapes written already") << QByteArray("n=\"\xe4\xbd\x8d, \\x1f\x7f\"\n")
                                                          << QByteArray(R"(n="\x4f4d, \x1f\x7f")"
                                                                        "\n");
    QTest::newRow("ASCII only") << QByteArray("[settings]\nport=/dev/ttyUSB0\n")
                                << QByteArray("[settings]\nport=/dev/ttyUSB0\n");
}

void TestDamagedStores::escapesUtf8AsQt5Writes()
{
    QFETCH(QByteArray, utf8);
    QFETCH(QByteArray, escaped);
    QCOMPARE(escapedStoreText(utf8), escaped);
}

QTEST_MAIN(TestDamagedStores)
#include "tst_damagedstores.moc"
