#include "paddialog.h"
#include "ui_paddialog.h"

PadDialog::PadDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::PadDialog)
{
    ui->setupUi(this);
}

PadDialog::~PadDialog()
{
    delete ui;
}
