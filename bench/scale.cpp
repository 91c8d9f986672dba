#include "scale.h"

#include "testwindow.h"
#include "widgetlookup.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <chrono>
#include <functional>

namespace bench {
namespace {

const QString Organisation = QStringLiteral("quellmark");
const QString Application = QStringLiteral("orvex");
const QString StoreFile = QStringLiteral("/quellmark/orvex.conf");

void useStoreIn(const QString &dir)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
}

// µs that `step` takes.
double timed(const std::function<void()> &step)
{
    const auto t0 = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
}

// The "positions" array of N entries, each with its own coordinates (so Store
// with new ones always adds), as the program writes it, put on disk.
void writePositions(QSettings &s, int n)
{
    s.beginWriteArray(QStringLiteral("positions"));
    for (int i = 0; i < n; ++i) {
        s.setArrayIndex(i);
        s.setValue(QStringLiteral("name"), QStringLiteral("Position %1").arg(i + 1));
        s.setValue(QStringLiteral("x"), i % 20001);
        s.setValue(QStringLiteral("y"), i / 20001);
        s.setValue(QStringLiteral("z"), 500);
    }
    s.endArray();
    s.sync();
}

// A store as the program writes it. The port names nothing, so the window's
// own open fails at once and quietly.
void writeTemplate(const QString &dir, int n)
{
    useStoreIn(dir);
    QSettings s(Organisation, Application);
    s.clear();
    s.setValue(QStringLiteral("settings/port"), QStringLiteral("/nonexistent/kesmarbench-port"));
    s.setValue(QStringLiteral("settings/dev"), 1);
    s.setValue(QStringLiteral("settings/update"), 1000);
    s.setValue(QStringLiteral("settings/timeout"), 100);
    s.setValue(QStringLiteral("settings/pcmode"), false);
    writePositions(s, n);
}

// A fresh copy of the template in a folder of its own, made the store: QSettings
// keeps parsed files cached per path, so every measured read must see a new path.
QString freshCopy(const QString &templateDir, const QString &dir)
{
    QDir().mkpath(dir + QStringLiteral("/quellmark"));
    QFile::copy(templateDir + StoreFile, dir + StoreFile);
    useStoreIn(dir);
    return dir;
}

// The floor of loading: open the store and read every key the program reads.
long long rawRead()
{
    QSettings s(Organisation, Application);
    long long sum = 0;
    for (const char *key : {"settings/dev", "settings/port", "settings/timeout", "settings/update", "settings/pcmode"})
        sum += s.value(QLatin1String(key)).toString().size();
    const int n = s.beginReadArray(QStringLiteral("positions"));
    for (int i = 0; i < n; ++i) {
        s.setArrayIndex(i);
        sum += s.value(QStringLiteral("name")).toString().size() + s.value(QStringLiteral("x")).toInt()
            + s.value(QStringLiteral("y")).toInt() + s.value(QStringLiteral("z")).toInt();
    }
    s.endArray();
    return sum;
}

int storedCount(const QString &dir)
{
    useStoreIn(dir);
    QSettings s(Organisation, Application);
    const int n = s.beginReadArray(QStringLiteral("positions"));
    s.endArray();
    return n;
}

} // namespace

Figures measureScale(int n, int reps, int ops, const QString &work)
{
    const QString templateDir = work + QStringLiteral("/template");
    writeTemplate(templateDir, n);
    // The first window of a process pays for fonts, style and the platform;
    // that is start-up, not loading.
    useStoreIn(work + QStringLiteral("/warm"));
    delete new TestWindow;

    Figures f;
    bool checked = true;
    for (int rep = 0; rep < reps; ++rep) {
        const QString dir = work + QStringLiteral("/rep%1").arg(rep);
        // Loading: construction with the store minus construction without one.
        useStoreIn(dir + QStringLiteral("/empty"));
        TestWindow *w = nullptr;
        const double empty = timed([&] { w = new TestWindow; });
        delete w;
        const QString windowDir = freshCopy(templateDir, dir + QStringLiteral("/window"));
        f["load"].push_back(timed([&] { w = new TestWindow; }) - empty);
        w->show();

        auto *stores = widget<QComboBox>(*w, QStringLiteral("stores"));
        SettingsStore &settings = w->panel().settingsStore();
        checked = checked && stores->count() == n;
        // Each click is timed on its own, with the event loop run in
        // between, as an operator's clicks come. A Store waits for the save
        // before it to end, and is then followed until its own save has ended.
        const auto click = [&](const char *what, const std::function<void()> &act) {
            const bool followed = std::string(what) == "store";
            while (followed && !settings.isSettled())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
            QCoreApplication::processEvents();
            const auto t0 = std::chrono::steady_clock::now();
            f[what].push_back(timed(act));
            while (followed && !settings.isSettled())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
            if (followed)
                f["store_saved"].push_back(
                    std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
        };
        auto *store = widget<QPushButton>(*w, QStringLiteral("pushButtonStore"));
        for (int i = 0; i < ops; ++i) {
            widget<QSpinBox>(*w, QStringLiteral("targetX"))->setValue(i);
            widget<QSpinBox>(*w, QStringLiteral("targetY"))->setValue(20500);
            widget<QLineEdit>(*w, QStringLiteral("storeName"))->setText(QStringLiteral("Bench %1").arg(i));
            click("store", [&] { store->click(); });
        }
        // Unnamed: the entry gets the first free default name.
        for (int i = 0; i < ops; ++i) {
            widget<QSpinBox>(*w, QStringLiteral("targetX"))->setValue(i);
            widget<QSpinBox>(*w, QStringLiteral("targetY"))->setValue(20499);
            widget<QLineEdit>(*w, QStringLiteral("storeName"))->clear();
            click("store_unnamed", [&] { store->click(); });
        }
        checked = checked && stores->count() == n + 2 * ops;
        auto *undo = widget<QAction>(*w, QStringLiteral("actionUndo"));
        auto *redo = widget<QAction>(*w, QStringLiteral("actionRedo"));
        for (int i = 0; i < ops; ++i)
            click("undo", [&] { undo->trigger(); });
        for (int i = 0; i < ops; ++i)
            click("redo", [&] { redo->trigger(); });
        checked = checked && stores->count() == n + 2 * ops;
        auto *remove = widget<QPushButton>(*w, QStringLiteral("pushButtonRemove"));
        for (int i = 0; i < 2 * ops; ++i) {
            stores->setCurrentIndex(0);
            click("remove", [&] { remove->click(); });
        }
        checked = checked && stores->count() == n;
        QCoreApplication::processEvents();
        // Closing saves and syncs the store, and waits for it.
        f["save"].push_back(timed([&] { w->close(); }));
        delete w;
        checked = checked && storedCount(windowDir) == n;

        freshCopy(templateDir, dir + QStringLiteral("/read"));
        long long sum = 0;
        f["raw_read"].push_back(timed([&] { sum = rawRead(); }));
        checked = checked && sum > 0;
        const QString writeDir = freshCopy(templateDir, dir + QStringLiteral("/write"));
        f["raw_write"].push_back(timed([&] {
            QSettings s(Organisation, Application);
            writePositions(s, n);
        }));
        checked = checked && storedCount(writeDir) == n;
    }
    f["checked"].push_back(checked ? 1 : 0);
    return f;
}

} // namespace bench
