#pragma once

#include "server/model/records.h"
#include "server/lists/top_insert_model.h"

#include <QString>

#include <vector>

// The alarm list: "Точка", "Тревога", "Время". No icons. Rows added as
// alarms arrive show the bare text; rows rebuilt from the journals carry
// the source prefix.
class CAlarmListModel final : public CTopInsertModel
{
    Q_OBJECT

public:
    explicit CAlarmListModel(QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    int Size() const override { return static_cast<int>(rows_.size()); }

    // `name` is the point's name as stored; an empty one is shown as the
    // serial number.
    void InsertTop(const QString& name, const T_EVENT& event, bool withPrefix);
    QString Text(int stored, int column) const;

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
        bool withPrefix = false;
    };

    std::vector<Row> rows_;
};
