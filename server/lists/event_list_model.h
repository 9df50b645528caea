#pragma once

#include "server/model/records.h"
#include "server/lists/top_insert_model.h"

#include <QString>

#include <vector>

// The event list: "Точка", "Событие" (source prefix and text), "Дата", "Время".
class CEventListModel final : public CTopInsertModel
{
    Q_OBJECT

public:
    explicit CEventListModel(QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    int Size() const override { return static_cast<int>(rows_.size()); }
    void Reserve(std::size_t rows) { rows_.reserve(rows); }

    // `name` is the point's name as stored; an empty one is shown as the
    // serial number, so a row costs no text of its own.
    void InsertTop(const QString& name, const T_EVENT& event);
    QString Text(int stored, int column) const;
    int IconOf(int stored) const;

protected:
    void ClearRows() override { rows_.clear(); }

private:
    struct Row
    {
        QString name;
        std::int64_t time = 0;
        std::uint32_t serial = 0;
        std::uint8_t code = 0;
        std::uint8_t source = 0;
    };

    std::vector<Row> rows_;
};
