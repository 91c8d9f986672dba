// Catches the first paint of a top-level window and prints when it happened,
// on CLOCK_MONOTONIC, for the start-up benchmark. The harness notes the same
// clock just before it starts the process, so the difference is the time from
// process start to the first painted window.
//
// Two instants are printed: "paint" when the window itself receives its first
// QEvent::Paint, and "frame" when control returns to the event loop after
// that paint, i.e. once the whole first frame (the window's children included)
// has been painted and flushed.
#ifndef BENCH_FIRSTPAINT_H
#define BENCH_FIRSTPAINT_H

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <time.h>

namespace bench {

inline long long monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// What the program does once its first frame is reported: leave its event
// loop and end normally; end at once, without tearing anything down (so an
// instruction count stops at the first frame); or run on (idle measurements).
enum class Quit
{
    Normally,
    Now,
    Never
};

// --stay: run on; --quick-exit: end at once; neither: end normally.
inline Quit quitRequested(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--stay")
            return Quit::Never;
        if (QByteArray(argv[i]) == "--quick-exit")
            return Quit::Now;
    }
    return Quit::Normally;
}

class FirstPaint : public QObject
{
public:
    FirstPaint(QWidget *window, Quit quit)
        : window_(window)
        , quit_(quit)
    {
        window_->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!seen_ && watched == window_ && event->type() == QEvent::Paint) {
            seen_ = true;
            paintNs_ = monotonicNs();
            QMetaObject::invokeMethod(
                this,
                [this] {
                    std::printf("paint %lld\nframe %lld\n", paintNs_, monotonicNs());
                    std::fflush(stdout);
                    if (quit_ == Quit::Now)
                        std::_Exit(0);
                    if (quit_ == Quit::Normally)
                        QCoreApplication::exit(0);
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget *window_;
    Quit quit_;
    bool seen_ = false;
    long long paintNs_ = 0;
};

} // namespace bench

#endif // BENCH_FIRSTPAINT_H
