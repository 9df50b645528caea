#include "server/lists/point_list_model.h"

#include "server/model/event_codes.h"

namespace {

const QString kNoLinkText = QStringLiteral("GPRS: нет связи");

} // namespace

CPointListModel::CPointListModel(QObject* parent)
    : CTopInsertModel({QStringLiteral("Точка"), QStringLiteral("Последнее событие")}, parent)
{
}

QVariant CPointListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const int stored = StoredRow(index.row());
    switch (role) {
    case Qt::DisplayRole: return Text(stored, index.column());
    case Qt::DecorationRole: return index.column() == 0 ? Icon(IconOf(stored)) : QVariant();
    case IconIndexRole: return index.column() == 0 ? QVariant(IconOf(stored)) : QVariant();
    case Qt::UserRole: return QVariant::fromValue<quint32>(SerialOf(stored));
    default: return {};
    }
}

int CPointListModel::InsertTop(const QString& name, std::uint32_t serial)
{
    rows_.push_back(Row{name, serial, kNoText, -1});
    const int stored = Size() - 1;
    newestRow_.insert(serial, stored);
    RowAdded();
    return stored;
}

int CPointListModel::FindRow(std::uint32_t serial) const { return newestRow_.value(serial, -1); }

void CPointListModel::SetIcon(int stored, int icon)
{
    auto& row = rows_.at(static_cast<std::size_t>(stored));
    if (row.icon == icon)
        return;
    row.icon = static_cast<std::int8_t>(icon);
    RowChanged(stored);
}

void CPointListModel::SetEvent(int stored, std::uint8_t code)
{
    auto& row = rows_.at(static_cast<std::size_t>(stored));
    const auto icon = static_cast<std::int8_t>(EventIcon(code));
    if (row.text == code && row.icon == icon)
        return;
    row.text = code;
    row.icon = icon;
    RowChanged(stored);
}

void CPointListModel::SetSilent(int stored)
{
    auto& row = rows_.at(static_cast<std::size_t>(stored));
    row.text = kSilentText;
    row.icon = ICON_SILENT;
    RowChanged(stored);
}

QString CPointListModel::Text(int stored, int column) const
{
    const auto& row = rows_.at(static_cast<std::size_t>(stored));
    if (column == 0)
        return row.name;
    if (column != 1 || row.text == kNoText)
        return {};
    if (row.text == kSilentText)
        return kNoLinkText;
    return EventText(static_cast<std::uint8_t>(row.text)).text;
}

int CPointListModel::IconOf(int stored) const { return rows_.at(static_cast<std::size_t>(stored)).icon; }

std::uint32_t CPointListModel::SerialOf(int stored) const
{
    return rows_.at(static_cast<std::size_t>(stored)).serial;
}

void CPointListModel::SetName(const QModelIndex& index, const QString& name)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return;
    const int stored = StoredRow(index.row());
    rows_.at(static_cast<std::size_t>(stored)).name = name;
    RowChanged(stored);
}

void CPointListModel::ClearRows()
{
    rows_.clear();
    newestRow_.clear();
}
