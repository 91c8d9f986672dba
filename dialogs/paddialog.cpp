#include "paddialog.h"
#include "ui_paddialog.h"

#include "accessiblereadout.h"
#include "travel.h"

#include <QIntValidator>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <iterator>

namespace {

constexpr int defaultStep = 100;
// A press of the same key within this many ms of its release makes the pair
// a repeat.
constexpr int repeatGap = 25;

// Keys that move an axis; Shift makes the step ten times larger, Ctrl ten times smaller.
struct KeyJog
{
    int key;
    int axis;
    int sign;
};
constexpr KeyJog keyJogs[] = {
    {Qt::Key_Right, 0, 1}, {Qt::Key_Left, 0, -1},  {Qt::Key_Up, 1, 1},
    {Qt::Key_Down, 1, -1}, {Qt::Key_PageUp, 2, 1}, {Qt::Key_PageDown, 2, -1},
};

// The buttons that move an axis; held down with the mouse, they repeat as a
// held key does.
struct ButtonJog
{
    QPushButton *Ui::PadDialog::*button;
    int axis;
    int sign;
};
constexpr ButtonJog buttonJogs[] = {
    {&Ui::PadDialog::pushButtonXPlus, 0, 1}, {&Ui::PadDialog::pushButtonXMinus, 0, -1},
    {&Ui::PadDialog::pushButtonYPlus, 1, 1}, {&Ui::PadDialog::pushButtonYMinus, 1, -1},
    {&Ui::PadDialog::pushButtonZPlus, 2, 1}, {&Ui::PadDialog::pushButtonZMinus, 2, -1},
};

} // namespace

PadDialog::PadDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::PadDialog)
    , step_(defaultStep)
{
    ui->setupUi(this);
    AccessibleReadout::install();

    // A click from the keyboard or an assistive tool jogs one step; the
    // mouse holds the button down (see holdButton()).
    for (const ButtonJog &b : buttonJogs) {
        const int axis = b.axis;
        const int sign = b.sign;
        connect(ui->*b.button, &QPushButton::clicked, this,
                [this, axis, sign] { emit jogRequested(axis, sign * step_, false, false); });
    }
    connect(ui->pushButtonAdvance, &QPushButton::clicked, this, [this] { emit advanceRequested(step_); });
    connect(ui->pushButtonWithdraw, &QPushButton::clicked, this, [this] { emit advanceRequested(-step_); });
    hold_ = new QTimer(this);
    connect(hold_, &QTimer::timeout, this, [this] {
        const ButtonJog &b = buttonJogs[heldButton_];
        hold_->start((ui->*b.button)->autoRepeatInterval());
        emit jogRequested(b.axis, b.sign * step_, true, false);
    });
    connect(ui->pushButtonHalt, &QPushButton::clicked, this, &PadDialog::haltRequested);

    ui->comboBoxStep->setValidator(new QIntValidator(1, positionMax, ui->comboBoxStep));
    connect(ui->comboBoxStep, &QComboBox::currentTextChanged, this, &PadDialog::takeTypedStep);
    setStep(defaultStep);

    release_ = new QTimer(this);
    release_->setSingleShot(true);
    release_->setInterval(repeatGap);
    connect(release_, &QTimer::timeout, this, [this] {
        heldKey_ = 0;
        emit jogReleased();
    });

    // The pad's keys act whichever of its widgets has the focus, before that
    // widget sees them (the step box would take the arrows for itself).
    installEventFilter(this);
    for (QWidget *child : findChildren<QWidget *>())
        child->installEventFilter(this);
}

PadDialog::~PadDialog()
{
    delete ui;
}

void PadDialog::showReading(int axis, const QString &text)
{
    QLCDNumber *const readouts[] = {ui->X, ui->Y, ui->Z};
    AccessibleReadout::display(readouts[axis], text);
}

void PadDialog::setStepUnits(const QString &units)
{
    ui->label_4->setText(units.isEmpty() ? tr("&Step") : tr("&Step, %1").arg(units));
}

void PadDialog::setReadoutDigits(int digits)
{
    for (QLCDNumber *readout : {ui->X, ui->Y, ui->Z})
        readout->setDigitCount(digits);
}

void PadDialog::setReadoutsEnabled(bool enabled)
{
    for (QLCDNumber *readout : {ui->X, ui->Y, ui->Z})
        readout->setEnabled(enabled);
}

void PadDialog::setStep(int step)
{
    step_ = std::clamp(step, 1, positionMax);
    const QString text = QString::number(step_);
    const int listed = ui->comboBoxStep->findText(text);
    if (listed >= 0)
        ui->comboBoxStep->setCurrentIndex(listed);
    ui->comboBoxStep->setEditText(text);
}

void PadDialog::takeTypedStep(const QString &text)
{
    bool ok = false;
    const int step = text.toInt(&ok);
    if (ok && step >= 1 && step <= positionMax && step != step_) {
        step_ = step;
        stepChosen_ = true;
        emit settingsChanged();
    }
}

void PadDialog::loadSettings(const QVariantMap &group)
{
    bool ok = false;
    const int step = group.value(QStringLiteral("step")).toInt(&ok);
    stepChosen_ = ok && step >= 1 && step <= positionMax;
    setStep(stepChosen_ ? step : defaultStep);
    geometry_ = group.value(QStringLiteral("geometry")).toByteArray();
    if (!restoreGeometry(geometry_))
        geometry_.clear();
}

QVariantMap PadDialog::settings() const
{
    QVariantMap group;
    // A pad never used leaves the store as it was.
    if (stepChosen_)
        group.insert(QStringLiteral("step"), step_);
    // A window never shown has no place of its own yet: keep the stored one.
    const QByteArray geometry = isVisible() ? saveGeometry() : geometry_;
    if (!geometry.isEmpty())
        group.insert(QStringLiteral("geometry"), geometry);
    return group;
}

// Every way of closing the pad (Escape, its close control, the Pad action) ends here.
void PadDialog::done(int result)
{
    letGo();
    geometry_ = saveGeometry();
    QDialog::done(result);
    emit settingsChanged();
}

bool PadDialog::holdButton(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonRelease && heldButton_ >= 0) {
        letGo();
        return true;
    }
    if ((type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
        || static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
        return false;
    for (int i = 0; i < int(std::size(buttonJogs)); ++i) {
        QPushButton *button = ui->*buttonJogs[i].button;
        if (watched != button || !button->isEnabled())
            continue;
        letGo();
        heldButton_ = i;
        button->setDown(true);
        hold_->start(button->autoRepeatDelay());
        emit jogRequested(buttonJogs[i].axis, buttonJogs[i].sign * step_, false, false);
        return true;
    }
    return false;
}

void PadDialog::letGo()
{
    if (heldButton_ < 0)
        return;
    hold_->stop();
    (ui->*buttonJogs[heldButton_].button)->setDown(false);
    heldButton_ = -1;
    emit jogReleased();
}

bool PadDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (holdButton(watched, event))
        return true;
    // The step box turns under the wheel only once the operator chose it.
    if (event->type() == QEvent::Wheel && watched == ui->comboBoxStep && !ui->comboBoxStep->hasFocus())
        return true;
    // Leaving the step box with an unfinished number shows the step in force again.
    if (event->type() == QEvent::FocusOut && watched == ui->comboBoxStep->lineEdit())
        ui->comboBoxStep->setEditText(QString::number(step_));
    if (event->type() == QEvent::KeyRelease) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == heldKey_ && !key->isAutoRepeat())
            release_->start();
        return key->key() == heldKey_ || QDialog::eventFilter(watched, event);
    }
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);

    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() == haltKey) {
        emit haltRequested();
        return true;
    }
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    // Along the pipette one step a press, whatever the Shift a "+" may need;
    // a held key does not repeat it, flagged as a repeat or not (a release
    // and press pair within the repeat gap).
    if (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Equal || key->key() == Qt::Key_Minus) {
        const bool repeated = key->isAutoRepeat() || (release_->isActive() && heldKey_ == key->key());
        release_->stop();
        heldKey_ = key->key();
        if (!repeated && !(mods & ~Qt::ShiftModifier))
            emit advanceRequested(key->key() == Qt::Key_Minus ? -step_ : step_);
        return true;
    }
    if (mods & ~(Qt::ShiftModifier | Qt::ControlModifier))
        return QDialog::eventFilter(watched, event);
    for (const KeyJog &jog : keyJogs) {
        if (key->key() != jog.key)
            continue;
        int step = step_;
        if (mods == Qt::ShiftModifier)
            step = std::min(step * 10, positionMax);
        else if (mods == Qt::ControlModifier)
            step = std::max(step / 10, 1);
        // Pressed again just after its release, the key was held all along.
        const bool repeated = key->isAutoRepeat() || (release_->isActive() && heldKey_ == key->key());
        release_->stop();
        heldKey_ = key->key();
        emit jogRequested(jog.axis, jog.sign * step, repeated, true);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
