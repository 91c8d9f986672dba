// Child processes of the benchmark driver that run the main window offscreen
// with a store of N named positions: loading (the constructor), Store, Remove
// and saving (close), next to raw QSettings reads and writes of the same file
// and to the bare combo box operations.
#include "scale.h"

#include "benchutil.h"
#include "kesmarcontrol.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The main window names this struct its friend so that tests can reach its
// state; the benchmark needs only the settings store, to flush it.
struct KesmarControlProbe
{
    static QSettings &settings(KesmarControl &w) { return w.settings; }
};

namespace bench {
namespace {

const QString Organisation = QStringLiteral("quellmark");
const QString Application = QStringLiteral("orvex");
const QString StoreRelative = QStringLiteral("/quellmark/orvex.conf");

QString entryName(int i)
{
    return QStringLiteral("Position %1").arg(i + 1);
}

// Every entry has its own coordinates, so Store with new coordinates always adds.
int entryX(int i)
{
    return i % 20001;
}
int entryY(int i)
{
    return i / 20001;
}
constexpr int EntryZ = 500;

void useStoreIn(const QString &dir)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
}

// The "positions" array of N entries, as the program writes it, put on disk.
void writePositions(QSettings &s, int n)
{
    s.beginWriteArray(QStringLiteral("positions"));
    for (int i = 0; i < n; ++i) {
        s.setArrayIndex(i);
        s.setValue(QStringLiteral("name"), entryName(i));
        s.setValue(QStringLiteral("x"), entryX(i));
        s.setValue(QStringLiteral("y"), entryY(i));
        s.setValue(QStringLiteral("z"), EntryZ);
    }
    s.endArray();
    s.sync();
}

// A store as the program writes it: the settings group and N positions. The
// port names nothing, so the window's own open fails at once and quietly.
void writeTemplate(const QString &dir, int n)
{
    QDir().mkpath(dir);
    useStoreIn(dir);
    QSettings s(Organisation, Application);
    s.clear();
    s.beginGroup(QStringLiteral("settings"));
    s.setValue(QStringLiteral("port"), QStringLiteral("/nonexistent/kesmarbench-port"));
    s.setValue(QStringLiteral("dev"), 1);
    s.setValue(QStringLiteral("update"), 1000);
    s.setValue(QStringLiteral("timeout"), 100);
    s.setValue(QStringLiteral("pcmode"), false);
    s.endGroup();
    writePositions(s, n);
}

// A fresh copy of the template in a folder of its own: QSettings keeps parsed
// files cached per path, so every measured read must see a path it never saw.
QString freshCopy(const QString &templateDir, const QString &dir)
{
    QDir().mkpath(dir + QStringLiteral("/quellmark"));
    QFile::remove(dir + StoreRelative);
    if (!QFile::copy(templateDir + StoreRelative, dir + StoreRelative)) {
        std::fprintf(stderr, "kesmarbench: cannot copy the store to %s\n", qPrintable(dir));
        std::exit(1);
    }
    return dir;
}

double us(long long since)
{
    return static_cast<double>(nowNs() - since) / 1000.0;
}

// The floor of loading: open the store and read every key the program reads,
// the settings group and each entry of the array.
__attribute__((noinline)) long long rawRead()
{
    QSettings s(Organisation, Application);
    long long sum = 0;
    s.beginGroup(QStringLiteral("settings"));
    sum += s.value(QStringLiteral("dev"), 1).toInt();
    sum += s.value(QStringLiteral("port"), QString()).toString().size();
    sum += s.value(QStringLiteral("timeout"), 100).toInt();
    sum += s.value(QStringLiteral("update"), 1000).toInt();
    sum += s.value(QStringLiteral("pcmode"), false).toBool();
    s.endGroup();
    const int n = s.beginReadArray(QStringLiteral("positions"));
    for (int i = 0; i < n; ++i) {
        s.setArrayIndex(i);
        sum += s.value(QStringLiteral("name")).toString().size();
        sum += s.value(QStringLiteral("x")).toInt();
        sum += s.value(QStringLiteral("y")).toInt();
        sum += s.value(QStringLiteral("z")).toInt();
    }
    s.endArray();
    return sum;
}

// The floor of saving: write the same array and put it on disk.
__attribute__((noinline)) void rawWrite(int n)
{
    QSettings s(Organisation, Application);
    writePositions(s, n);
}

int storedCount(const QString &dir)
{
    useStoreIn(dir);
    QSettings s(Organisation, Application);
    const int n = s.beginReadArray(QStringLiteral("positions"));
    s.endArray();
    return n;
}

void print(const char *key, const std::vector<double> &values)
{
    std::printf("%s", key);
    for (double v : values)
        std::printf(" %.3f", v);
    std::printf("\n");
}

template <typename T> T *child(QWidget &w, const char *name)
{
    T *c = w.findChild<T *>(QString::fromLatin1(name));
    if (!c) {
        std::fprintf(stderr, "kesmarbench: the window has no %s\n", name);
        std::exit(1);
    }
    return c;
}

} // namespace

int runScaleChild(int argc, char **argv, int n, int reps, int ops, const std::string &work)
{
    QApplication app(argc, argv);
    const QString base = QString::fromStdString(work);
    const QString templateDir = base + QStringLiteral("/template");
    writeTemplate(templateDir, n);

    // The first window of a process pays for fonts, style and the platform;
    // that is start-up, not loading.
    useStoreIn(base + QStringLiteral("/warm"));
    delete new KesmarControl;

    std::vector<double> constructEmpty, construct, showEmpty, show, store, remove, save, read, write, comboAdd,
        comboRemove;
    bool checked = true;
    for (int rep = 0; rep < reps; ++rep) {
        const QString repDir = base + QStringLiteral("/rep%1").arg(rep);

        // The constant part of construction: the same window with no store.
        useStoreIn(repDir + QStringLiteral("/empty"));
        long long t0 = nowNs();
        auto *empty = new KesmarControl;
        constructEmpty.push_back(us(t0));
        t0 = nowNs();
        empty->show();
        QCoreApplication::processEvents();
        showEmpty.push_back(us(t0));
        delete empty;

        const QString windowDir = freshCopy(templateDir, repDir + QStringLiteral("/window"));
        useStoreIn(windowDir);
        t0 = nowNs();
        auto *w = new KesmarControl;
        construct.push_back(us(t0));
        t0 = nowNs();
        w->show();
        QCoreApplication::processEvents();
        show.push_back(us(t0));

        auto *stores = child<QComboBox>(*w, "stores");
        checked = checked && stores->count() == n;
        for (int i = 0; i < ops; ++i) {
            child<QSpinBox>(*w, "targetX")->setValue(i);
            child<QSpinBox>(*w, "targetY")->setValue(20500);
            child<QSpinBox>(*w, "targetZ")->setValue(20500);
            child<QLineEdit>(*w, "storeName")->setText(QStringLiteral("Bench %1").arg(i));
            auto *button = child<QPushButton>(*w, "pushButtonStore");
            QCoreApplication::processEvents();
            t0 = nowNs();
            button->click();
            store.push_back(us(t0));
        }
        checked = checked && stores->count() == n + ops;
        for (int i = 0; i < ops; ++i) {
            stores->setCurrentIndex(0);
            auto *button = child<QPushButton>(*w, "pushButtonRemove");
            QCoreApplication::processEvents();
            t0 = nowNs();
            button->click();
            remove.push_back(us(t0));
        }
        checked = checked && stores->count() == n;
        QCoreApplication::processEvents();
        t0 = nowNs();
        w->close();
        KesmarControlProbe::settings(*w).sync();
        save.push_back(us(t0));
        delete w;
        checked = checked && storedCount(windowDir) == n;

        useStoreIn(freshCopy(templateDir, repDir + QStringLiteral("/read")));
        t0 = nowNs();
        const long long sum = rawRead();
        read.push_back(us(t0));
        checked = checked && sum > 0;

        const QString writeDir = freshCopy(templateDir, repDir + QStringLiteral("/write"));
        useStoreIn(writeDir);
        t0 = nowNs();
        rawWrite(n);
        write.push_back(us(t0));
        checked = checked && storedCount(writeDir) == n;

        // The bare widget work of Store and Remove: a combo box of N items.
        QStringList names;
        for (int i = 0; i < n; ++i)
            names << entryName(i);
        QComboBox box;
        box.addItems(names);
        box.show();
        QCoreApplication::processEvents();
        for (int i = 0; i < ops; ++i) {
            t0 = nowNs();
            box.addItem(QStringLiteral("Bench %1").arg(i));
            comboAdd.push_back(us(t0));
        }
        for (int i = 0; i < ops; ++i) {
            box.setCurrentIndex(0);
            QCoreApplication::processEvents();
            t0 = nowNs();
            box.removeItem(0);
            comboRemove.push_back(us(t0));
        }
    }

    print("construct_empty", constructEmpty);
    print("construct", construct);
    print("show_empty", showEmpty);
    print("show", show);
    print("store", store);
    print("remove", remove);
    print("save", save);
    print("raw_read", read);
    print("raw_write", write);
    print("combo_add", comboAdd);
    print("combo_remove", comboRemove);
    std::printf("checked %s\n", checked ? "yes" : "no");
    return checked ? 0 : 1;
}

int runLoadChild(int argc, char **argv, const std::string &kind, const std::string &templateDir,
                 const std::string &work)
{
    QApplication app(argc, argv);
    useStoreIn(freshCopy(QString::fromStdString(templateDir), QString::fromStdString(work)));
    if (kind == "window") {
        KesmarControl w;
        return child<QComboBox>(w, "stores")->count() >= 0 ? 0 : 1;
    }
    return rawRead() >= 0 ? 0 : 1;
}

} // namespace bench
