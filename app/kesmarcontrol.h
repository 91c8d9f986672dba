#ifndef KESMARCONTROL_H
#define KESMARCONTROL_H

#include "actresult.h"
#include "devicelink.h"
#include "paddialog.h"
#include "panelsettings.h"
#include "position.h"
#include "positionmodel.h"
#include "positionpanel.h"
#include "statusmessages.h"
#include "targetcontrols.h"

#include <QList>
#include <QMainWindow>

class ConnectionIndicator;
class ToolWindows;

namespace Ui {
class KesmarControl;
}

// The main window: a view of the device link and the named positions. It
// shows the live position and the targets, and turns the operator's acts into
// calls of the link and the list, showing what came of each.
class KesmarControl : public QMainWindow
{
    Q_OBJECT

public:
    // With a `notSavingReason`, nothing is written to the store in this run,
    // and the window says so.
    explicit KesmarControl(QWidget *parent = nullptr, const QString &notSavingReason = QString());
    ~KesmarControl() override;

    // Path of the settings store file that every window reads and writes.
    static QString settingsFile();

    DeviceLink &link() { return link_; }
    const DeviceLink &link() const { return link_; }
    const PositionModel &positionModel() const { return positions_; }
    // The store, whose saveFinished() tells how each save ended.
    SettingsStore &settingsStore() { return settings_.store(); }
    // The last failure message the status bar showed; empty before the first.
    QString lastFailure() const { return messages->lastFailure(); }

    // Entry points for scripts and the pad. Each acts through the same code
    // as the widget it stands for, so the window shows what was done, and
    // returns what came of it.
    QList<int> targets() const;
    // Puts the values into the targets, without sending them under Follow
    // Target, and presses Goto.
    ActResult gotoTargets(int x, int y, int z);
    // Chooses the entry called `name` and presses Goto.
    ActResult gotoNamedPosition(const QString &name);
    // Stores the targets under `name` as Store does, except that only the
    // entry of that name is updated, else one is added: a script never
    // renames another entry. The name field then shows the name.
    ActResult storeNamedPosition(const QString &name);
    // Sets the device box, which selects the device.
    ActResult chooseDevice(int n);
    // Jogs as the pad does; the targets show where the jog goes.
    ActResult moveBy(int dx, int dy, int dz);
    ActResult halt();
    // Press Retract and Return.
    ActResult retract();
    ActResult returnFromRetract();
    // Takes the limits as OK in the Limits dialog does, and saves them.
    ActResult setLimits(const TravelLimits &limits);

public slots:
    // Closes the port, opens the configured one with the configured time-out,
    // selects the device the box shows and resumes polling. Nothing moves.
    void reconnect();

protected:
    void closeEvent(QCloseEvent *event) override;

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
    void report(const ActResult &result, Failure failure = Failure::Other) { messages->report(result, failure); }

    void loadSettings();
    ActResult saveSettings();
    void showSaved(const SaveResult &result);
    ActResult moved(const ActResult &result);
    // As moved(), and polling resumes, whatever the outcome.
    ActResult resumed(const ActResult &result);
    ActResult pressGoto();
    void showLinkState();
    void applyPortSettings(const PortSettings &settings);

    Ui::KesmarControl *ui;
    DeviceLink link_;
    PositionModel positions_;
    PanelSettings settings_{link_, positions_};
    StatusMessages *messages;
    TargetControls *targets_;
    PositionPanel *positionPanel;
    ConnectionIndicator *indicator;
    PadDialog pad;
    ToolWindows *tools;
};

#endif // KESMARCONTROL_H
