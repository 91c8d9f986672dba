#ifndef TOOLWINDOWS_H
#define TOOLWINDOWS_H

#include "deviceframe.h"
#include "portsettings.h"
#include "travellimits.h"

#include <QObject>
#include <QPointer>

class Journal;
class JournalWindow;
class Panel;
class DeviceFrameDialog;
class LimitsDialog;
class QWidget;
class Settings;

// The windows the main window opens beside itself: About, Settings, Limits,
// Device coordinates and the Journal. None is modal, so Halt stays at hand while they are open.
// There is one Settings, one Limits and one Journal at a time, raised when asked for again; they
// are windows of their own and close with the main window.
class ToolWindows : public QObject
{
    Q_OBJECT

public:
    ToolWindows(const Panel &panel, QWidget *window);
    ~ToolWindows() override;

    void showAbout();
    // Settings edits the port settings as they are when it opens.
    void showSettings();
    // Limits edits the panel's limits and offers its live reading.
    void showLimits();
    // The journal the Journal window shows; it must outlive these windows.
    // Without one the Journal window does not open.
    void setJournal(const Journal *journal) { journal_ = journal; }
    void showJournal();
    // Device coordinates edits the frame of the device driven.
    void showDeviceFrame();
    void closeAll();

signals:
    void portSettingsAccepted(const PortSettings &settings);
    void limitsAccepted(const TravelLimits &limits);
    void deviceFrameAccepted(int device, const DeviceFrame &frame);
    // Halt was pressed in one of the windows.
    void haltRequested();

private:
    const Panel &panel_;
    QWidget *window_;
    QPointer<Settings> settings_;
    QPointer<LimitsDialog> limits_;
    const Journal *journal_ = nullptr;
    QPointer<JournalWindow> journalWindow_;
    QPointer<DeviceFrameDialog> deviceFrame_;
};

#endif // TOOLWINDOWS_H
