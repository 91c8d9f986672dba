#ifndef INPUTGUARD_H
#define INPUTGUARD_H

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class QSpinBox;
class QWidget;

// Keeps stray input from changing values that move the manipulator or
// configure the link:
// - the wheel over a watched widget that does not have the keyboard focus
//   changes nothing;
// - a digit typed into a watched spin box that would leave a number outside
//   the box's range, which no more digits can bring back into it, is
//   refused: the box shows the value in force again and
//   `refused` names the range, so a truncated other number is never left;
// - while `revertOnLeave` says so, leaving a spin box without Enter puts the
//   value in force back instead of committing what was typed;
// - Space in a spin box is left to the program's shortcuts (Halt).
class InputGuard : public QObject
{
    Q_OBJECT

public:
    explicit InputGuard(QObject *parent = nullptr);

    // Guards a widget against the wheel without focus.
    void watch(QWidget *widget);
    // Guards a spin box as above, and its typed values; `label` names it in messages.
    void watch(QSpinBox *box, const QString &label);
    void setRevertOnLeave(std::function<bool()> revert) { revertOnLeave_ = std::move(revert); }

signals:
    void refused(QSpinBox *box, const QString &message);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool typedOutOfRange(QSpinBox *box, const QString &typed);
    void showValueInForce(QSpinBox *box);

    QHash<QObject *, QString> labels_;
    std::function<bool()> revertOnLeave_;
};

#endif // INPUTGUARD_H
