#include "toolwindows.h"

#include "about.h"
#include "deviceframedialog.h"
#include "journalwindow.h"
#include "limitsdialog.h"
#include "panel.h"
#include "settings.h"

#include <memory>

namespace {

// Raises the window if it is open; one closed just now is on its way out.
template <class Window> bool raiseIfOpen(const QPointer<Window> &window)
{
    if (!window || !window->isVisible())
        return false;
    window->raise();
    window->activateWindow();
    return true;
}

} // namespace

ToolWindows::ToolWindows(const Panel &panel, QWidget *window)
    : QObject(window)
    , panel_(panel)
    , window_(window)
{ }

ToolWindows::~ToolWindows()
{
    // Windows of their own, which would outlive the main window.
    delete settings_;
    delete limits_;
    delete journalWindow_;
}

void ToolWindows::showAbout()
{
    auto *about = new About(window_);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setText(About::aboutText());
    about->show();
}

void ToolWindows::showSettings()
{
    if (raiseIfOpen(settings_))
        return;
    auto edited = std::make_shared<PortSettings>(panel_.link().portSettings());
    settings_ = new Settings(edited.get());
    settings_->setAttribute(Qt::WA_DeleteOnClose);
    connect(settings_, &QDialog::accepted, this, [this, edited] { emit portSettingsAccepted(*edited); });
    settings_->show();
}

void ToolWindows::showLimits()
{
    if (raiseIfOpen(limits_))
        return;
    limits_ = new LimitsDialog(panel_.limits());
    limits_->setAttribute(Qt::WA_DeleteOnClose);
    const auto live = [this] {
        limits_->setLiveReading(panel_.link().liveReading());
    };
    live();
    connect(&panel_.link(), &DeviceLink::positionRead, limits_, live);
    connect(&panel_.link(), &DeviceLink::stateChanged, limits_, live);
    // Limits set meanwhile (a script) show at once, so OK applies what is shown.
    connect(&panel_, &Panel::limitsChanged, limits_, [this] { limits_->showLimitsInForce(panel_.limits()); });
    const auto coordinates = [this] {
        limits_->setCoordinates(panel_.frame(), panel_.coordinates().units());
    };
    coordinates();
    connect(&panel_, &Panel::frameChanged, limits_, coordinates);
    connect(limits_, &QDialog::accepted, this, [this] { emit limitsAccepted(limits_->limits()); });
    limits_->show();
}

void ToolWindows::showJournal()
{
    if (!journal_ || raiseIfOpen(journalWindow_))
        return;
    journalWindow_ = new JournalWindow(*journal_);
    journalWindow_->setCoordinates(&panel_.coordinates());
    journalWindow_->setAttribute(Qt::WA_DeleteOnClose);
    connect(journalWindow_, &JournalWindow::haltRequested, this, &ToolWindows::haltRequested);
    journalWindow_->show();
}

void ToolWindows::showDeviceFrame()
{
    if (raiseIfOpen(deviceFrame_))
        return;
    const int device = panel_.link().device();
    deviceFrame_ = new DeviceFrameDialog(device, panel_.frame());
    deviceFrame_->setAttribute(Qt::WA_DeleteOnClose);
    // Another device selected meanwhile: the dialog still edits the one it names.
    connect(deviceFrame_, &QDialog::accepted, this, [this] {
        const DeviceFrame edited = deviceFrame_->frame();
        // The zero in force now, which Zero here may have set meanwhile.
        DeviceFrame frame = panel_.coordinates().frame(deviceFrame_->device());
        frame.scale = edited.scale;
        frame.angle = edited.angle;
        frame.plane = edited.plane;
        frame.direction = edited.direction;
        emit deviceFrameAccepted(deviceFrame_->device(), frame);
    });
    deviceFrame_->show();
}

void ToolWindows::closeAll()
{
    if (deviceFrame_)
        deviceFrame_->close();
    if (settings_)
        settings_->close();
    if (limits_)
        limits_->close();
    if (journalWindow_)
        journalWindow_->close();
}
