#include "journalwindow.h"

#include "journalfilter.h"
#include "journalmodel.h"
#include "ui_journalwindow.h"

JournalWindow::JournalWindow(const Journal &journal, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::JournalWindow)
    , model_(new JournalModel(journal, this))
    , filter_(new JournalFilter(this))
{
    ui->setupUi(this);
    ui->comboBoxSource->addItem(tr("All"));
    for (int s = 0; s < JournalRow::sourceCount; ++s)
        ui->comboBoxSource->addItem(JournalRow::sourceName(JournalRow::Source(s)), s);
    filter_->setSourceModel(model_);
    // Newest at the top, as the model has them; no sorting by columns.
    ui->tableView->setModel(filter_);
    // Widths from a sample of each column: measuring the cells would cost
    // every added row a pass over the rows in view.
    const QStringList samples{QStringLiteral("8888-88-88 88:88:88.888"),
                              tr("Device"),
                              tr("Follow Target (approach)"),
                              QStringLiteral("-20500 -20500 -20500"),
                              QStringLiteral("20500 20500 20500"),
                              QStringLiteral("-20500 -20500 -20500"),
                              tr("refused: Y 21000 is outside 0..20500")};
    for (int column = 0; column < samples.size(); ++column)
        ui->tableView->setColumnWidth(column, fontMetrics().horizontalAdvance(samples.at(column)) + 24);
    connect(ui->pushButtonHalt, &QPushButton::clicked, this, &JournalWindow::haltRequested);
    connect(ui->comboBoxSource, qOverload<int>(&QComboBox::currentIndexChanged), this, &JournalWindow::applyFilter);
    connect(ui->spinBoxDevice, qOverload<int>(&QSpinBox::valueChanged), this, &JournalWindow::applyFilter);
}

void JournalWindow::setCoordinates(const Coordinates *coordinates)
{
    model_->setCoordinates(coordinates);
}

JournalWindow::~JournalWindow()
{
    delete ui;
}

void JournalWindow::applyFilter()
{
    const QVariant source = ui->comboBoxSource->currentData();
    filter_->setSource(source.isValid() ? std::optional(JournalRow::Source(source.toInt())) : std::nullopt);
    const int device = ui->spinBoxDevice->value();
    filter_->setDevice(device < 0 ? std::nullopt : std::optional(device));
}
