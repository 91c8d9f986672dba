#ifndef COORDINATEVIEW_H
#define COORDINATEVIEW_H

#include <QObject>
#include <QPointer>

#include <array>

class Panel;
class PadDialog;
class QAction;
class QLabel;
class QLCDNumber;
class QStatusBar;

// The position readouts of the main window and the pad, in the coordinates
// the operator chose: the View menu's units, the device's zero (Zero here,
// Clear zero) and, on request, the distance along the pipette from the zero
// in the status bar. The readouts widen when a zero or micrometres need
// more digits.
class CoordinateView : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        std::array<QLCDNumber *, 3> readouts;
        QAction *steps;
        QAction *micrometres;
        QAction *zeroHere;
        QAction *clearZero;
        QAction *showAlong;
        QStatusBar *statusBar;
    };
    CoordinateView(const Widgets &widgets, Panel &panel, QObject *parent);
    // The pad, once it is built, shows the same readings.
    void setPad(PadDialog *pad);

private:
    // Shows the reading of `axis` as it stands in the link.
    void showReading(int axis);
    // The units, the device or its frame changed.
    void showFrame();
    void showAlong();

    Widgets ui_;
    Panel &panel_;
    QPointer<PadDialog> pad_;
    QLabel *along_;
};

#endif // COORDINATEVIEW_H
