#include "server/ui/event_list_model.h"

#include "common/format_time.h"
#include "server/model/event_codes.h"
#include "server/model/point_base.h"

int CEventListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant CEventListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case 0: return QStringLiteral("Точка");
    case 1: return QStringLiteral("Событие");
    case 2: return QStringLiteral("Дата");
    case 3: return QStringLiteral("Время");
    default: return {};
    }
}

QVariant CEventListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const int stored = StoredRow(index.row());
    switch (role) {
    case Qt::DisplayRole: return Text(stored, index.column());
    case Qt::DecorationRole: return index.column() == 0 ? Icon(IconOf(stored)) : QVariant();
    case IconIndexRole: return index.column() == 0 ? QVariant(IconOf(stored)) : QVariant();
    default: return {};
    }
}

void CEventListModel::InsertTop(const QString& name, const T_EVENT& event)
{
    rows_.push_back(Row{name, event.time, event.serial, event.code, event.source});
    RowAdded();
}

QString CEventListModel::Text(int stored, int column) const
{
    const Row& row = rows_.at(static_cast<std::size_t>(stored));
    switch (column) {
    case 0: return row.name.isEmpty() ? CPointBase::SerialName(row.serial) : row.name;
    case 1: return SourcePrefix(row.source) + EventText(row.code).text;
    case 2: return FormatTimeOrEmpty(row.time, "%d-%b-%Y");
    case 3: return FormatTimeOrEmpty(row.time, "%H:%M");
    default: return {};
    }
}

int CEventListModel::IconOf(int stored) const { return EventIcon(rows_.at(static_cast<std::size_t>(stored)).code); }
