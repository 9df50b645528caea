#include "server/lists/top_insert_model.h"

CTopInsertModel::CTopInsertModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers))
{
    announceTimer_.setSingleShot(true);
    announceTimer_.setInterval(kAnnounceInterval);
    connect(&announceTimer_, &QTimer::timeout, this, &CTopInsertModel::Flush);
}

int CTopInsertModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : announced_;
}

int CTopInsertModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant CTopInsertModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= headers_.size())
        return {};
    return headers_.at(section);
}

void CTopInsertModel::SetIcons(std::vector<QIcon> icons)
{
    icons_ = std::move(icons);
    if (announced_ > 0)
        emit dataChanged(index(0, 0), index(announced_ - 1, 0), {Qt::DecorationRole});
}

int CTopInsertModel::DisplayRow(int stored) const
{
    return stored < announced_ ? announced_ - 1 - stored : -1;
}

void CTopInsertModel::RowAdded()
{
    if (!rebuilding_ && !announceTimer_.isActive())
        announceTimer_.start();
}

void CTopInsertModel::RowChanged(int stored)
{
    if (rebuilding_ || stored >= announced_)
        return; // shown with its final content when it is announced
    if (dirtyFirst_ < 0 || stored < dirtyFirst_)
        dirtyFirst_ = stored;
    if (stored > dirtyLast_)
        dirtyLast_ = stored;
    if (!announceTimer_.isActive())
        announceTimer_.start();
}

void CTopInsertModel::FlushChanges()
{
    if (dirtyFirst_ < 0)
        return;
    const int top = DisplayRow(dirtyLast_);
    const int bottom = DisplayRow(dirtyFirst_);
    dirtyFirst_ = dirtyLast_ = -1;
    emit dataChanged(index(top, 0), index(bottom, columnCount() - 1));
}

void CTopInsertModel::Flush()
{
    announceTimer_.stop();
    FlushChanges();
    const int size = Size();
    if (size > announced_) {
        beginInsertRows(QModelIndex(), 0, size - announced_ - 1);
        announced_ = size;
        endInsertRows();
    }
}

void CTopInsertModel::Clear()
{
    beginResetModel();
    ClearRows();
    announced_ = 0;
    dirtyFirst_ = dirtyLast_ = -1;
    announceTimer_.stop();
    endResetModel();
}

void CTopInsertModel::BeginRebuild()
{
    beginResetModel();
    rebuilding_ = true;
    ClearRows();
    announced_ = 0;
    dirtyFirst_ = dirtyLast_ = -1;
    announceTimer_.stop();
}

void CTopInsertModel::EndRebuild()
{
    rebuilding_ = false;
    announced_ = Size();
    endResetModel();
}

QVariant CTopInsertModel::Icon(int position) const
{
    if (position < 0 || static_cast<std::size_t>(position) >= icons_.size())
        return {};
    return icons_[static_cast<std::size_t>(position)];
}
