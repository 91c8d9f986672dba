// The start-up and idle benchmarks' programs, each with a probe that prints
// when the window's first paint came ("paint <ns>"), on the monotonic clock
// the driver also reads just before it starts the process. bench_window is the
// program as main.cpp builds it, with the real library; bench_bare, the floor,
// the smallest Qt Widgets program with a main window of the program's size
// (with BENCH_BARE_TEXT set, showing one line of text).
// Each ends after the first paint, or runs on with --stay (idle figures).
//
// bench_window does what BENCH_EXTRAS lists of what main.cpp does, in the
// same order: before the window shows "lock" (the instance lock) and "pad" (a
// second pad dialog, built before the window: what the pad costs the first
// paint); after the first paint "icon" (the window icon from the icon theme)
// and "bus" (the scripting interface on the session bus). It prints
// "<extra> <ns>" for the time each took.
#ifdef BENCH_PROGRAM
#include "instancelock.h"
#include "kesmarcontrol.h"
#include "paddialog.h"
#include "panel.h"
#include "scriptbridge.h"
#include "settingsstore.h"

#include <QIcon>
#include <memory>
#endif

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>

namespace {

class FirstPaint : public QObject
{
public:
    // `after` runs once the first paint is on the screen, as main.cpp's
    // deferred start-up does.
    FirstPaint(QWidget *window, std::function<void()> after)
        : window_(window)
        , after_(std::move(after))
    {
        window_->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (seen_ || watched != window_ || event->type() != QEvent::Paint)
            return false;
        seen_ = true;
        const auto ns = std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
        std::printf("paint %lld\n", static_cast<long long>(ns));
        std::fflush(stdout);
        QTimer::singleShot(0, this, [this] {
            after_();
            std::fflush(stdout);
            if (!QCoreApplication::arguments().contains(QStringLiteral("--stay")))
                QCoreApplication::quit();
        });
        return false;
    }

private:
    QWidget *window_;
    std::function<void()> after_;
    bool seen_ = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
#ifdef BENCH_PROGRAM
    const QStringList extras = QString::fromLocal8Bit(qgetenv("BENCH_EXTRAS")).split(QLatin1Char(','));
    const auto timed = [&extras](const char *extra, const std::function<void()> &step) {
        if (!extras.contains(QLatin1String(extra)))
            return;
        const auto t0 = std::chrono::steady_clock::now();
        step();
        std::printf("%s %lld\n", extra, static_cast<long long>((std::chrono::steady_clock::now() - t0).count()));
    };
    InstanceLock lock(SettingsStore::fileName());
    timed("lock", [&lock] { lock.lock(); });
    std::unique_ptr<PadDialog> pad;
    timed("pad", [&pad] { pad = std::make_unique<PadDialog>(); });
    Panel panel;
    panel.load();
    KesmarControl window(panel);
    const auto after = [&timed, &window] {
        timed("icon", [] {
            QIcon builtIn;
            for (const int size : {16, 32, 48, 64, 128, 256})
                builtIn.addFile(QStringLiteral(":/icons/%1/kesmarcontrol.png").arg(size));
            QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kesmarcontrol"), builtIn));
        });
        timed("bus", [&window] { (new ScriptBridge(window.panel(), &window))->registerOnSessionBus(); });
        // The pad, as the window builds it after the first paint.
        window.buildPad();
    };
#else
    QMainWindow window;
    window.resize(702, 300);
    // BENCH_BARE_TEXT: the window shows one line of text, so the floor also
    // pays for the fonts every window with text needs.
    if (qEnvironmentVariableIsSet("BENCH_BARE_TEXT"))
        window.setCentralWidget(new QLabel(QStringLiteral("X 10250"), &window));
    const std::function<void()> after = [] {
        // The floor does nothing after its first paint.
    };
#endif
    FirstPaint probe(&window, after);
    window.show();
    return app.exec();
}
