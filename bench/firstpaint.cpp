// The start-up and idle benchmarks' programs, each with a probe that prints
// when the window's first paint came ("paint <ns>"), on the monotonic clock
// the driver also reads just before it starts the process. bench_window is the
// program as main.cpp builds it, with the real library; bench_bare, the floor,
// the smallest Qt Widgets program with a main window of the program's size.
// Each ends after the first paint, or runs on with --stay (idle figures).
#ifdef BENCH_PROGRAM
#include "kesmarcontrol.h"
#endif

#include <QApplication>
#include <QMainWindow>

#include <chrono>
#include <cstdio>

namespace {

class FirstPaint : public QObject
{
public:
    explicit FirstPaint(QWidget *window)
        : window_(window)
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
        if (!QCoreApplication::arguments().contains(QStringLiteral("--stay")))
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        return false;
    }

private:
    QWidget *window_;
    bool seen_ = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
#ifdef BENCH_PROGRAM
    KesmarControl window;
#else
    QMainWindow window;
    window.resize(702, 300);
#endif
    FirstPaint probe(&window);
    window.show();
    return app.exec();
}
