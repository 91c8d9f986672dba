#include "positionpanel.h"

#include "positionhistory.h"
#include "statusmessages.h"
#include "targetcontrols.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

PositionPanel::PositionPanel(const Widgets &widgets, PositionModel &model, TargetControls &targets,
                             StatusMessages &messages, std::function<ActResult()> save, QObject *parent)
    : QObject(parent)
    , ui_(widgets)
    , model_(model)
    , targets_(targets)
    , messages_(messages)
    , save_(std::move(save))
    , history_(new PositionHistory(model, this))
{
    ui_.list->setModel(&model_);
    history_->bindActions(ui_.undo, ui_.redo);
    // A choice of the operator's recalls the entry, also the one the list
    // already shows, and under Follow Target sends it instead of naming it;
    // a change of the list's own recalls it without a send.
    connect(ui_.list, QOverload<int>::of(&QComboBox::activated), this, [this](int row) {
        if (!targets_.following())
            recall(row);
        else if (fill(row))
            emit sendRequested(row);
    });
    // The list itself shows the current entry's full name as its tool tip.
    connect(ui_.list, &QComboBox::currentTextChanged, ui_.list, &QWidget::setToolTip);
}

ActResult PositionPanel::store(const QString &name, PositionModel::StoreMatch match)
{
    if (!name.isEmpty() || match == PositionModel::StoreMatch::NameOnly) {
        const ActResult checked = PositionModel::checkName(name);
        if (!checked.ok()) {
            messages_.report(checked);
            return checked;
        }
    }
    const auto [x, y, z] = targets_.values();
    const PositionModel::StoreResult stored = model_.plan(name, x, y, z, match);
    const ActResult result = ActResult::done(PositionModel::describe(stored));
    // Adding the first entry selects it; that recall sends nothing.
    if (stored.changed())
        history_->store(stored, x, y, z);
    messages_.report(result);
    return stored.changed() ? save_() : result;
}

bool PositionPanel::fill(int row)
{
    if (row < 0 || row >= model_.rowCount())
        return false;
    const Position &p = model_.at(row);
    // A negative coordinate stands for the boxes' lower bound here.
    targets_.set(qMax(0, p.x), qMax(0, p.y), qMax(0, p.z));
    ui_.name->setText(p.name);
    return true;
}

void PositionPanel::recall(int row)
{
    if (fill(row))
        messages_.report(ActResult::done(tr("Position %1 restored").arg(model_.at(row).name)));
}

void PositionPanel::choose(int row)
{
    {
        const QSignalBlocker quiet(ui_.list);
        ui_.list->setCurrentIndex(row);
    }
    recall(row);
}

void PositionPanel::removeCurrent()
{
    const int row = ui_.list->currentIndex();
    if (row < 0 || row >= model_.rowCount())
        return;
    const QString name = model_.at(row).name;
    {
        const QSignalBlocker quiet(ui_.list);
        history_->remove(row);
    }
    if (!targets_.following())
        recall(ui_.list->currentIndex());
    messages_.report(ActResult::done(tr("Position %1 removed").arg(name)));
    save_();
}

void PositionPanel::step(bool back)
{
    std::optional<PositionHistory::Step> step;
    {
        const QSignalBlocker quiet(ui_.list);
        step = history_->step(back);
        if (!step)
            return;
        ui_.list->setCurrentIndex(qMin(step->row, model_.rowCount() - 1));
    }
    ui_.list->setToolTip(ui_.list->currentText());
    messages_.report(ActResult::done((back ? tr("Undone: %1") : tr("Redone: %1")).arg(step->change)));
    save_();
}
