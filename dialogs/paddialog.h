#ifndef PADDIALOG_H
#define PADDIALOG_H

#include <QDialog>

namespace Ui {
class PadDialog;
}

// A separate window with large X, Y and Z captions and readouts.
class PadDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PadDialog(QWidget *parent = nullptr);
    ~PadDialog() override;

private:
    Ui::PadDialog *ui;
};

#endif // PADDIALOG_H
