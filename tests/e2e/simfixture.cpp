#include "simfixture.h"

#include "probe.h"
#include "testsettings.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLCDNumber>
#include <QMetaEnum>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

namespace E2E {

namespace {

// Runs the event loop until `process` emits `signal` or `ms` pass.
template <typename Signal> void waitFor(QProcess &process, Signal signal, qint64 ms)
{
    QSignalSpy spy(&process, signal);
    spy.wait(int(qBound<qint64>(1, ms, 200)));
}

} // namespace

Simulator::Simulator(const QString &link)
    : link_(link)
{
    qRegisterMetaType<QProcess::ExitStatus>();
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

Simulator::~Simulator()
{
    if (!running())
        return;
    // --exit-on-eof: closing its input ends it cleanly and removes the link.
    process_.closeWriteChannel();
    if (!process_.waitForFinished(WaitMs)) {
        process_.kill();
        process_.waitForFinished(WaitMs);
    }
}

bool Simulator::start(const QStringList &arguments)
{
    QStringList args{QStringLiteral("--exit-on-eof"), QStringLiteral("--link"), link_};
    args += arguments;
    process_.start(QStringLiteral(KESMARSIM_PATH), args);
    ptyPath_ = readLine();
    if (!ptyPath_.startsWith(QLatin1Char('/'))) {
        lastError_
            = QStringLiteral("kesmarsim printed no terminal path but '%1' (%2)").arg(ptyPath_, process_.errorString());
        return false;
    }
    return true;
}

QString Simulator::readLine()
{
    const QDeadlineTimer deadline(WaitMs);
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || (process_.state() == QProcess::NotRunning && process_.bytesAvailable() == 0))
            return {};
        waitFor(process_, &QProcess::readyReadStandardOutput, deadline.remainingTime());
    }
    return QString::fromUtf8(process_.readLine()).trimmed();
}

QString Simulator::command(const QString &line)
{
    process_.write(line.toUtf8() + '\n');
    for (;;) {
        const QString answer = readLine();
        if (answer.isEmpty() || answer.startsWith(QLatin1String("ok")) || answer.startsWith(QLatin1String("error")))
            return answer;
    }
}

bool Simulator::kill()
{
    process_.kill();
    return waitForExit();
}

bool Simulator::stop()
{
    process_.terminate();
    return waitForExit();
}

bool Simulator::waitForExit()
{
    const QDeadlineTimer deadline(WaitMs);
    while (running() && !deadline.hasExpired())
        waitFor(process_, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), deadline.remainingTime());
    return !running();
}

void writeStore(const QString &port, int timeout, int update, bool pcmode)
{
    const QString text = QStringLiteral("[settings]\nport=%1\ndev=1\ntimeout=%2\nupdate=%3\npcmode=%4\n")
                             .arg(port)
                             .arg(timeout)
                             .arg(update)
                             .arg(pcmode ? QStringLiteral("true") : QStringLiteral("false"));
    TestSettings::writeStore(text.toUtf8());
}

void Program::start(const QString &port)
{
    w_ = std::make_unique<KesmarControl>();
    messages_ = std::make_unique<QSignalSpy>(w_->statusBar(), &QStatusBar::messageChanged);
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    const QString opened = port + QStringLiteral(" opened");
    QTRY_VERIFY2_WITH_TIMEOUT(seen(opened), qPrintable(messages().join(QStringLiteral(" | "))), WaitMs);
}

Program::~Program()
{
    messages_.reset();
    w_.reset();
}

QTimer &Program::timer()
{
    return KesmarControlProbe::timer(*w_);
}

QLCDNumber *Program::lcd(const char *name) const
{
    return w_->findChild<QLCDNumber *>(QString::fromLatin1(name));
}

QList<int> Program::readout() const
{
    return {lcd("lcdNumberX")->intValue(), lcd("lcdNumberY")->intValue(), lcd("lcdNumberZ")->intValue()};
}

void Program::setTarget(int x, int y, int z)
{
    w_->findChild<QSpinBox *>(QStringLiteral("targetX"))->setValue(x);
    w_->findChild<QSpinBox *>(QStringLiteral("targetY"))->setValue(y);
    w_->findChild<QSpinBox *>(QStringLiteral("targetZ"))->setValue(z);
}

QList<int> Program::target() const
{
    return {w_->findChild<QSpinBox *>(QStringLiteral("targetX"))->value(),
            w_->findChild<QSpinBox *>(QStringLiteral("targetY"))->value(),
            w_->findChild<QSpinBox *>(QStringLiteral("targetZ"))->value()};
}

void Program::clickGoto()
{
    QTest::mouseClick(w_->findChild<QPushButton *>(QStringLiteral("pushButtonGoto")), Qt::LeftButton);
}

void Program::clickRestore()
{
    QTest::mouseClick(w_->findChild<QPushButton *>(QStringLiteral("pushButtonRestore")), Qt::LeftButton);
}

void Program::clickIndicator()
{
    QTest::mouseClick(w_->findChild<QToolButton *>(QStringLiteral("connectionIndicator")), Qt::LeftButton);
}

QString Program::message() const
{
    return w_->statusBar()->currentMessage();
}

QStringList Program::messages() const
{
    QStringList texts;
    for (const QList<QVariant> &args : *messages_)
        texts << args.at(0).toString();
    return texts;
}

void Program::forget()
{
    messages_->clear();
}

bool Program::seen(const QString &prefix, QString *text) const
{
    for (const QString &message : messages()) {
        if (message.startsWith(prefix)) {
            if (text)
                *text = message;
            return true;
        }
    }
    return false;
}

void Program::acceptSettings(const std::function<void(QDialog *)> &edit)
{
    // The dialog runs modally inside the action's slot: a timer armed before
    // the action fires inside the dialog's own event loop and acts on it.
    bool accepted = false;
    QElapsedTimer waited;
    waited.start();
    QTimer look;
    look.setInterval(10);
    QObject::connect(&look, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (waited.elapsed() > WaitMs)
                look.stop(); // the action returns (or the test times out) and fails below
            return;
        }
        look.stop();
        edit(dialog);
        auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        if (!buttons) {
            dialog->reject();
            return;
        }
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
        accepted = true;
    });
    look.start();
    QAction *action = w_->findChild<QAction *>(QStringLiteral("actionSettings"));
    QVERIFY(action);
    action->trigger();
    QVERIFY2(accepted, "the Settings dialog did not show up or had no OK button");
}

StallMeter::StallMeter()
{
    tick_.setTimerType(Qt::PreciseTimer);
    tick_.setInterval(10);
    connect(&tick_, &QTimer::timeout, this, [this] { longest_ = qMax(longest_, since_.restart()); });
    since_.start();
    tick_.start();
}

TickCounter::TickCounter(QTimer &timer)
{
    connect(&timer, &QTimer::timeout, this, [this] { ++count_; });
}

ReadoutSampler::ReadoutSampler(QLCDNumber *lcd)
{
    tick_.setInterval(10);
    connect(&tick_, &QTimer::timeout, this, [this, lcd] {
        const int value = lcd->intValue();
        if (!values_.contains(value))
            values_ << value;
    });
    tick_.start();
}

StateRecorder::StateRecorder(KesmarControl &window)
{
    connect(&window, &KesmarControl::connectionStateChanged, this, [this, &window](KesmarControl::ConnectionState s) {
        const bool live = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumberX"))->isEnabled();
        changes_ << QString::fromLatin1(QMetaEnum::fromType<KesmarControl::ConnectionState>().valueToKey(int(s)))
                + (live ? QStringLiteral(" live") : QStringLiteral(" greyed"));
    });
}

int ReadoutSampler::between(int from, int to) const
{
    int n = 0;
    for (int v : values_) {
        if (v > qMin(from, to) && v < qMax(from, to))
            ++n;
    }
    return n;
}

} // namespace E2E
