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
#include <QVector>

class QToolButton;

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
    // How far the readouts can be trusted: polled at the set interval
    // (Reading), not read since the last failed poll (Stale), not polled any
    // more (Stopped), or no port open (NotConnected).
    enum class ConnectionState
    {
        NotConnected,
        Reading,
        Stale,
        Stopped
    };
    Q_ENUM(ConnectionState)

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

    ConnectionState connectionState() const { return state; }
    // The indicator's word for a state, untranslated: "reading", "stale",
    // "stopped" or "not connected".
    static const char *connectionWord(ConnectionState state);
    // The readouts after the last good poll (X, Y, Z); empty before the first
    // on the present connection and device.
    QVector<int> lastPosition() const { return position; }
    // The last failure message the status bar showed; empty before the first.
    QString lastFailure() const { return lastFailureText; }

    // Entry points for scripts. Each acts through the same code as the widget
    // it stands for, so the window shows what a script did. Those returning
    // bool give false when the act failed, with the operator's message (the
    // status bar's, where the act showed one) in `error`.
    QList<int> targets() const;
    // Puts the values into the targets, without sending them under Follow
    // Target, and presses Goto.
    bool gotoTargets(int x, int y, int z, QString *error);
    QList<Position> namedPositions() const;
    // Chooses the entry at `index` of namedPositions() and presses Goto.
    bool gotoNamedPosition(int index, QString *error);
    // Types the name into the name field and presses Store; false when the
    // store could not be saved.
    bool storeNamedPosition(const QString &name, QString *error);
    int selectedDevice() const { return dev; }
    // Sets the device box, which selects the device; a number outside the box's
    // range is refused.
    bool chooseDevice(int n, QString *error);

public slots:
    // Closes the port, opens the configured one with the configured time-out,
    // selects the device the box shows and resumes polling. Nothing moves.
    void reconnect();

signals:
    void connectionStateChanged(KesmarControl::ConnectionState state);
    // After every good poll, with what the readouts then show.
    void positionRead(int x, int y, int z);

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
    // How a failed save's message starts.
    static QString notSavedPrefix() { return tr("Settings not saved - "); }
    QString defaultName() const;
    bool selectDevice(int n);
    bool gotoTarget();
    bool pressGoto(QString *error);
    uint8_t deviceId(int n) const;
    uint8_t drivenId() const;
    QString errorText() const;
    void showFailure(const QString &text);
    void pollSucceeded();
    void pollFailed();
    void refreshConnectionState();
    void targetChanged();
    bool setTargets(int x, int y, int z);
    void recall(int index, bool send);

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
    // Set while several targets change as one act, and while Store adds an
    // entry: the changes then send nothing on their own.
    bool settingTargets = false;
    bool addingEntry = false;
    ConnectionState state = ConnectionState::NotConnected;
    int failedPolls = 0; // in a row
    QVector<int> position;
    QString pollFailure; // the message of the last failed poll
    QString gotoFailure; // the message of the last failed Goto
    QString linkFailure; // why the readouts are not live, for the indicator
    QString lastFailureText;
    QToolButton *indicator;
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
};

#endif // KESMARCONTROL_H
