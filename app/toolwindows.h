#ifndef TOOLWINDOWS_H
#define TOOLWINDOWS_H

#include "portsettings.h"
#include "travellimits.h"

#include <QObject>
#include <QPointer>

class Panel;
class LimitsDialog;
class QWidget;
class Settings;

// The windows the main window opens beside itself: About, Settings and
// Limits. None is modal, so Halt stays at hand while they are open. There is
// one Settings and one Limits at a time, raised when asked for again; they
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
    void closeAll();

signals:
    void portSettingsAccepted(const PortSettings &settings);
    void limitsAccepted(const TravelLimits &limits);

private:
    const Panel &panel_;
    QWidget *window_;
    QPointer<Settings> settings_;
    QPointer<LimitsDialog> limits_;
};

#endif // TOOLWINDOWS_H
