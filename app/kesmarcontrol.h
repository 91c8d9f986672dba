#ifndef KESMARCONTROL_H
#define KESMARCONTROL_H

#include "actresult.h"
#include "paddialog.h"
#include "panel.h"
#include "statusmessages.h"

#include <QMainWindow>

#include <functional>

class ConnectionIndicator;
class CoordinateView;
class PositionPanel;
class TargetControls;
class ToolWindows;

namespace Ui {
class KesmarControl;
}

// The main window: a view of the panel. It shows the live position, the
// targets and the named positions, turns the operator's acts into the
// panel's, and shows in its status bar what came of every act, a script's
// included. It holds the pad, which asks the panel for its moves itself.
// What the first paint does not need comes after it (see firstPainted()).
class KesmarControl : public QMainWindow
{
    Q_OBJECT

public:
    // The panel has loaded its settings already; the window opens the port
    // once it is shown.
    explicit KesmarControl(Panel &panel, QWidget *parent = nullptr);
    ~KesmarControl() override;

    Panel &panel() { return panel_; }
    const Panel &panel() const { return panel_; }
    // Builds the pad, a child of this window named "PadDialog", unless it is
    // there already. It comes by itself after the first paint, or when Window
    // > Pad asks for it before.
    void buildPad();

signals:
    // Once, after the window's first paint has been flushed: what the first
    // paint does not need is set up from here.
    void firstPainted();

public slots:
    // Closes the port, opens the configured one with the configured time-out,
    // selects the device the box shows and resumes polling. Nothing moves.
    void reconnect();
    // Brings the window to the front, as a script asks.
    void bringToFront();

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_pushButtonGoto_clicked();
    void on_followTarget_toggled(bool on);
    void on_pushButtonStore_clicked();
    void on_pushButtonCopy_clicked();
    void on_pushButtonRestore_clicked();
    void on_pushButtonRemove_clicked();
    void on_targetZ_valueChanged(int);
    void on_targetY_valueChanged(int);
    void on_targetX_valueChanged(int);
    void on_stores_currentIndexChanged(int index);
    void openPort(QString port = "");
    void updatePositions();
    void on_sliderX_sliderMoved(int position);
    void on_sliderY_sliderMoved(int position);
    void on_sliderZ_sliderMoved(int position);
    void on_dev_valueChanged(int);
    void on_actionE_xit_triggered();
    void on_action_About_triggered();
    void on_actionSettings_triggered();
    void on_actionPad_toggled(bool);
    void on_actionUndo_triggered();
    void on_actionRedo_triggered();
    void on_actionLimits_triggered();
    void on_pushButtonRetract_clicked();
    void on_pushButtonReturn_clicked();

private:
    using Failure = StatusMessages::Failure;

    void showReport(const ActResult &result, Panel::About about);
    void showLinkState();
    // Runs an act that may call the library: right after a failed call
    // (which may have waited its whole time-out) once the event loop has
    // run, so a click never adds a second time-out to the first.
    void act(const std::function<void()> &call);

    Ui::KesmarControl *ui;
    Panel &panel_;
    StatusMessages *messages;
    TargetControls *targets_ = nullptr;
    PositionPanel *positionPanel;
    ConnectionIndicator *indicator;
    PadDialog *pad_ = nullptr;
    CoordinateView *coordinates_;
    ToolWindows *tools;
    bool painted_ = false;
};

#endif // KESMARCONTROL_H
