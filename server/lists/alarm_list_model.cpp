#include "server/lists/alarm_list_model.h"

#include "common/format_time.h"
#include "server/model/event_codes.h"
#include "server/model/point_base.h"

CAlarmListModel::CAlarmListModel(QObject* parent)
    : CTopInsertModel({QStringLiteral("Точка"), QStringLiteral("Тревога"), QStringLiteral("Время")}, parent)
{
}

QVariant CAlarmListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || role != Qt::DisplayRole)
        return {};
    return Text(StoredRow(index.row()), index.column());
}

void CAlarmListModel::InsertTop(const QString& name, const T_EVENT& event, bool withPrefix)
{
    rows_.push_back(Row{name, event.time, event.serial, event.code, event.source, withPrefix});
    RowAdded();
}

QString CAlarmListModel::Text(int stored, int column) const
{
    const Row& row = rows_.at(static_cast<std::size_t>(stored));
    switch (column) {
    case 0: return row.name.isEmpty() ? CPointBase::SerialName(row.serial) : row.name;
    case 1: return (row.withPrefix ? SourcePrefix(row.source) : QString()) + EventText(row.code).text;
    case 2: return FormatTimeOrEmpty(row.time, "%d.%m %H:%M");
    default: return {};
    }
}
