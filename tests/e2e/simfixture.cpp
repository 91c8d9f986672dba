#include "simfixture.h"
#include "testwindow.h"

#include "nextmodal.h"
#include "testsettings.h"
#include "widgetlookup.h"

#include <QAction>
#include <QApplication>
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
    w_ = std::make_unique<TestWindow>();
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

QLCDNumber *Program::lcd(const char *name) const
{
    return widget<QLCDNumber>(*w_, QString::fromLatin1(name));
}

QList<int> Program::readout() const
{
    return {lcd("lcdNumberX")->intValue(), lcd("lcdNumberY")->intValue(), lcd("lcdNumberZ")->intValue()};
}

void Program::untilLinkFree()
{
    QTRY_VERIFY_WITH_TIMEOUT(link().mayCall(), WaitMs);
}

void Program::setTarget(int x, int y, int z)
{
    untilLinkFree();
    widget<QSpinBox>(*w_, QStringLiteral("targetX"))->setValue(x);
    widget<QSpinBox>(*w_, QStringLiteral("targetY"))->setValue(y);
    widget<QSpinBox>(*w_, QStringLiteral("targetZ"))->setValue(z);
}

QList<int> Program::target() const
{
    return {widget<QSpinBox>(*w_, QStringLiteral("targetX"))->value(),
            widget<QSpinBox>(*w_, QStringLiteral("targetY"))->value(),
            widget<QSpinBox>(*w_, QStringLiteral("targetZ"))->value()};
}

void Program::clickGoto()
{
    untilLinkFree();
    QTest::mouseClick(widget<QPushButton>(*w_, QStringLiteral("pushButtonGoto")), Qt::LeftButton);
}

void Program::clickRestore()
{
    untilLinkFree();
    QTest::mouseClick(widget<QPushButton>(*w_, QStringLiteral("pushButtonRestore")), Qt::LeftButton);
}

void Program::clickIndicator()
{
    untilLinkFree();
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
    QAction *action = w_->findChild<QAction *>(QStringLiteral("actionSettings"));
    QVERIFY(action);
    bool accepted = false;
    onNewDialog([action] { action->trigger(); },
                [&](QDialog *dialog) {
                    edit(dialog);
                    auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
                    QVERIFY(buttons);
                    // Clicked as a button, not at a place: the dialog shown
                    // just now has not been laid out yet.
                    buttons->button(QDialogButtonBox::Ok)->click();
                    accepted = true;
                });
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

PollCounter::PollCounter(const DeviceLink &link)
    : link_(link)
{
    since_.start();
    connect(&link, &DeviceLink::positionRead, this, [this] { ++count_; });
    connect(&link, &DeviceLink::pollFailed, this, [this] { ++count_; });
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
    connect(&window.panel().link(), &DeviceLink::stateChanged, this, [this, &window](DeviceLink::State s) {
        const bool live = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumberX"))->isEnabled();
        changes_ << QString::fromLatin1(QMetaEnum::fromType<DeviceLink::State>().valueToKey(int(s)))
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
