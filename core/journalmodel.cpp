#include "journalmodel.h"

#include "coordinates.h"
#include "journal.h"

#include <QDateTime>

#include <algorithm>

JournalModel::JournalModel(const Journal &journal, QObject *parent)
    : QAbstractTableModel(parent)
    , journal_(journal)
    , newest_(journal.newestId())
    , count_(journal.size())
{
    showTimer_.setSingleShot(true);
    showTimer_.setInterval(showInterval);
    connect(&showTimer_, &QTimer::timeout, this, &JournalModel::showNewRows);
    connect(&journal, &Journal::rowAdded, &showTimer_, [this] {
        if (!showTimer_.isActive())
            showTimer_.start();
    });
    connect(&journal, &Journal::rowChanged, this, &JournalModel::change);
}

int JournalModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count_;
}

int JournalModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const JournalRow *JournalModel::rowAt(int row) const
{
    return row >= 0 && row < count_ ? journal_.row(newest_ - quint64(row)) : nullptr;
}

void JournalModel::setCoordinates(const Coordinates *coordinates)
{
    coordinates_ = coordinates;
    if (coordinates_)
        connect(coordinates_, &Coordinates::changed, this, [this] {
            if (count_ > 0)
                emit dataChanged(index(0, Before), index(count_ - 1, End));
            emit headerDataChanged(Qt::Horizontal, Before, Distance);
        });
}

QString JournalModel::cellText(const JournalRow &row, int column, const Coordinates *coordinates)
{
    const bool micrometres = coordinates && coordinates->units() == DeviceFrame::Units::Micrometres;
    const auto xyzText = [&](const std::optional<JournalRow::Xyz> &xyz) {
        if (!micrometres || !xyz)
            return JournalRow::xyzText(xyz);
        const DeviceFrame frame = coordinates->frame(row.device);
        QStringList texts;
        for (int axis = 0; axis < 3; ++axis)
            texts << frame.lengthText(axis, xyz->at(axis), DeviceFrame::Units::Micrometres);
        return texts.join(QLatin1Char(' '));
    };
    switch (column) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(row.timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    case Device:
        return QString::number(row.device);
    case Source:
        return row.stage.isEmpty() ? JournalRow::sourceName(row.source)
                                   : tr("%1 (%2)").arg(JournalRow::sourceName(row.source), row.stage);
    case Before:
        return xyzText(row.before);
    case Target:
        return xyzText(row.target);
    case Distance:
        return xyzText(row.distance());
    case Outcome:
        return row.message.isEmpty() ? JournalRow::outcomeName(row.outcome)
                                     : tr("%1: %2").arg(JournalRow::outcomeName(row.outcome), row.message);
    case End:
        switch (row.end) {
        case JournalRow::End::Open:
            return QString();
        case JournalRow::End::Arrived:
            return JournalRow::endName(row.end);
        case JournalRow::End::StoppedShort:
        case JournalRow::End::Halted:
            return tr("%1 at %2").arg(JournalRow::endName(row.end), xyzText(row.at));
        }
    }
    return QString();
}

QVariant JournalModel::data(const QModelIndex &index, int role) const
{
    const JournalRow *row = index.isValid() ? rowAt(index.row()) : nullptr;
    if (!row)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return cellText(*row, index.column(), coordinates_);
    case SourceRole:
        return int(row->source);
    case DeviceRole:
        return row->device;
    case OutcomeRole:
        return int(row->outcome);
    case IdRole:
        return qulonglong(row->id);
    default:
        return QVariant();
    }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Time:
        return tr("Time");
    case Device:
        return tr("Device");
    case Source:
        return tr("Source");
    case Before:
    case Target:
    case Distance: {
        const QString name = section == Before ? tr("Before") : section == Target ? tr("Target") : tr("Distance");
        const bool micrometres = coordinates_ && coordinates_->units() == DeviceFrame::Units::Micrometres;
        return micrometres ? tr("%1, µm").arg(name) : name;
    }
    case Outcome:
        return tr("Outcome");
    case End:
        return tr("End");
    }
    return QVariant();
}

void JournalModel::showNewRows()
{
    const int added = int(std::min<quint64>(journal_.newestId() - newest_, quint64(journal_.capacity())));
    if (added == 0)
        return;
    // The rows the journal dropped to make room leave the bottom first.
    const int dropped = std::max(0, count_ + added - journal_.capacity());
    if (dropped > 0) {
        beginRemoveRows(QModelIndex(), count_ - dropped, count_ - 1);
        count_ -= dropped;
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), 0, added - 1);
    newest_ = journal_.newestId();
    count_ += added;
    endInsertRows();
}

void JournalModel::change(const JournalRow &row)
{
    if (row.id > newest_ || newest_ - row.id >= quint64(count_))
        return;
    const int r = int(newest_ - row.id);
    emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
}
