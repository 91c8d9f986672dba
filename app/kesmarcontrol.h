#ifndef KESMARCONTROL_H
#define KESMARCONTROL_H

#include "kesmarctlowner.h"
#include "paddialog.h"
#include "portsettings.h"
#include "position.h"

#include <QList>
#include <QMainWindow>
#include <QSettings>
#include <QTimer>

#include <array>
#include <optional>

namespace Ui {
class KesmarControl;
}

// The main window: shows the live position, sends the manipulator to its
// target, keeps the named positions and owns the library connection.
class KesmarControl : public QMainWindow
{
    Q_OBJECT

public:
    explicit KesmarControl(QWidget *parent = nullptr);
    ~KesmarControl() override;

    // Jogs the manipulator by dx, dy, dz from where it stands, each axis kept
    // within 0..20500, and sends it there as Goto does. Jogs that follow one
    // another with no other move in between add up: each starts from the
    // target of the one before instead of a fresh reading. False if reading
    // the position or sending failed; the status bar says why.
    bool moveBy(int dx, int dy, int dz);
    // Sends the manipulator to the position it reports now, so it stops
    // there. False if reading the position or sending failed.
    bool halt();

    // Path of the settings store file that every window reads and writes.
    static QString settingsFile();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_pushButtonGoto_clicked();
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
    void loadSettings();
    QString saveSettings();
    QString defaultName() const;
    void gotoTarget();
    uint8_t deviceId(int n) const;
    QString errorText() const;
    void followTargetIfChecked();

    using Xyz = std::array<int, 3>;
    void showReading(int axis, int value);
    bool readPosition(int time, int *x, int *y, int *z);
    std::optional<Xyz> positionNow();
    bool sendTarget(const Xyz &target);
    void showGotoFailed();
    bool moveTo(const Xyz &target);

    // Lets the tests look at the state that has no widget of its own.
    friend struct KesmarControlProbe;

    QList<Position *> positions;
    Ui::KesmarControl *ui;
    KesmarCtl ctl;
    PortSettings portSettings;
    int dev = 1;
    QTimer timer;
    QSettings settings;
    // Nothing is saved until loading has finished: a save in between (a
    // device selection while loading) would write the list half loaded.
    bool settingsLoaded = false;
    PadDialog pad;

    // The last jog while no other move has followed it, and whom it was sent to.
    struct JogBurst
    {
        const kesmarctl_connection *handle;
        uint8_t id;
        Xyz target;
    };
    std::optional<JogBurst> jogBurst;
    // Set while a target already sent is put into the boxes, so Follow Target does not send it again.
    bool showingSentTarget = false;
};

#endif // KESMARCONTROL_H
