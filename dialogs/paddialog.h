#ifndef PADDIALOG_H
#define PADDIALOG_H

#include <QByteArray>
#include <QDialog>
#include <QVariantMap>

class QTimer;

namespace Ui {
class PadDialog;
}

// The operator's hand controller: large X, Y and Z readouts, buttons and keys
// that move the manipulator by a chosen step, and Halt. It only asks for
// moves; the main window talks to the device and feeds the readouts.
class PadDialog : public QDialog
{
    Q_OBJECT

public:
    // Halts the manipulator wherever the focus is in the pad, and in the main
    // window; named in the Halt buttons' tool tips.
    static constexpr int haltKey = Qt::Key_Space;

    explicit PadDialog(QWidget *parent = nullptr);
    ~PadDialog() override;

    // Shows `value` in the readout of `axis` (0 X, 1 Y, 2 Z), as the main
    // window shows it.
    void showReading(int axis, int value) { showReading(axis, QString::number(value)); }
    void showReading(int axis, const QString &text);
    // The readouts' digits: more when a zero or micrometres are shown.
    void setReadoutDigits(int digits);
    // What the step is counted in, named beside it unless empty (steps).
    void setStepUnits(const QString &units);
    // Greys the readouts while they may be out of date.
    void setReadoutsEnabled(bool enabled);

    // The step chosen in the step box, 1..20500.
    int step() const { return step_; }
    void setStep(int step);

    // The step and the window's place and size: the keys of the settings
    // store's group "pad". settings() leaves out what the pad has not chosen,
    // so the store keeps what it holds for those.
    void loadSettings(const QVariantMap &group);
    QVariantMap settings() const;

signals:
    // Move `axis` (0 X, 1 Y, 2 Z) by `delta`, negative for down; `repeated`
    // when a held key or button repeats the press; `byKey` when a key asked.
    void jogRequested(int axis, int delta, bool repeated, bool byKey);
    // Move along the pipette by `distance` (negative: back), in the units
    // the pad's step is in.
    void advanceRequested(int distance);
    // The jog key or button held down came up: the unit is to stop.
    void jogReleased();
    void haltRequested();
    // The step or the window's place changed: what settings() gives is new.
    void settingsChanged();

public slots:
    void done(int result) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void takeTypedStep(const QString &text);
    // A jog button pressed with the mouse jogs, repeats while held down and
    // asks to stop when it comes up, as a held key does. True when `event`
    // was such a press or release.
    bool holdButton(QObject *watched, QEvent *event);
    // Ends the hold of a jog button, if one is held.
    void letGo();

    Ui::PadDialog *ui;
    // A release of the jog key held, unless a press of it follows at once:
    // a platform that does not flag its auto-repeats sends such pairs.
    QTimer *release_;
    int heldKey_ = 0;
    // Repeats the jog of the button held down, the index of which is in heldButton_.
    QTimer *hold_;
    int heldButton_ = -1;
    int step_;
    // The step was read from the store or chosen by the operator: only then is it saved.
    bool stepChosen_ = false;
    // The place and size to save while the window is hidden: where it was
    // when last closed, or the stored one if it has not been shown yet.
    QByteArray geometry_;
};

#endif // PADDIALOG_H
