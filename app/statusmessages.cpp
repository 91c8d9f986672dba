#include "statusmessages.h"

#include <QStatusBar>

namespace {

// A message that does not stay is shown this long, in ms.
constexpr int shortMessage = 1000;

} // namespace

StatusMessages::StatusMessages(QStatusBar *bar)
    : QObject(bar)
    , bar_(bar)
{
    connect(bar_, &QStatusBar::messageChanged, this, [this](const QString &message) {
        bar_->setToolTip(message);
        if (message.isEmpty() && !standing_.isEmpty())
            bar_->showMessage(standing_);
    });
}

void StatusMessages::report(const ActResult &result, Failure failure)
{
    // A refusal or a failure stays until the next act replaces it, long
    // enough to be read by an operator looking at the unit.
    if (!result.ok() && !result.message.isEmpty()) {
        bar_->showMessage(result.message, 0);
        lastFailure_ = result.message;
        shown_ = failure;
        return;
    }
    if (result.message.isEmpty())
        return;
    bar_->showMessage(result.message, shortMessage);
    shown_ = Failure::None;
}

void StatusMessages::reportPollFailure(const QString &message)
{
    if (shown_ != Failure::Move)
        report(ActResult::failed(message), Failure::Poll);
    else
        lastFailure_ = message;
}

void StatusMessages::clearFailure(Failure failure)
{
    if (shown_ != failure)
        return;
    bar_->clearMessage();
    shown_ = Failure::None;
}

void StatusMessages::setStanding(const QString &message)
{
    standing_ = message;
    if (!standing_.isEmpty())
        bar_->showMessage(standing_);
}
