#ifndef FULLTEXTTOOLTIPMODEL_H
#define FULLTEXTTOOLTIPMODEL_H

#include <QStandardItemModel>

// An item model whose items show their full text as their tool tip, for a
// list too narrow for its longest texts.
class FullTextToolTipModel : public QStandardItemModel
{
public:
    using QStandardItemModel::QStandardItemModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        return QStandardItemModel::data(index, role == Qt::ToolTipRole ? Qt::DisplayRole : role);
    }
};

#endif // FULLTEXTTOOLTIPMODEL_H
