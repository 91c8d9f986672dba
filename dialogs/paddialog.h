#ifndef PADDIALOG_H
#define PADDIALOG_H

#include <QByteArray>
#include <QDialog>

class QSettings;

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
    explicit PadDialog(QWidget *parent = nullptr);
    ~PadDialog() override;

    // Shows `value` in the readout of `axis` (0 X, 1 Y, 2 Z).
    void showReading(int axis, int value);

    // The step chosen in the step box, 1..20500.
    int step() const { return step_; }
    void setStep(int step);

    // The step and the window's place and size, in the store's group "pad".
    void loadSettings(QSettings &settings);
    void saveSettings(QSettings &settings) const;

signals:
    // Move `axis` (0 X, 1 Y, 2 Z) by `delta`, negative for down.
    void jogRequested(int axis, int delta);
    void haltRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void takeTypedStep(const QString &text);

    Ui::PadDialog *ui;
    int step_;
    // The place and size to save while the window is hidden: the last shown,
    // or the stored one if it has not been shown yet.
    QByteArray geometry_;
};

#endif // PADDIALOG_H
