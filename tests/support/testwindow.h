#ifndef TESTWINDOW_H
#define TESTWINDOW_H

#include "kesmarcontrol.h"
#include "panel.h"

#include <QString>

// The panel having loaded the store, then its main window, as the program
// builds them, and the pad at once (the program builds it after the first
// paint); the panel goes with the window.
class PanelFirst
{
protected:
    explicit PanelFirst(const QString &notSavingReason) { ownPanel_.load(notSavingReason); }
    Panel ownPanel_;
};

class TestWindow : private PanelFirst, public KesmarControl
{
public:
    explicit TestWindow(const QString &notSavingReason = QString())
        : PanelFirst(notSavingReason)
        , KesmarControl(ownPanel_)
    {
        buildPad();
    }
};

#endif // TESTWINDOW_H
