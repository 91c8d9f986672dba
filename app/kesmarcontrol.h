#ifndef KESMARCONTROL_H
#define KESMARCONTROL_H

#include "actresult.h"
#include "devicelink.h"
#include "paddialog.h"
#include "position.h"
#include "positionmodel.h"
#include "settingsstore.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

class ConnectionIndicator;
class Settings;

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

    // Entry points for scripts and the pad. Each acts through the same code
    // as the widget it stands for, so the window shows what was done, and
    // returns what came of it.
    QList<int> targets() const;
    // Puts the values into the targets, without sending them under Follow
    // Target, and presses Goto.
    ActResult gotoTargets(int x, int y, int z);
    // Chooses the entry called `name` and presses Goto.
    ActResult gotoNamedPosition(const QString &name);
    // Types the name into the name field and presses Store.
    ActResult storeNamedPosition(const QString &name);
    // Sets the device box, which selects the device.
    ActResult chooseDevice(int n);
    // Jogs as the pad does; the targets show where the jog goes.
    ActResult moveBy(int dx, int dy, int dz);
    ActResult halt();

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

private:
    // Which failure a message that stays tells of: a failed move's message
    // is not replaced by failed polls, a failed poll's goes with the next good
    // one, a failed save's with the next good save.
    enum class Failure
    {
        None,
        Move,
        Poll,
        Save,
        Other
    };
    // Shows what came of an act: a failure stays until something replaces it,
    // anything else for a second.
    void report(const ActResult &result, Failure failure = Failure::Other);
    void clearFailure(Failure failure);

    void loadSettings();
    ActResult saveSettings();
    ActResult gotoTarget();
    ActResult pressGoto();
    ActResult storePosition();
    void targetChanged();
    bool setTargets(int x, int y, int z);
    void recall(int index, bool send);
    void showLinkState();
    void followOff(const QString &why);

    Ui::KesmarControl *ui;
    DeviceLink link_;
    PositionModel positions_;
    SettingsStore store;
    ConnectionIndicator *indicator;
    PadDialog pad;
    Failure shownFailure = Failure::None;
    // The device last selected with success: the one saved.
    int savedDevice = 1;
    // Set while several targets change as one act: the changes then send
    // nothing on their own.
    bool settingTargets = false;
    QPointer<Settings> settingsDialog;
    // Nothing is saved until loading has finished: a save in between (a
    // device selection while loading) would write the list half loaded.
    bool settingsLoaded = false;
};

#endif // KESMARCONTROL_H
