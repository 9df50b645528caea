#include "server/lists/event_list_model.h"

#include "common/format_time.h"
#include "server/model/event_codes.h"
#include "server/model/point_base.h"

CEventListModel::CEventListModel(QObject* parent)
    : CTopInsertModel({QStringLiteral("Точка"), QStringLiteral("Событие"), QStringLiteral("Дата"), QStringLiteral("Время")}, parent)
{
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
